/* Datagrams to a given address over the transport's socket: the replies of
   a listener on an unconnected socket, among them the acknowledgement of an
   InformRequest. */
#include "transport/sockets.h"

#include "security/v3_listener.h"

int ZbSendBytes(SNMP_SOCKET socket, const uint8_t *data, uint32_t length,
                const struct sockaddr *to, socklen_t toLen)
{
#ifdef _WIN32
   if (to == nullptr)
      return send(socket, (const char *)data, (int)length, 0);
   return sendto(socket, (const char *)data, (int)length, 0, to, (SockLen)toLen);
#else
   if (to == nullptr)
      return (int)send(socket, data, length, 0);
   return (int)sendto(socket, data, length, 0, to, toLen);
#endif
}

int ZbSendPdu(SNMP_SOCKET socket, SNMP_PDU *pdu, const struct sockaddr *to, socklen_t toLen)
{
   if (pdu == nullptr)
      return 0;
   uint8_t *buffer = nullptr;
   uint32_t length = pdu->Encode(&buffer);
   if (length == 0)
      return 0;
   int sent = ZbSendBytes(socket, buffer, length, to, toLen);
   free(buffer);
   return sent;
}

int SNMP_UDPTransport::SendTo(SNMP_PDU *pdu, const struct sockaddr *to, socklen_t toLen)
{
   if (to == nullptr || m_socket == SNMP_INVALID_SOCKET)
      return -1;
   return ZbSendPdu(m_socket, pdu, to, toLen);
}

int SNMP_UDPTransport::AcknowledgeInform(SNMP_PDU *inform, const struct sockaddr *sender,
                                         socklen_t senderLen)
{
   if (sender == nullptr || m_socket == SNMP_INVALID_SOCKET)
      return -1;
   uint8_t *buffer = nullptr;
   uint32_t length;
   if (inform != nullptr && inform->GetVersion() == SNMP_VERSION_3)
      length = (m_listener != nullptr)
                   ? ZbV3ListenerAcknowledge(m_listener, inform, ZbMonotonicSeconds(), &buffer)
                   : 0;
   else
      length = ZbPduAccess::EncodeInformResponse(inform, &buffer);
   if (length == 0)
      return 0;
   int sent = ZbSendBytes(m_socket, buffer, length, sender, senderLen);
   free(buffer);
   return sent;
}
