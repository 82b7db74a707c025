/* SNMP_UDPTransport: SNMP messages over an IPv4 UDP socket, with a receive
   buffer that joins and splits messages by their outer BER header. */
#include "transport/sockets.h"

#include <string.h>

#define UDP_BUFFER_SIZE 32768

SNMP_UDPTransport::SNMP_UDPTransport()
    : m_socket(SNMP_INVALID_SOCKET), m_bufferSize(UDP_BUFFER_SIZE), m_bytesHeld(0),
      m_startOffset(0), m_buffer((uint8_t *)malloc(UDP_BUFFER_SIZE))
{
}

SNMP_UDPTransport::SNMP_UDPTransport(SNMP_SOCKET socket) : SNMP_UDPTransport()
{
   m_socket = socket;
}

SNMP_UDPTransport::~SNMP_UDPTransport()
{
   free(m_buffer);
   if (m_socket != SNMP_INVALID_SOCKET)
      CloseSocket(m_socket);
}

/* IPv4 address (network order) of a host name; 0 when the look-up fails. */
static uint32_t ResolveHost(const char *hostName)
{
   struct addrinfo hints;
   memset(&hints, 0, sizeof(hints));
   hints.ai_family = AF_INET;
   hints.ai_socktype = SOCK_DGRAM;
   struct addrinfo *result = nullptr;
   uint32_t addr = 0;
   if (getaddrinfo(hostName, nullptr, &hints, &result) == 0 && result != nullptr)
   {
      for (struct addrinfo *ai = result; ai != nullptr; ai = ai->ai_next)
      {
         if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(struct sockaddr_in))
         {
            addr = ((struct sockaddr_in *)ai->ai_addr)->sin_addr.s_addr;
            break;
         }
      }
      freeaddrinfo(result);
   }
   if (addr == 0)
      addr = (uint32_t)inet_addr(hostName);
   return addr;
}

uint32_t SNMP_UDPTransport::CreateUDPTransport(const char *hostName, uint32_t ipAddr,
                                               uint16_t port)
{
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_port = htons(port);
   uint32_t addr = (hostName != nullptr) ? ResolveHost(hostName) : ipAddr;
   if (addr == 0 || addr == 0xFFFFFFFFU)
      return SNMP_RC_BAD_HOSTNAME;
   sa.sin_addr.s_addr = addr;

   /* A transport that already holds a socket gives it up for the new one. */
   if (m_socket != SNMP_INVALID_SOCKET)
      CloseSocket(m_socket);
   ClearBuffer();
   m_socket = socket(AF_INET, SOCK_DGRAM, 0);
   if (m_socket == SNMP_INVALID_SOCKET)
      return SNMP_RC_SOCKET_ERROR;
   if (connect(m_socket, (struct sockaddr *)&sa, sizeof(sa)) != 0)
   {
      CloseSocket(m_socket);
      m_socket = SNMP_INVALID_SOCKET;
      return SNMP_RC_SOCKET_ERROR;
   }
   return SNMP_RC_SUCCESS;
}

void SNMP_UDPTransport::ClearBuffer()
{
   m_bytesHeld = 0;
   m_startOffset = 0;
}

int SNMP_UDPTransport::RecvData(uint32_t timeout, struct sockaddr *sender, socklen_t *senderLen)
{
   if (m_socket == SNMP_INVALID_SOCKET || m_buffer == nullptr)
      return -1;
   if (timeout != 0xFFFFFFFFU)
   {
#ifdef _WIN32
      WSAPOLLFD pfd;
      pfd.fd = m_socket;
      pfd.events = POLLRDNORM;
      pfd.revents = 0;
      int ready = WSAPoll(&pfd, 1, (timeout > 0x7FFFFFFF) ? 0x7FFFFFFF : (INT)timeout);
#else
      struct pollfd pfd;
      pfd.fd = m_socket;
      pfd.events = POLLIN;
      pfd.revents = 0;
      int ready = poll(&pfd, 1, (timeout > 0x7FFFFFFF) ? 0x7FFFFFFF : (int)timeout);
#endif
      if (ready <= 0)
         return 0;
   }
   uint32_t freeSpace = m_bufferSize - m_startOffset - m_bytesHeld;
   char *dest = (char *)m_buffer + m_startOffset + m_bytesHeld;
#ifdef _WIN32
   SockLen len = (senderLen != nullptr) ? (SockLen)*senderLen : 0;
   int received = recvfrom(m_socket, dest, (int)freeSpace, 0, sender,
                           (senderLen != nullptr) ? &len : nullptr);
   if (senderLen != nullptr && received >= 0)
      *senderLen = (socklen_t)len;
   /* A datagram larger than the space fails with WSAEMSGSIZE: negative. */
   return received;
#else
   /* MSG_TRUNC makes Linux report the datagram's real size, so a datagram
      larger than the free space is recognised instead of silently cut. */
   ssize_t received = recvfrom(m_socket, dest, freeSpace, MSG_TRUNC, sender, senderLen);
   if (received < 0)
      return -1;
   if ((size_t)received > freeSpace)
      return -1;
   return (int)received;
#endif
}

uint32_t SNMP_UDPTransport::PreParsePDU()
{
   uint32_t type, length, headerSize;
   const uint8_t *content;
   if (!BerReadHeader(m_buffer + m_startOffset, m_bytesHeld, &type, &length, &content,
                      &headerSize))
      return 0;
   if (type != ASN_TYPE_SEQUENCE)
      return 0;
   /* Formed without overflow: an enormous length stays beyond the buffer. */
   if (length > 0xFFFFFFFFU - headerSize)
      return 0xFFFFFFFFU;
   return headerSize + length;
}

int SNMP_UDPTransport::Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                            socklen_t *senderLen)
{
   if (pdu == nullptr)
      return -1;
   if (m_bytesHeld < 2)
   {
      int received = RecvData(timeout, sender, senderLen);
      if (received <= 0)
      {
         ClearBuffer();
         return received;
      }
      m_bytesHeld += (uint32_t)received;
   }

   uint32_t total = PreParsePDU();
   /* A message larger than the whole buffer can never be held: drop what is
      held at once rather than swallow the datagrams that follow. */
   if (total == 0 || total > m_bufferSize)
   {
      ClearBuffer();
      return 0;
   }
   if (total > m_bufferSize - m_startOffset)
   {
      memmove(m_buffer, m_buffer + m_startOffset, m_bytesHeld);
      m_startOffset = 0;
   }
   while (m_bytesHeld < total)
   {
      int received = RecvData(timeout, sender, senderLen);
      if (received <= 0)
      {
         ClearBuffer();
         return received;
      }
      m_bytesHeld += (uint32_t)received;
   }

   SNMP_PDU *parsed = new SNMP_PDU();
   if (!parsed->Parse(m_buffer + m_startOffset, total))
   {
      delete parsed;
      parsed = nullptr;
   }
   *pdu = parsed;

   m_bytesHeld -= total;
   m_startOffset = (m_bytesHeld == 0) ? 0 : m_startOffset + total;
   return (int)total;
}

int SNMP_UDPTransport::Send(SNMP_PDU *pdu)
{
   return ZbSendPdu(m_socket, pdu, nullptr, 0);
}
