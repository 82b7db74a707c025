/* One SNMPv3 request as a state machine without I/O, for the blocking
   exchange and for engines that keep many requests in flight: engine
   discovery when the engine is unknown (RFC 3414 4), the request, and one
   re-synchronisation after a notInTimeWindow Report. Internal.

   How a caller drives it: send what Next() gives and wait for datagrams,
   handing each to Receive() (or only those whose msgID Expects() -- a
   caller that matches datagrams to exchanges itself). V3_STEP_SEND_NEXT:
   send Next() at once, within the same attempt. V3_STEP_DONE: Result(),
   and TakeResponse() on success. When an attempt's time runs out, send
   Next() again as the next attempt; after the last, the result is
   TimeoutResult(). */
#ifndef ZBSNMP_SECURITY_V3_EXCHANGE_H
#define ZBSNMP_SECURITY_V3_EXCHANGE_H

#include "security/v3_message.h"

enum ZbV3Step
{
   V3_STEP_IGNORED,    /* not for this exchange, or it failed the checks: dropped */
   V3_STEP_SEND_NEXT,  /* progress: send Next() now (it uses up no attempt) */
   V3_STEP_DONE,       /* finished: Result(), and TakeResponse() on success */
};

class ZbV3Exchange
{
public:
   /* The identity and the peer (NULL: the identity's own) are lent; the
      peer learns the engine. The PDU element is copied; its request-id is
      the one a response must carry. maxSize is the msgMaxSize announced
      (the receive buffer's size). */
   ZbV3Exchange(ZbUsmIdentityData *identity, ZbUsmPeer *peer, const uint8_t *pdu,
                uint32_t pduLength, uint32_t maxSize);
   ~ZbV3Exchange();
   ZbV3Exchange(const ZbV3Exchange &) = delete;
   ZbV3Exchange &operator=(const ZbV3Exchange &) = delete;

   /* A new message for the current step (a new msgID each time, the
      engine's time as estimated now): discovery while the engine is
      unknown, else the request. SNMP_RC_SUCCESS and the message (valid
      until the next call), or the status code that ends the exchange
      (SNMP_RC_BAD_PARAMETERS, SNMP_RC_SECURITY_UNAVAILABLE). This form
      draws an unpredictable msgID; the other takes the caller's (0 ..
      2^31 - 1: one that no other exchange of the caller's is waiting for). */
   uint32_t Next(int64_t now, const uint8_t **message, uint32_t *length);
   uint32_t Next(int64_t now, uint32_t msgId, const uint8_t **message, uint32_t *length);
   /* Takes one received datagram. A message for one of this exchange's
      msgIDs that fails the checks, a response with another request-id, and
      anything but a Report during discovery are dropped (IGNORED). A
      response whose PDU does not parse ends the exchange with
      SNMP_RC_PARSE_ERROR. */
   ZbV3Step Receive(const uint8_t *data, uint32_t length, int64_t now);

   /* 1 when msgId is one of the last 8 that Next() sent (late answers to an
      earlier attempt are taken too). */
   bool Expects(uint32_t msgId) const;
   uint32_t LastMsgId() const { return m_msgIdCount > 0 ? m_msgIds[m_msgIdCount - 1] : 0; }
   bool Discovering() const { return m_discovering; }
   /* SNMP_RC_SUCCESS with a response, or the status code that ended the
      exchange. */
   uint32_t Result() const { return m_result; }
   /* The result when every attempt went unanswered: SNMP_RC_TIMEOUT, or
      SNMP_RC_ENCRYPTED_UNANSWERED when the request is encrypted and the
      engine has answered discovery or a Report but never a request. */
   uint32_t TimeoutResult() const;
   /* The response (version 3, with the message's facts), now the caller's;
      NULL unless Result() is success, and after the first call. */
   SNMP_PDU *TakeResponse();

private:
   ZbV3Step Finish(uint32_t result);
   ZbV3Step Respond(const ZbV3Received &r);

   ZbUsmIdentityData *m_identity;
   ZbUsmPeer *m_peer;
   uint8_t *m_pdu;
   uint32_t m_pduLength;
   uint32_t m_requestId;
   uint32_t m_maxSize;
   bool m_discovering;
   bool m_resynchronised;  /* the one retry after notInTimeWindow is used */
   bool m_rediscovered;    /* the one new discovery after unknownEngineID is used */
   uint8_t *m_message;
   uint32_t m_messageLength;
   uint32_t m_msgIds[8];   /* the msgIDs sent, newest last, for late answers */
   uint32_t m_msgIdCount;
   bool m_done;
   uint32_t m_result;
   SNMP_PDU *m_response;
};

#endif
