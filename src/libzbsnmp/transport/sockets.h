/* Platform sockets of the UDP transport: POSIX, or Winsock on Windows. */
#ifndef ZBSNMP_TRANSPORT_SOCKETS_H
#define ZBSNMP_TRANSPORT_SOCKETS_H

#include "internal.h"

#include <stdio.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define CloseSocket closesocket
typedef int SockLen;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#define CloseSocket close
typedef socklen_t SockLen;
#endif

/* Encodes the PDU and sends it as one datagram on the socket: to the given
   address, or to the connected peer when to is NULL. Returns the bytes sent,
   0 when the PDU does not encode (nothing sent), negative when the send
   fails. */
int ZbSendPdu(SNMP_SOCKET socket, SNMP_PDU *pdu, const struct sockaddr *to, socklen_t toLen);
/* Sends length bytes as one datagram, as ZbSendPdu; frees nothing. */
int ZbSendBytes(SNMP_SOCKET socket, const uint8_t *data, uint32_t length,
                const struct sockaddr *to, socklen_t toLen);

#endif
