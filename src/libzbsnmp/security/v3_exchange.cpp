/* ZbV3Exchange: discovery, the request, and the Reports that end or
   repeat it. */
#include "security/v3_exchange.h"

#include <string.h>

#include <chrono>

#include "security/v3_pdu.h"

/* Unpredictable msgIDs (RFC 3412 6.2: any value in 0 .. 2^31 - 1); without
   libcrypto they come from the clock and a counter. */
static uint32_t NewMsgId(uint32_t previous)
{
   uint32_t v;
   if (!ZbRandomBytes((uint8_t *)&v, sizeof(v)))
      v = (uint32_t)std::chrono::steady_clock::now().time_since_epoch().count() * 2654435761u +
          previous + 1;
   return v & V3_MAX_INT;
}

ZbV3Exchange::ZbV3Exchange(ZbUsmIdentityData *identity, ZbUsmPeer *peer, const uint8_t *pdu,
                           uint32_t pduLength, uint32_t maxSize)
    : m_identity(identity),
      m_peer(peer != nullptr ? peer : identity != nullptr ? &identity->peer : nullptr),
      m_pdu(nullptr), m_pduLength(0), m_requestId(0), m_maxSize(maxSize), m_discovering(false),
      m_resynchronised(false), m_rediscovered(false), m_message(nullptr), m_messageLength(0),
      m_msgIdCount(0), m_done(false), m_result(SNMP_RC_TIMEOUT), m_response(nullptr)
{
   if (pdu != nullptr && pduLength > 0 && ZbV3RequestIdOf(pdu, pduLength, &m_requestId) &&
       (m_pdu = (uint8_t *)malloc(pduLength)) != nullptr)
   {
      memcpy(m_pdu, pdu, pduLength);
      m_pduLength = pduLength;
   }
   m_discovering = m_peer != nullptr && m_peer->engine.idLength == 0;
}

ZbV3Exchange::~ZbV3Exchange()
{
   ZbV3FreePlain(m_message, m_messageLength);
   ZbV3FreePlain(m_pdu, m_pduLength);
   delete m_response;
}

bool ZbV3Exchange::Expects(uint32_t msgId) const
{
   for (uint32_t i = 0; i < m_msgIdCount; i++)
      if (m_msgIds[i] == msgId)
         return true;
   return false;
}

uint32_t ZbV3Exchange::TimeoutResult() const
{
   /* snmpd drops a request that it cannot decrypt, without a Report: an
      engine that answers the rest but never an encrypted request most
      likely holds another privacy password or method for the user. */
   if (m_identity != nullptr && m_identity->level == SNMP_SEC_AUTH_PRIV && m_peer != nullptr &&
       m_peer->engine.timeKnown && !m_peer->engine.answered)
      return SNMP_RC_ENCRYPTED_UNANSWERED;
   return SNMP_RC_TIMEOUT;
}

SNMP_PDU *ZbV3Exchange::TakeResponse()
{
   SNMP_PDU *pdu = m_response;
   m_response = nullptr;
   return pdu;
}

uint32_t ZbV3Exchange::Next(int64_t now, const uint8_t **message, uint32_t *length)
{
   return Next(now, NewMsgId(LastMsgId()), message, length);
}

uint32_t ZbV3Exchange::Next(int64_t now, uint32_t msgId, const uint8_t **message,
                            uint32_t *length)
{
   if (m_identity == nullptr || m_pdu == nullptr || msgId > V3_MAX_INT)
      return SNMP_RC_BAD_PARAMETERS;
   uint8_t *out = nullptr;
   uint32_t n = 0;
   if (m_discovering)
   {
      /* A GET without bindings, with the msgID as its request-id. */
      uint8_t pdu[BER_MAX_HEADER + 6 + 6 + 2];
      uint8_t *p = pdu + 2;
      const uint32_t zero = 0;
      p += BerWriteElement(ASN_TYPE_INTEGER, &msgId, 4, p, 6);
      p += BerWriteElement(ASN_TYPE_INTEGER, &zero, 4, p, 3);
      p += BerWriteElement(ASN_TYPE_INTEGER, &zero, 4, p, 3);
      p += BerWriteElement(ASN_TYPE_SEQUENCE, nullptr, 0, p, 2);
      p = BerCloseElement(pdu, ASN_PDU_GET_REQUEST, p);
      n = ZbV3EncodeDiscovery(msgId, m_maxSize, pdu, (uint32_t)(p - pdu), &out);
      if (n == 0)
         return SNMP_RC_BAD_PARAMETERS;
   }
   else
   {
      uint32_t rc = ZbV3EncodeRequest(m_identity, m_peer, msgId, m_maxSize, m_pdu, m_pduLength, now,
                                      &out, &n);
      if (rc != SNMP_RC_SUCCESS)
         return rc;
   }
   ZbV3FreePlain(m_message, m_messageLength);
   m_message = out;
   m_messageLength = n;
   if (m_msgIdCount == sizeof(m_msgIds) / sizeof(m_msgIds[0]))
   {
      memmove(m_msgIds, m_msgIds + 1, sizeof(m_msgIds) - sizeof(m_msgIds[0]));
      m_msgIdCount--;
   }
   m_msgIds[m_msgIdCount++] = msgId;
   *message = m_message;
   *length = m_messageLength;
   return SNMP_RC_SUCCESS;
}

ZbV3Step ZbV3Exchange::Finish(uint32_t result)
{
   m_done = true;
   m_result = result;
   return V3_STEP_DONE;
}

/* A response (any PDU but a Report) that passed the checks. */
ZbV3Step ZbV3Exchange::Respond(const ZbV3Received &r)
{
   uint32_t requestId;
   /* Only a Report answers discovery; a response must carry the request's
      request-id (RFC 3416 4.2: the answer to it, not to another one). */
   if (m_discovering || !ZbV3RequestIdOf(r.scoped.pdu, r.scoped.pduLength, &requestId) ||
       requestId != m_requestId)
      return V3_STEP_IGNORED;
   m_peer->engine.answered = true;
   m_response = ZbV3MakePdu(r.message, r.scoped);
   return Finish(m_response != nullptr ? SNMP_RC_SUCCESS : SNMP_RC_PARSE_ERROR);
}

ZbV3Step ZbV3Exchange::Receive(const uint8_t *data, uint32_t length, int64_t now)
{
   ZbV3Message head;
   if (m_identity == nullptr || m_done ||
       !ZbV3ParseMessage(data, length, &head) || !Expects(head.msgId))
      return V3_STEP_IGNORED;
   ZbV3Received r;
   if (ZbV3Receive(m_identity, m_peer, data, length, now, &r) != SNMP_RC_SUCCESS)
      return V3_STEP_IGNORED; /* a message that fails the checks is dropped (RFC 3414 3.2) */
   const ZbV3Scoped &s = r.scoped;
   ZbV3Step step;
   uint32_t requestId, report;
   if (s.pdu[0] != ASN_PDU_REPORT)
   {
      step = Respond(r);
   }
   else if (!ZbV3ReadReport(s.pdu, s.pduLength, &requestId, &report))
   {
      step = V3_STEP_IGNORED;
   }
   else if (m_discovering)
   {
      /* RFC 3414 4: the Report carries the engine's ID, and boots and time
         as a first estimate. */
      if (report != SNMP_RC_UNKNOWN_ENGINE_ID || r.message.engineIdLength == 0)
      {
         step = Finish(report);
      }
      else
      {
         ZbUsmEngineSetId(&m_peer->engine, r.message.engineId, r.message.engineIdLength);
         ZbUsmEngineSeed(&m_peer->engine, r.message.boots, r.message.time, now);
         m_discovering = false;
         step = V3_STEP_SEND_NEXT;
      }
   }
   else if (report == SNMP_RC_NOT_IN_TIME_WINDOW && r.authenticated && !m_resynchronised)
   {
      /* The authenticated Report has taught boots and time (step 7b): once more. */
      m_resynchronised = true;
      step = V3_STEP_SEND_NEXT;
   }
   else if (report == SNMP_RC_UNKNOWN_ENGINE_ID && !m_rediscovered)
   {
      /* The engine changed its ID (or the one given was wrong): discover again. */
      m_rediscovered = true;
      ZbUsmEngineReset(&m_peer->engine);
      m_discovering = true;
      step = V3_STEP_SEND_NEXT;
   }
   else
   {
      step = Finish(report);
   }
   ZbV3ReceivedFree(&r);
   return step;
}
