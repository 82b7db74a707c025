// Loopback UDP sockets for the transport tests (POSIX and Winsock).
#ifndef ZBSNMP_SOCKET_UTIL_H
#define ZBSNMP_SOCKET_UTIL_H

#include <stdlib.h>
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

// A UDP socket bound to ::1 on a free port; SNMP_INVALID_SOCKET where the
// machine has no IPv6 loopback.
inline SNMP_SOCKET BoundSocket6(uint16_t *port)
{
   SNMP_SOCKET s = socket(AF_INET6, SOCK_DGRAM, 0);
   if (s == SNMP_INVALID_SOCKET)
      return s;
   struct sockaddr_in6 sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin6_family = AF_INET6;
   sa.sin6_addr.s6_addr[15] = 1;  // ::1
   socklen_t len = sizeof(sa);
   if (bind(s, (struct sockaddr *)&sa, sizeof(sa)) != 0 ||
       getsockname(s, (struct sockaddr *)&sa, &len) != 0)
   {
      CloseSock(s);
      return SNMP_INVALID_SOCKET;
   }
   *port = ntohs(sa.sin6_port);
   return s;
}

inline bool HaveIpv6Loopback()
{
   uint16_t port;
   SNMP_SOCKET s = BoundSocket6(&port);
   if (s == SNMP_INVALID_SOCKET)
      return false;
   CloseSock(s);
   return true;
}

// Skips the test where the machine has no IPv6 loopback, unless
// ZBSNMP_REQUIRE_PEERS is set (as in CI), where that is a failure. Under Wine
// (the Windows build's tests) a missing one is always a skip: the Linux
// build is the one that must show IPv6 working.
#ifdef _WIN32
#define ZBSNMP_IPV6_REQUIRED false
#else
#define ZBSNMP_IPV6_REQUIRED (getenv("ZBSNMP_REQUIRE_PEERS") != nullptr)
#endif
#define REQUIRE_IPV6_LOOPBACK()                                                        \
   do                                                                                  \
   {                                                                                   \
      if (!HaveIpv6Loopback())                                                         \
      {                                                                                \
         if (ZBSNMP_IPV6_REQUIRED)                                                     \
            FAIL() << "an IPv6 loopback (::1) is required (ZBSNMP_REQUIRE_PEERS is set)"; \
         GTEST_SKIP() << "this machine has no IPv6 loopback (::1)";                    \
      }                                                                                \
   } while (0)

#endif
