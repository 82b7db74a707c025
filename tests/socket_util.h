// Loopback UDP sockets for the transport tests (POSIX and Winsock).
#ifndef ZBSNMP_SOCKET_UTIL_H
#define ZBSNMP_SOCKET_UTIL_H

#include <string.h>

#include "zbsnmp.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
inline void CloseSock(SNMP_SOCKET s) { closesocket(s); }
struct SocketsStartup
{
   SocketsStartup()
   {
      WSADATA d;
      WSAStartup(MAKEWORD(2, 2), &d);
   }
};
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
inline void CloseSock(SNMP_SOCKET s) { close(s); }
struct SocketsStartup
{
};
#endif

// A UDP socket bound to 127.0.0.1 on a free port.
inline SNMP_SOCKET BoundSocket(uint16_t *port)
{
   SNMP_SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
   bind(s, (struct sockaddr *)&sa, sizeof(sa));
   socklen_t len = sizeof(sa);
   getsockname(s, (struct sockaddr *)&sa, &len);
   *port = ntohs(sa.sin_port);
   return s;
}

inline void SendTo(SNMP_SOCKET s, uint16_t port, const void *data, size_t len)
{
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
   sa.sin_port = htons(port);
   sendto(s, (const char *)data, (int)len, 0, (struct sockaddr *)&sa, sizeof(sa));
}

#endif
