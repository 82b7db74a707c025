/* One SNMPv3 request as a state machine without I/O, for the blocking
   exchange and for engines that keep many requests in flight: engine
   discovery when the engine is unknown (RFC 3414 4), the request, and one
   re-synchronisation after a notInTimeWindow Report. Internal. */
#ifndef ZBSNMP_SECURITY_V3_EXCHANGE_H
#define ZBSNMP_SECURITY_V3_EXCHANGE_H

#include "security/v3_message.h"

enum ZbV3Step
{
   V3_STEP_IGNORED,    /* not for this exchange, or it failed the checks: dropped */
   V3_STEP_SEND_NEXT,  /* progress: send Next() now (it uses up no attempt) */
   V3_STEP_DONE,       /* finished: Result(), and ResponsePdu() on success */
};

class ZbV3Exchange
{
public:
   /* The identity and the peer (NULL: the identity's own) are lent; the
      peer learns the engine. The PDU element is copied. maxSize is the
      msgMaxSize announced (the receive buffer's size). */
   ZbV3Exchange(ZbUsmIdentityData *identity, ZbUsmPeer *peer, const uint8_t *pdu,
                uint32_t pduLength, uint32_t maxSize);
   ~ZbV3Exchange();
   ZbV3Exchange(const ZbV3Exchange &) = delete;
   ZbV3Exchange &operator=(const ZbV3Exchange &) = delete;

   /* A new message for the current step (a new msgID each time, the
      engine's time as estimated now): discovery while the engine is
      unknown, else the request. SNMP_RC_SUCCESS and the message (valid
      until the next call), or the status code that ends the exchange
      (SNMP_RC_BAD_PARAMETERS, SNMP_RC_SECURITY_UNAVAILABLE). */
   uint32_t Next(int64_t now, const uint8_t **message, uint32_t *length);
   /* Takes one received datagram. */
   ZbV3Step Receive(const uint8_t *data, uint32_t length, int64_t now);

   bool Discovering() const { return m_discovering; }
   /* SNMP_RC_SUCCESS with a response, or the status code of the Report
      that ended the exchange. */
   uint32_t Result() const { return m_result; }
   /* The response's PDU element (NULL unless Result() is success). */
   const uint8_t *ResponsePdu(uint32_t *length) const
   {
      *length = m_responseLength;
      return m_response;
   }

private:
   bool SentMsgId(uint32_t msgId) const;
   ZbV3Step Finish(uint32_t result);

   ZbUsmIdentityData *m_identity;
   ZbUsmPeer *m_peer;
   uint8_t *m_pdu;
   uint32_t m_pduLength;
   uint32_t m_maxSize;
   bool m_discovering;
   bool m_resynchronised;  /* the one retry after notInTimeWindow is used */
   bool m_rediscovered;    /* the one new discovery after unknownEngineID is used */
   uint8_t *m_message;
   uint32_t m_messageLength;
   uint32_t m_msgIds[8];   /* the msgIDs sent, newest last, for late answers */
   uint32_t m_msgIdCount;
   uint32_t m_result;
   uint8_t *m_response;
   uint32_t m_responseLength;
};

#endif
