/* SNMP_PDU::Encode: one complete message in a new malloc block. */
#include "internal.h"

#include <string.h>

struct PduTagRow
{
   int32_t tag;
   int32_t version; /* -1 matches every version */
   int32_t command;
};

static const PduTagRow PDU_TAG_TABLE[] = {
   {ASN_PDU_TRAP, SNMP_VERSION_1, SNMP_CMD_TRAP},
   {ASN_PDU_TRAP2, SNMP_VERSION_2C, SNMP_CMD_TRAP},
   {ASN_PDU_GET_REQUEST, -1, SNMP_CMD_GET_REQUEST},
   {ASN_PDU_GET_NEXT_REQUEST, -1, SNMP_CMD_GET_NEXT_REQUEST},
   {ASN_PDU_SET_REQUEST, -1, SNMP_CMD_SET_REQUEST},
   {ASN_PDU_GET_RESPONSE, -1, SNMP_CMD_RESPONSE},
   {ASN_PDU_GET_BULK_REQUEST, -1, SNMP_CMD_GET_BULK_REQUEST},
   {ASN_PDU_INFORM_REQUEST, -1, SNMP_CMD_INFORM_REQUEST},
   {0, -1, 0},
};

static uint32_t FindPduTag(uint32_t version, uint32_t command)
{
   /* SNMPv3 carries the PDUs of SNMPv2 (RFC 3412 6.8), and the Report
      (RFC 3416 3) that only it uses. */
   if (version == SNMP_VERSION_3)
   {
      if (command == SNMP_CMD_REPORT)
         return ASN_PDU_REPORT;
      version = SNMP_VERSION_2C;
   }
   /* GETBULK and InformRequest came with SNMPv2 (RFC 3416): SNMPv1 has no tag for them. */
   if (version == SNMP_VERSION_1 &&
       (command == SNMP_CMD_GET_BULK_REQUEST || command == SNMP_CMD_INFORM_REQUEST))
      return 0;
   for (const PduTagRow *row = PDU_TAG_TABLE; row->tag != 0; row++)
      if ((row->version == -1 || (uint32_t)row->version == version) &&
          (uint32_t)row->command == command)
         return (uint32_t)row->tag;
   return 0;
}

static uint8_t *PutElement(uint8_t *p, uint32_t type, const void *data, uint32_t length)
{
   uint32_t content = BerContentLength(type, data, length);
   p += BerWriteHeader(type, content, p);
   return p + BerEncodeValue(type, data, length, p);
}

/* The tag of the PDU as it stands; 0 when it has none. */
static uint32_t TagOf(uint32_t version, uint32_t command, uint32_t nonRepeaters,
                      uint32_t maxRepetitions)
{
   uint32_t tag = FindPduTag(version, command);
   /* RFC 3416 bounds non-repeaters and max-repetitions to 0..2147483647: a
      larger value would go out as a negative INTEGER. */
   if (tag == ASN_PDU_GET_BULK_REQUEST && (nonRepeaters > 0x7FFFFFFFU || maxRepetitions > 0x7FFFFFFFU))
      return 0;
   return tag;
}

uint32_t SNMP_PDU::Encode(uint8_t **buffer)
{
   /* An SNMPv3 message needs its security: the transport's identity wraps the element. */
   if (m_version == SNMP_VERSION_3)
      return 0;
   return EncodeAs(buffer, TagOf(m_version, m_command, m_errorCode, m_errorIndex), m_errorCode,
                   m_errorIndex, false);
}

uint32_t ZbPduAccess::EncodeElement(SNMP_PDU *pdu, uint8_t **buffer)
{
   if (pdu == nullptr || pdu->m_version == SNMP_VERSION_1)
      return 0;
   return pdu->EncodeAs(buffer,
                        TagOf(pdu->m_version, pdu->m_command, pdu->m_errorCode, pdu->m_errorIndex),
                        pdu->m_errorCode, pdu->m_errorIndex, true);
}

uint32_t ZbPduAccess::EncodeInformResponse(SNMP_PDU *inform, uint8_t **buffer, bool elementOnly)
{
   /* RFC 3416 4.2.7: the Response carries the inform's request-id and
      variable-bindings, error-status noError and error-index 0. */
   if (inform == nullptr || inform->m_command != SNMP_CMD_INFORM_REQUEST)
      return 0;
   return inform->EncodeAs(buffer, ASN_PDU_GET_RESPONSE, 0, 0, elementOnly);
}

uint32_t SNMP_PDU::EncodeAs(uint8_t **buffer, uint32_t tag, uint32_t errorCode,
                            uint32_t errorIndex, bool elementOnly)
{
   if (tag == 0 || (m_community == nullptr && !elementOnly) || buffer == nullptr)
      return 0;
   bool v1trap = (tag == ASN_PDU_TRAP);
   if (v1trap && (m_trapId == nullptr || !BerOidWritable(m_trapId->GetValue(), m_trapId->Length())))
      return 0;

   /* The block is sized from an upper bound and the message written in place,
      inside out by nesting: every element's content is produced once and
      its header closed behind it. */
   size_t communityLength = elementOnly ? 0 : strlen(m_community);
   if (communityLength > 0xFFFFFFFFU)
      return 0;
   const uint64_t integerField = BerElementBound(ASN_TYPE_INTEGER, 4);
   uint64_t bound = BER_MAX_HEADER                                       /* message SEQUENCE */
                    + integerField                                       /* version */
                    + BerElementBound(ASN_TYPE_OCTET_STRING, (uint32_t)communityLength)
                    + BER_MAX_HEADER                                     /* PDU */
                    + BER_MAX_HEADER;                                    /* binding list */
   if (v1trap)
      bound += BerElementBound(ASN_TYPE_OBJECT_ID, m_trapId->Length() * 4)  /* enterprise */
               + BerElementBound(ASN_TYPE_IP_ADDRESS, 4)                   /* agent-addr */
               + 2 * integerField                           /* generic-trap, specific-trap */
               + BerElementBound(ASN_TYPE_TIMETICKS, 4);    /* time-stamp */
   else
      bound += 3 * integerField;  /* request-id, error-status, error-index */
   for (uint32_t i = 0; i < m_variableCount; i++)
   {
      uint64_t b = ZbVariableBound(m_variables[i]);
      if (b == 0)
         return 0; /* a binding that cannot be written fails the whole message */
      bound += b;
   }
   if (bound > 0xFFFFFFFFULL)
      return 0;
   uint8_t *out = (uint8_t *)malloc((size_t)bound);
   if (out == nullptr)
      return 0;

   uint32_t trapType = (uint32_t)m_trapType, specific = (uint32_t)m_specificTrapType;
   uint8_t *p = out;
   if (!elementOnly)
   {
      p += 2;  /* message content */
      p = PutElement(p, ASN_TYPE_INTEGER, &m_version, 4);
      p = PutElement(p, ASN_TYPE_OCTET_STRING, m_community, (uint32_t)communityLength);
   }
   uint8_t *pdu = p;
   p += 2;
   if (v1trap)
   {
      p = PutElement(p, ASN_TYPE_OBJECT_ID, m_trapId->GetValue(), m_trapId->Length() * 4);
      p = PutElement(p, ASN_TYPE_IP_ADDRESS, m_agentAddress, 4);
      p = PutElement(p, ASN_TYPE_INTEGER, &trapType, 4);
      p = PutElement(p, ASN_TYPE_INTEGER, &specific, 4);
      p = PutElement(p, ASN_TYPE_TIMETICKS, &m_timeStamp, 4);
   }
   else
   {
      p = PutElement(p, ASN_TYPE_INTEGER, &m_requestId, 4);
      p = PutElement(p, ASN_TYPE_INTEGER, &errorCode, 4);
      p = PutElement(p, ASN_TYPE_INTEGER, &errorIndex, 4);
   }
   ZB_CHECK((uint64_t)(p - out) <= bound);
   uint8_t *list = p;
   p += 2;
   for (uint32_t i = 0; i < m_variableCount; i++)
   {
      p = ZbVariablePut(m_variables[i], p);
      ZB_CHECK((uint64_t)(p - out) <= bound);
   }
   p = BerCloseElement(list, ASN_TYPE_SEQUENCE, p);
   p = BerCloseElement(pdu, tag, p);
   if (!elementOnly)
      p = BerCloseElement(out, ASN_TYPE_SEQUENCE, p);
   ZB_CHECK((uint64_t)(p - out) <= bound);
   *buffer = out;
   return (uint32_t)(p - out);
}
