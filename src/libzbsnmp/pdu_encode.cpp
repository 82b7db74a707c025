/* SNMP_PDU::Encode: one complete message in a new malloc block. */
#include "internal.h"

#include <string.h>

#include <memory>

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
   {0, -1, 0},
};

static uint32_t FindPduTag(uint32_t version, uint32_t command)
{
   for (const PduTagRow *row = PDU_TAG_TABLE; row->tag != 0; row++)
      if ((row->version == -1 || (uint32_t)row->version == version) &&
          (uint32_t)row->command == command)
         return (uint32_t)row->tag;
   return 0;
}

/* Size of a whole element given its content length. */
static uint64_t ElementSize(uint64_t content)
{
   return BerHeaderLength(content > 0xFFFFFFFFULL ? 0xFFFFFFFFU : (uint32_t)content) + content;
}

static uint64_t ValueElementSize(uint32_t type, const void *data, uint32_t length)
{
   return ElementSize(BerContentLength(type, data, length));
}

static uint8_t *PutElement(uint8_t *p, uint32_t type, const void *data, uint32_t length)
{
   uint32_t content = BerContentLength(type, data, length);
   p += BerWriteHeader(type, content, p);
   return p + BerEncodeValue(type, data, length, p);
}

uint32_t SNMP_PDU::Encode(uint8_t **buffer)
{
   uint32_t tag = FindPduTag(m_version, m_command);
   if (tag == 0 || m_community == nullptr || buffer == nullptr)
      return 0;
   bool v1trap = (tag == ASN_PDU_TRAP);
   if (v1trap && m_trapId == nullptr)
      return 0;

   /* Every length is computed first, from the real encoded sizes, so that the
      message is written forward into one exact block. */
   ZbBindingSize small[32];
   std::unique_ptr<ZbBindingSize[]> large;
   ZbBindingSize *sizes = small;
   if (m_variableCount > 32)
   {
      large.reset(new ZbBindingSize[m_variableCount]);
      sizes = large.get();
   }
   uint64_t bindings = 0;
   for (uint32_t i = 0; i < m_variableCount; i++)
   {
      /* A binding that cannot be written fails the whole message. */
      if (!ZbVariableSize(m_variables[i], &sizes[i]))
         return 0;
      bindings += sizes[i].total;
   }
   uint32_t trapType = (uint32_t)m_trapType, specific = (uint32_t)m_specificTrapType;
   uint64_t pduBody = ElementSize(bindings);
   if (v1trap)
   {
      pduBody += ValueElementSize(ASN_TYPE_OBJECT_ID, m_trapId->GetValue(),
                                  m_trapId->Length() * 4) +
                 ValueElementSize(ASN_TYPE_IP_ADDRESS, m_agentAddress, 4) +
                 ValueElementSize(ASN_TYPE_INTEGER, &trapType, 4) +
                 ValueElementSize(ASN_TYPE_INTEGER, &specific, 4) +
                 ValueElementSize(ASN_TYPE_TIMETICKS, &m_timeStamp, 4);
   }
   else
   {
      pduBody += ValueElementSize(ASN_TYPE_INTEGER, &m_requestId, 4) +
                 ValueElementSize(ASN_TYPE_INTEGER, &m_errorCode, 4) +
                 ValueElementSize(ASN_TYPE_INTEGER, &m_errorIndex, 4);
   }
   uint32_t communityLength = (uint32_t)strlen(m_community);
   uint64_t messageBody = ValueElementSize(ASN_TYPE_INTEGER, &m_version, 4) +
                          ValueElementSize(ASN_TYPE_OCTET_STRING, m_community, communityLength) +
                          ElementSize(pduBody);
   if (messageBody > 0xFFFFFFFFULL - BER_MAX_HEADER)
      return 0;

   uint8_t *out = (uint8_t *)malloc((size_t)messageBody + BER_MAX_HEADER);
   if (out == nullptr)
      return 0;
   uint8_t *p = out;
   p += BerWriteHeader(ASN_TYPE_SEQUENCE, (uint32_t)messageBody, p);
   p = PutElement(p, ASN_TYPE_INTEGER, &m_version, 4);
   p = PutElement(p, ASN_TYPE_OCTET_STRING, m_community, communityLength);
   p += BerWriteHeader(tag, (uint32_t)pduBody, p);
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
      p = PutElement(p, ASN_TYPE_INTEGER, &m_errorCode, 4);
      p = PutElement(p, ASN_TYPE_INTEGER, &m_errorIndex, 4);
   }
   p += BerWriteHeader(ASN_TYPE_SEQUENCE, (uint32_t)bindings, p);
   for (uint32_t i = 0; i < m_variableCount; i++)
      p = ZbVariableWrite(m_variables[i], &sizes[i], p);
   *buffer = out;
   return (uint32_t)(p - out);
}
