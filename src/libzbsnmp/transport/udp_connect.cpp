/* SNMP_UDPTransport::ConnectUDPTransport: an agent given by host name or
   address text of either family, IPv4 or IPv6. */
#include "transport/sockets.h"

#include <string.h>

/* A host text holds the characters of host names (letters, digits, '-', '_'
   and dots) and of IPv6 address texts (hex digits, ':' and dots). Brackets,
   blanks, '%' zones and anything else are refused before a look-up. */
static bool PlausibleHost(const char *host)
{
   if (host == nullptr || *host == 0)
      return false;
   for (const char *p = host; *p; p++)
   {
      char ch = *p;
      bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                ch == '-' || ch == '_' || ch == '.' || ch == ':';
      if (!ok)
         return false;
   }
   return true;
}

/* The unspecified addresses (0.0.0.0, ::) and the IPv4 broadcast address
   name no agent. */
static bool UsableAddress(const struct addrinfo *ai)
{
   if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(struct sockaddr_in))
   {
      uint32_t a = ntohl(((const struct sockaddr_in *)ai->ai_addr)->sin_addr.s_addr);
      return a != 0 && a != 0xFFFFFFFFU;
   }
   if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(struct sockaddr_in6))
   {
      static const uint8_t any[16] = {0};
      return memcmp(&((const struct sockaddr_in6 *)ai->ai_addr)->sin6_addr, any, 16) != 0;
   }
   return false;
}

uint32_t SNMP_UDPTransport::ConnectUDPTransport(const char *host, uint16_t port, int family)
{
   if (!PlausibleHost(host) || (family != AF_UNSPEC && family != AF_INET && family != AF_INET6))
      return SNMP_RC_BAD_HOSTNAME;
   struct addrinfo hints;
   memset(&hints, 0, sizeof(hints));
   hints.ai_family = family;
   hints.ai_socktype = SOCK_DGRAM;
   hints.ai_protocol = IPPROTO_UDP;
   /* A text with a colon can only be an IPv6 address: never a name to look up. */
   if (strchr(host, ':') != nullptr)
      hints.ai_flags |= AI_NUMERICHOST;
   char service[8];
   snprintf(service, sizeof(service), "%u", (unsigned)port);
   hints.ai_flags |= AI_NUMERICSERV;
   struct addrinfo *result = nullptr;
   if (getaddrinfo(host, service, &hints, &result) != 0 || result == nullptr)
      return SNMP_RC_BAD_HOSTNAME;
   bool usable = false;
   for (struct addrinfo *ai = result; ai != nullptr && !usable; ai = ai->ai_next)
      usable = UsableAddress(ai);
   if (!usable)
   {
      freeaddrinfo(result);
      return SNMP_RC_BAD_HOSTNAME;
   }

   /* A transport that already holds a socket gives it up for the new one. */
   if (m_socket != SNMP_INVALID_SOCKET)
      CloseSocket(m_socket);
   m_socket = SNMP_INVALID_SOCKET;
   ClearBuffer();
   /* The addresses in the order the resolver gives them; the first whose
      socket connects wins (a family without a route fails to connect). */
   for (struct addrinfo *ai = result; ai != nullptr; ai = ai->ai_next)
   {
      if (!UsableAddress(ai))
         continue;
      SNMP_SOCKET s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
      if (s == SNMP_INVALID_SOCKET)
         continue;
      if (connect(s, ai->ai_addr, (SockLen)ai->ai_addrlen) == 0)
      {
         m_socket = s;
         break;
      }
      CloseSocket(s);
   }
   freeaddrinfo(result);
   return (m_socket != SNMP_INVALID_SOCKET) ? SNMP_RC_SUCCESS : SNMP_RC_SOCKET_ERROR;
}
