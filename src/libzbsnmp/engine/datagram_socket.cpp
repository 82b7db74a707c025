/* The engine's datagram sockets: non-blocking, unconnected, one per address
   family, with batched sends and receives where the system has them
   (sendmmsg/recvmmsg on Linux), and compact agent addresses. */
#include "engine/engine.h"

#include <errno.h>
#include <string.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define CloseSocket closesocket
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>
#define CloseSocket close
#endif

uint64_t ZbMonotonicMicros()
{
#ifdef _WIN32
   // The performance counter, not GetTickCount64: the tick count moves in
   // steps of the system timer (about 15.6 ms), which would fire time-outs
   // and retransmissions up to one step early.
   /* The frequency is fixed at boot: read once. */
   static const uint64_t f = [] {
      LARGE_INTEGER frequency;
      QueryPerformanceFrequency(&frequency);
      return (uint64_t)frequency.QuadPart;
   }();
   LARGE_INTEGER counter;
   QueryPerformanceCounter(&counter);
   uint64_t c = (uint64_t)counter.QuadPart;
   return c / f * 1000000 + c % f * 1000000 / f;
#else
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return (uint64_t)ts.tv_sec * 1000000 + (uint64_t)ts.tv_nsec / 1000;
#endif
}

int ZbAgentFromSockaddr(const struct sockaddr *sa, socklen_t length, ZbAgentAddress *address)
{
   if (sa == nullptr)
      return 0;
   memset(address, 0, sizeof(*address));
   if (sa->sa_family == AF_INET && length >= (socklen_t)sizeof(struct sockaddr_in))
   {
      const struct sockaddr_in *in = (const struct sockaddr_in *)sa;
      address->family = 4;
      address->port = in->sin_port;
      memcpy(address->addr, &in->sin_addr, 4);
      return 1;
   }
   if (sa->sa_family == AF_INET6 && length >= (socklen_t)sizeof(struct sockaddr_in6))
   {
      const struct sockaddr_in6 *in6 = (const struct sockaddr_in6 *)sa;
      address->family = 6;
      address->port = in6->sin6_port;
      address->scope = in6->sin6_scope_id;
      memcpy(address->addr, &in6->sin6_addr, 16);
      return 1;
   }
   return 0;
}

socklen_t ZbAgentToSockaddr(const ZbAgentAddress *address, struct sockaddr_storage *sa)
{
   memset(sa, 0, sizeof(*sa));
   if (address->family == 4)
   {
      struct sockaddr_in *in = (struct sockaddr_in *)sa;
      in->sin_family = AF_INET;
      in->sin_port = address->port;
      memcpy(&in->sin_addr, address->addr, 4);
      return (socklen_t)sizeof(*in);
   }
   struct sockaddr_in6 *in6 = (struct sockaddr_in6 *)sa;
   in6->sin6_family = AF_INET6;
   in6->sin6_port = address->port;
   in6->sin6_scope_id = address->scope;
   memcpy(&in6->sin6_addr, address->addr, 16);
   return (socklen_t)sizeof(*in6);
}

bool ZbAgentEqual(const ZbAgentAddress *a, const ZbAgentAddress *b)
{
   return memcmp(a, b, sizeof(*a)) == 0;
}

ZbDatagramSocket::~ZbDatagramSocket()
{
   Close();
}

void ZbDatagramSocket::Close()
{
   if (m_socket != SNMP_INVALID_SOCKET)
      CloseSocket(m_socket);
   m_socket = SNMP_INVALID_SOCKET;
}

#ifndef __linux__
static int LastError()
{
#ifdef _WIN32
   int e = WSAGetLastError();
   return (e == WSAEWOULDBLOCK) ? EAGAIN : (e == WSAENOBUFS) ? ENOBUFS : e;
#else
   return errno;
#endif
}
#endif

int ZbDatagramSocket::Open(int family)
{
   Close();
   SNMP_SOCKET s = socket(family, SOCK_DGRAM, 0);
   if (s == SNMP_INVALID_SOCKET)
      return 0;
#ifdef _WIN32
   u_long nonBlocking = 1;
   bool ok = ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
#else
   int fl = fcntl(s, F_GETFL, 0);
   bool ok = fl >= 0 && fcntl(s, F_SETFL, fl | O_NONBLOCK) == 0 &&
             fcntl(s, F_SETFD, FD_CLOEXEC) == 0;
#endif
   if (family == AF_INET6)
   {
      /* IPv4 agents go through the IPv4 socket. */
      int only = 1;
      setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, (const char *)&only, sizeof(only));
   }
   /* Answers of thousands of agents arrive in bursts: a large receive buffer
      keeps the kernel from dropping them while the engine is busy. The
      system may cap it (net.core.rmem_max); what it grants is enough. */
   int size = 4 * 1024 * 1024;
   setsockopt(s, SOL_SOCKET, SO_RCVBUF, (const char *)&size, sizeof(size));
   setsockopt(s, SOL_SOCKET, SO_SNDBUF, (const char *)&size, sizeof(size));
   struct sockaddr_storage any;
   memset(&any, 0, sizeof(any));
   any.ss_family = (unsigned short)family;
   socklen_t anyLength = (family == AF_INET) ? (socklen_t)sizeof(struct sockaddr_in)
                                             : (socklen_t)sizeof(struct sockaddr_in6);
   if (!ok || bind(s, (struct sockaddr *)&any, anyLength) != 0)
   {
      CloseSocket(s);
      return 0;
   }
   m_socket = s;
   m_family = family;
   return 1;
}

uint32_t ZbDatagramSocket::Send(const ZbDatagram *datagrams, uint32_t count, int *error)
{
   *error = 0;
   uint32_t sent = 0;
#if defined(__linux__)
   while (sent < count)
   {
      struct mmsghdr msgs[ZB_DATAGRAM_BATCH];
      struct iovec iov[ZB_DATAGRAM_BATCH];
      struct sockaddr_storage to[ZB_DATAGRAM_BATCH];
      uint32_t n = (count - sent < ZB_DATAGRAM_BATCH) ? count - sent : ZB_DATAGRAM_BATCH;
      for (uint32_t i = 0; i < n; i++)
      {
         const ZbDatagram *d = &datagrams[sent + i];
         iov[i].iov_base = (void *)d->data;
         iov[i].iov_len = d->length;
         memset(&msgs[i], 0, sizeof(msgs[i]));
         msgs[i].msg_hdr.msg_name = &to[i];
         msgs[i].msg_hdr.msg_namelen = ZbAgentToSockaddr(&d->agent, &to[i]);
         msgs[i].msg_hdr.msg_iov = &iov[i];
         msgs[i].msg_hdr.msg_iovlen = 1;
      }
      int r = sendmmsg(m_socket, msgs, n, MSG_DONTWAIT);
      if (r < 0)
      {
         if (errno == EINTR)
            continue;
         *error = errno;
         return sent;
      }
      sent += (uint32_t)r;
      if ((uint32_t)r < n)
      {
         /* The system stopped inside the batch: sending the next one alone
            tells why (or sends it). */
         continue;
      }
   }
#else
   for (; sent < count; sent++)
   {
      const ZbDatagram *d = &datagrams[sent];
      struct sockaddr_storage to;
      socklen_t toLength = ZbAgentToSockaddr(&d->agent, &to);
#ifdef _WIN32
      int r = sendto(m_socket, (const char *)d->data, (int)d->length, 0, (struct sockaddr *)&to,
                     (int)toLength);
#else
      ssize_t r = sendto(m_socket, d->data, d->length, MSG_DONTWAIT, (struct sockaddr *)&to,
                         toLength);
#endif
      if (r < 0)
      {
         *error = LastError();
         if (*error == EINTR)
         {
            sent--;
            continue;
         }
         return sent;
      }
   }
#endif
   return sent;
}

uint32_t ZbDatagramSocket::Receive(uint8_t *buffers, ZbDatagram *datagrams, uint32_t count,
                                   int *error)
{
   *error = 0;
   if (count > ZB_DATAGRAM_BATCH)
      count = ZB_DATAGRAM_BATCH;
   struct sockaddr_storage from[ZB_DATAGRAM_BATCH];
#if defined(__linux__)
   struct mmsghdr msgs[ZB_DATAGRAM_BATCH];
   struct iovec iov[ZB_DATAGRAM_BATCH];
   for (uint32_t i = 0; i < count; i++)
   {
      iov[i].iov_base = buffers + (size_t)i * ZB_DATAGRAM_SIZE;
      iov[i].iov_len = ZB_DATAGRAM_SIZE;
      memset(&msgs[i], 0, sizeof(msgs[i]));
      msgs[i].msg_hdr.msg_name = &from[i];
      msgs[i].msg_hdr.msg_namelen = sizeof(from[i]);
      msgs[i].msg_hdr.msg_iov = &iov[i];
      msgs[i].msg_hdr.msg_iovlen = 1;
   }
   int r;
   do
      r = recvmmsg(m_socket, msgs, count, MSG_DONTWAIT, nullptr);
   while (r < 0 && errno == EINTR);
   if (r < 0)
   {
      if (errno != EAGAIN && errno != EWOULDBLOCK)
         *error = errno;
      return 0;
   }
   uint32_t kept = 0;
   for (uint32_t i = 0; i < (uint32_t)r; i++)
   {
      /* A datagram cut to the buffer is not a whole message. */
      if (msgs[i].msg_hdr.msg_flags & MSG_TRUNC)
         continue;
      ZbDatagram *d = &datagrams[kept];
      d->data = (const uint8_t *)iov[i].iov_base;
      d->length = msgs[i].msg_len;
      if (ZbAgentFromSockaddr((struct sockaddr *)&from[i], msgs[i].msg_hdr.msg_namelen, &d->agent))
         kept++;
   }
   return kept;
#else
   uint32_t kept = 0;
   for (uint32_t i = 0; i < count; i++)
   {
      uint8_t *buffer = buffers + (size_t)kept * ZB_DATAGRAM_SIZE;
      socklen_t fromLength = sizeof(from[0]);
#ifdef _WIN32
      int fl = (int)fromLength;
      int r = recvfrom(m_socket, (char *)buffer, ZB_DATAGRAM_SIZE, 0, (struct sockaddr *)&from[0], &fl);
      fromLength = (socklen_t)fl;
#else
      ssize_t r = recvfrom(m_socket, buffer, ZB_DATAGRAM_SIZE, MSG_DONTWAIT,
                           (struct sockaddr *)&from[0], &fromLength);
#endif
      if (r < 0)
      {
         int e = LastError();
#ifdef _WIN32
         if (WSAGetLastError() == WSAEMSGSIZE || WSAGetLastError() == WSAECONNRESET)
            continue; /* an oversized datagram, or an ICMP report: nothing to keep */
#endif
         if (e == EINTR)
            continue;
         if (e != EAGAIN && e != EWOULDBLOCK)
            *error = e;
         break;
      }
      ZbDatagram *d = &datagrams[kept];
      d->data = buffer;
      d->length = (uint32_t)r;
      if (ZbAgentFromSockaddr((struct sockaddr *)&from[0], fromLength, &d->agent))
         kept++;
   }
   return kept;
#endif
}
