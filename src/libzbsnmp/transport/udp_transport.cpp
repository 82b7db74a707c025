/* SNMP_UDPTransport: SNMP messages over a UDP socket of either family. Every
   datagram is taken alone: it carries exactly one message (RFC 3417
   section 3). */
#include "transport/sockets.h"

#include <string.h>

#include <new>

#include "security/v3_listener.h"

#define UDP_BUFFER_SIZE 32768
/* One octet beyond the largest datagram taken in: a datagram that reaches it
   is too large, whether the system cut it short or reported its real size. */
#define UDP_RECEIVE_SPACE (UDP_BUFFER_SIZE + 1)

/* Without its buffer (the allocation failed) a transport fails every Read. */
SNMP_UDPTransport::SNMP_UDPTransport()
    : m_socket(SNMP_INVALID_SOCKET), m_bufferSize(UDP_BUFFER_SIZE), m_bytesHeld(0),
      m_startOffset(0), m_buffer((uint8_t *)malloc(UDP_RECEIVE_SPACE)), m_listener(nullptr)
{
}

SNMP_UDPTransport::SNMP_UDPTransport(SNMP_SOCKET socket) : SNMP_UDPTransport()
{
   m_socket = socket;
}

SNMP_UDPTransport::~SNMP_UDPTransport()
{
   ZbV3ListenerFree(m_listener);
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
   /* The sender is asked for only when there is both room and its size. */
   if (sender == nullptr || senderLen == nullptr)
   {
      sender = nullptr;
      senderLen = nullptr;
   }
   /* The datagram lands at the start of the buffer, and the receive is given
      one octet more than the largest datagram taken in. What we rely on:
      recvfrom never stores more than the space given, and a datagram larger
      than that space fails (Winsock: WSAEMSGSIZE), comes back cut to the
      whole space (POSIX), or reports its real size (Linux, MSG_TRUNC). Its
      result is then negative or above m_bufferSize, never the size of a
      datagram that fits: a datagram of exactly m_bufferSize octets is taken,
      and no larger one is mistaken for a shorter one. */
#ifdef _WIN32
   SockLen len = (senderLen != nullptr) ? (SockLen)*senderLen : 0;
   int received = recvfrom(m_socket, (char *)m_buffer, (int)m_bufferSize + 1, 0, sender,
                           (senderLen != nullptr) ? &len : nullptr);
   if (senderLen != nullptr && received >= 0)
      *senderLen = (socklen_t)len;
#else
#if defined(__linux__)
   const int flags = MSG_TRUNC;
#else
   const int flags = 0;
#endif
   ssize_t received = recvfrom(m_socket, m_buffer, (size_t)m_bufferSize + 1, flags, sender,
                               senderLen);
#endif
   if (received < 0 || (size_t)received > m_bufferSize)
      return -1;
   return (int)received;
}

uint32_t SNMP_UDPTransport::PreParsePDU()
{
   /* X.690 8.1: the datagram must begin with one whole SEQUENCE element;
      octets after it are not ours (one message per datagram). */
   BerCursor held = {m_buffer + m_startOffset, m_bytesHeld};
   BerCursor message;
   uint32_t type;
   if (!BerGetElement(&held, &type, &message) || type != ASN_TYPE_SEQUENCE)
      return 0;
   return m_bytesHeld - held.left;
}

int SNMP_UDPTransport::Read(SNMP_PDU **pdu, uint32_t timeout, struct sockaddr *sender,
                            socklen_t *senderLen)
{
   if (pdu == nullptr)
      return -1;
   /* Nothing is held between calls: each call takes one datagram. The
      sender is always learnt (an SNMPv3 Report goes back to it) and handed
      out as recvfrom would: cut to the room given, with its whole size. */
   struct sockaddr_storage from;
   socklen_t fromLen = sizeof(from);
   memset(&from, 0, sizeof(from));
   if (m_listener != nullptr)
      m_listener->lastStatus = SNMP_RC_SUCCESS;
   int received = RecvData(timeout, (struct sockaddr *)&from, &fromLen);
   if (received <= 0)
      return received;
   if (sender != nullptr && senderLen != nullptr)
   {
      socklen_t room = *senderLen;
      memcpy(sender, &from, (room < fromLen) ? room : fromLen);
      *senderLen = fromLen;
   }
   m_bytesHeld = (uint32_t)received;

   /* A datagram that is no SEQUENCE, or whose header announces more octets
      than it holds, is dropped whole. */
   uint32_t total = PreParsePDU();
   if (total == 0)
   {
      ClearBuffer();
      return 0;
   }
   if (ZbV3IsMessage(m_buffer + m_startOffset, total))
   {
      int result = ReadV3(pdu, total, (struct sockaddr *)&from, fromLen);
      ClearBuffer();
      return result;
   }
   /* No PDU object, no message: it is dropped as if it had not come. */
   SNMP_PDU *parsed = new (std::nothrow) SNMP_PDU();
   if (parsed == nullptr)
   {
      ClearBuffer();
      return 0;
   }
   if (!parsed->Parse(m_buffer + m_startOffset, total))
   {
      delete parsed;
      parsed = nullptr;
   }
   *pdu = parsed;
   ClearBuffer();
   return (int)total;
}

ZbV3Listener *SNMP_UDPTransport::Listener()
{
   if (m_listener == nullptr)
      m_listener = ZbV3ListenerNew();
   return m_listener;
}

/* An SNMPv3 message: through the checks of the listener (its users, its
   local engine) and of the transport's own identity. Without either it
   does not parse, as before there was SNMPv3. */
int SNMP_UDPTransport::ReadV3(SNMP_PDU **pdu, uint32_t total, const struct sockaddr *sender,
                              socklen_t senderLen)
{
   ZbUsmIdentityData *own = ZbUsmAccess::Data(GetSecurity());
   if (m_listener == nullptr && own == nullptr)
   {
      *pdu = nullptr;
      return (int)total;
   }
   ZbV3Listener *l = Listener();
   if (l == nullptr)
      return 0; /* no memory: dropped */
   SNMP_PDU *parsed = nullptr;
   uint8_t *reply = nullptr;
   uint32_t replyLength = 0;
   uint32_t rc = ZbV3ListenerReceive(l, own, m_buffer + m_startOffset, total, ZbMonotonicSeconds(),
                                     &parsed, &reply, &replyLength);
   if (reply != nullptr)
   {
      ZbSendBytes(m_socket, reply, replyLength, sender, senderLen);
      free(reply);
   }
   if (parsed != nullptr || rc == SNMP_RC_PARSE_ERROR)
   {
      *pdu = parsed;
      return (int)total;
   }
   return 0; /* dropped, or discovery answered: no message for the caller */
}

int SNMP_UDPTransport::Send(SNMP_PDU *pdu)
{
   return ZbSendPdu(m_socket, pdu, nullptr, 0);
}

int SNMP_UDPTransport::SendMessage(const uint8_t *data, uint32_t length)
{
   if (m_socket == SNMP_INVALID_SOCKET || data == nullptr || length == 0)
      return -1;
   return ZbSendBytes(m_socket, data, length, nullptr, 0);
}

int SNMP_UDPTransport::ReadMessage(const uint8_t **data, uint32_t timeout, struct sockaddr *sender,
                                   socklen_t *senderLen)
{
   if (data == nullptr)
      return -1;
   ClearBuffer();
   int received = RecvData(timeout, sender, senderLen);
   if (received <= 0)
      return received;
   m_bytesHeld = (uint32_t)received;
   uint32_t total = PreParsePDU();
   ClearBuffer(); /* the octets stay in the buffer until the next receive */
   if (total == 0)
      return 0;
   *data = m_buffer;
   return (int)total;
}

/* ---- SNMPv3 notifications ---- */

uint32_t SNMP_UDPTransport::AddUser(SNMP_USMIdentity *identity)
{
   ZbV3Listener *l = Listener();
   if (l == nullptr || !ZbV3ListenerAddUser(l, identity))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

void SNMP_UDPTransport::RemoveUser(SNMP_USMIdentity *identity)
{
   if (m_listener != nullptr)
      ZbV3ListenerRemoveUser(m_listener, identity);
}

uint32_t SNMP_UDPTransport::SetLocalEngine(const uint8_t *engineId, uint32_t length, uint32_t boots)
{
   ZbV3Listener *l = Listener();
   if (l == nullptr || !ZbV3ListenerSetEngine(l, engineId, length, boots, ZbMonotonicSeconds()))
      return SNMP_RC_BAD_PARAMETERS;
   return SNMP_RC_SUCCESS;
}

const uint8_t *SNMP_UDPTransport::GetLocalEngineId(uint32_t *length)
{
   ZbV3Listener *l = Listener();
   bool made = l != nullptr && ZbV3ListenerEngine(l, ZbMonotonicSeconds());
   if (length != nullptr)
      *length = made ? l->engineIdLength : 0;
   return made ? l->engineId : nullptr;
}

uint32_t SNMP_UDPTransport::GetLocalEngineBoots() const
{
   return m_listener != nullptr ? m_listener->boots : 0;
}

uint32_t SNMP_UDPTransport::GetLocalEngineTime() const
{
   if (m_listener == nullptr || m_listener->engineIdLength == 0)
      return 0;
   return ZbV3ListenerTime(m_listener, ZbMonotonicSeconds());
}

uint32_t SNMP_UDPTransport::GetSecurityStatus() const
{
   return m_listener != nullptr ? m_listener->lastStatus : SNMP_RC_SUCCESS;
}
