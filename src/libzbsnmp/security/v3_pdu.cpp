/* The PDU of a received SNMPv3 message, with the message's facts. */
#include "security/v3_pdu.h"

#include <string.h>

#include <new>

static_assert(USM_MAX_ENGINE_ID == ZB_V3_MAX_OCTETS && USM_MAX_NAME == ZB_V3_MAX_OCTETS,
              "a PDU keeps every engine ID and name a message can carry");

/* Copies at most ZB_V3_MAX_OCTETS octets; returns how many. */
static uint32_t CopyOctets(uint8_t *to, const uint8_t *from, uint32_t length)
{
   if (length > ZB_V3_MAX_OCTETS)
      length = ZB_V3_MAX_OCTETS;
   if (length > 0)
      memcpy(to, from, length);
   return length;
}

SNMP_PDU *ZbV3MakePdu(const ZbV3Message &m, const ZbV3Scoped &s)
{
   ZbPduSecurity facts;
   memset(&facts, 0, sizeof(facts));
   facts.msgId = m.msgId;
   facts.level = ZbV3LevelOf(m.flags);
   facts.engineIdLength = CopyOctets(facts.engineId, m.engineId, m.engineIdLength);
   facts.contextEngineIdLength =
       CopyOctets(facts.contextEngineId, s.contextEngineId, s.contextEngineIdLength);
   CopyOctets((uint8_t *)facts.user, m.user, m.userLength);
   CopyOctets((uint8_t *)facts.contextName, s.contextName, s.contextNameLength);
   SNMP_PDU *pdu = new (std::nothrow) SNMP_PDU();
   if (pdu == nullptr || !ZbPduAccess::ParseElement(pdu, s.pdu, s.pduLength) ||
       !ZbPduAccess::SetSecurity(pdu, facts))
   {
      delete pdu;
      return nullptr;
   }
   return pdu;
}

int ZbV3RequestIdOf(const uint8_t *pdu, uint32_t length, uint32_t *requestId)
{
   BerCursor c = {pdu, length}, body, field;
   uint32_t type;
   if (!BerGetElement(&c, &type, &body) || !BerGetElement(&body, &type, &field) ||
       type != ASN_TYPE_INTEGER)
      return 0;
   return BerDecodeValue(type, field.p, field.left, requestId);
}
