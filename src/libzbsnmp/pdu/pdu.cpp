/* SNMP_PDU: data model, binding and parsing of received messages, with the
   normalisation of SNMPv1 and SNMPv2 traps to one trap identifier. */
#include "internal.h"

#include <string.h>

#include <new>

const uint32_t STANDARD_TRAP_OIDS[6][10] = {
   {1, 3, 6, 1, 6, 3, 1, 1, 5, 1}, {1, 3, 6, 1, 6, 3, 1, 1, 5, 2},
   {1, 3, 6, 1, 6, 3, 1, 1, 5, 3}, {1, 3, 6, 1, 6, 3, 1, 1, 5, 4},
   {1, 3, 6, 1, 6, 3, 1, 1, 5, 5}, {1, 3, 6, 1, 6, 3, 1, 1, 5, 6},
};

const uint32_t STANDARD_TRAP_PREFIX[9] = {1, 3, 6, 1, 6, 3, 1, 1, 5};

SNMP_PDU::SNMP_PDU()
    : m_version(0), m_command(SNMP_CMD_INVALID), m_community(nullptr), m_variableCount(0),
      m_variableCapacity(0), m_variables(nullptr), m_trapId(nullptr), m_trapType(0),
      m_specificTrapType(0), m_timeStamp(0), m_agentAddress{0, 0, 0, 0}, m_requestId(0),
      m_errorCode(0), m_errorIndex(0), m_slab(nullptr), m_slabSize(0), m_slabUsed(0),
      m_slabFirst(0), m_security(nullptr)
{
}

SNMP_PDU::SNMP_PDU(uint32_t command, const char *community, uint32_t requestId, uint32_t version)
    : SNMP_PDU()
{
   m_command = command;
   m_requestId = requestId;
   m_version = version;
   m_community = zb_strdup(community != nullptr ? community : "(null)");
}

SNMP_PDU::SNMP_PDU(uint32_t command, const char *community, uint32_t requestId, uint32_t version,
                   uint32_t nonRepeaters, uint32_t maxRepetitions)
    : SNMP_PDU(command, community, requestId, version)
{
   m_errorCode = nonRepeaters;
   m_errorIndex = maxRepetitions;
}

SNMP_PDU::~SNMP_PDU()
{
   free(m_community);
   delete m_trapId;
   for (uint32_t i = 0; i < m_variableCount; i++)
   {
      /* The slab's variables are the run of m_slabUsed bindings that starts
         at m_slabFirst; every other one was made with new. */
      if (i - m_slabFirst < m_slabUsed)
         m_variables[i]->~SNMP_Variable();
      else
         delete m_variables[i];
   }
   free(m_variables);
   free(m_slab);
   free(m_security);
}

/* Room for at least capacity bindings; the array grows geometrically. */
int SNMP_PDU::Reserve(uint32_t capacity)
{
   if (capacity <= m_variableCapacity)
      return 1;
   uint32_t doubled = (m_variableCapacity < 4) ? 4
                      : (m_variableCapacity > 0x7FFFFFFF) ? capacity : m_variableCapacity * 2;
   if (capacity < doubled)
      capacity = doubled;
   if ((size_t)capacity > SIZE_MAX / sizeof(SNMP_Variable *))
      return 0;
   SNMP_Variable **vars =
       (SNMP_Variable **)realloc(m_variables, (size_t)capacity * sizeof(SNMP_Variable *));
   if (vars == nullptr)
      return 0;
   m_variables = vars;
   m_variableCapacity = capacity;
   return 1;
}

void SNMP_PDU::BindVariable(SNMP_Variable *var)
{
   if (var == nullptr)
      return; /* nothing to bind: a null slot would only break Encode */
   if (!Reserve(m_variableCount + 1))
   {
      delete var; /* ownership was handed over: nothing may leak */
      return;
   }
   m_variables[m_variableCount++] = var;
}

/* Reads one INTEGER-typed element of the given type into a 32-bit value. */
static int GetUInt32(BerCursor *c, uint32_t expectedType, uint32_t *out)
{
   uint32_t type;
   BerCursor content;
   if (!BerGetElement(c, &type, &content) || type != expectedType)
      return 0;
   return BerDecodeValue(type, content.p, content.left, out);
}

int SNMP_PDU::Parse(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length};
   uint32_t type;
   BerCursor msg, field;
   if (!BerGetElement(&c, &type, &msg) || type != ASN_TYPE_SEQUENCE)
      return 0;
   if (!GetUInt32(&msg, ASN_TYPE_INTEGER, &m_version) || m_version > SNMP_VERSION_2C)
      return 0;
   if (!BerGetElement(&msg, &type, &field) || type != ASN_TYPE_OCTET_STRING)
      return 0;
   char *community = (char *)malloc((size_t)field.left + 1);
   if (community == nullptr)
      return 0;
   memcpy(community, field.p, field.left);
   community[field.left] = 0;
   free(m_community);
   m_community = community;

   if (!BerGetElement(&msg, &type, &field))
      return 0;
   return ParseTagged(type, field.p, field.left, false);
}

/* The body of a PDU by its tag. An SNMPv3 scopedPDU (v3) carries the PDUs
   of SNMPv2 and the Report, never the SNMPv1 trap (RFC 3412 6.8, RFC 3416
   3); a Report inside a v1/v2c message does not parse. */
int SNMP_PDU::ParseTagged(uint32_t type, const uint8_t *content, uint32_t length, bool v3)
{
   switch (type)
   {
      case ASN_PDU_GET_REQUEST:
      case ASN_PDU_GET_NEXT_REQUEST:
      case ASN_PDU_GET_RESPONSE:
      case ASN_PDU_SET_REQUEST:
         m_command = type - ASN_PDU_GET_REQUEST;
         return ParsePDU(content, length);
      case ASN_PDU_GET_BULK_REQUEST: /* RFC 3416 4.2.3: non-repeaters, max-repetitions */
         m_command = SNMP_CMD_GET_BULK_REQUEST;
         return ParsePDU(content, length);
      case ASN_PDU_INFORM_REQUEST: /* RFC 3416 4.2.7: bindings as in an SNMPv2 trap */
         m_command = SNMP_CMD_INFORM_REQUEST;
         return ParseTrap2PDU(content, length);
      case ASN_PDU_TRAP:
         if (v3)
            return 0;
         m_command = SNMP_CMD_TRAP;
         return ParseTrapPDU(content, length);
      case ASN_PDU_TRAP2:
         m_command = SNMP_CMD_TRAP;
         return ParseTrap2PDU(content, length);
      case ASN_PDU_REPORT: /* RFC 3416 3: request layout */
         if (!v3)
            return 0;
         m_command = SNMP_CMD_REPORT;
         return ParsePDU(content, length);
      default:
         return 0;
   }
}

int ZbPduAccess::ParseElement(SNMP_PDU *pdu, const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length}, body;
   uint32_t type;
   if (pdu == nullptr || !BerGetElement(&c, &type, &body))
      return 0;
   return pdu->ParseTagged(type, body.p, body.left, true);
}

int ZbPduAccess::SetSecurity(SNMP_PDU *pdu, const ZbPduSecurity &facts)
{
   ZbPduSecurity *s = (ZbPduSecurity *)malloc(sizeof(ZbPduSecurity));
   char *community = (char *)malloc(1);
   if (s == nullptr || community == nullptr)
   {
      free(s);
      free(community);
      return 0;
   }
   *s = facts;
   s->user[ZB_V3_MAX_OCTETS] = 0;
   s->contextName[ZB_V3_MAX_OCTETS] = 0;
   community[0] = 0;
   free(pdu->m_security);
   pdu->m_security = s;
   free(pdu->m_community);
   pdu->m_community = community;
   pdu->m_version = SNMP_VERSION_3;
   return 1;
}

uint32_t SNMP_PDU::GetMessageId() const
{
   return m_security != nullptr ? m_security->msgId : 0;
}

uint32_t SNMP_PDU::GetSecurityLevel() const
{
   return m_security != nullptr ? m_security->level : 0;
}

const char *SNMP_PDU::GetUser() const
{
   return m_security != nullptr ? m_security->user : "";
}

const uint8_t *SNMP_PDU::GetEngineId(uint32_t *length) const
{
   if (length != nullptr)
      *length = m_security != nullptr ? m_security->engineIdLength : 0;
   return m_security != nullptr ? m_security->engineId : nullptr;
}

const uint8_t *SNMP_PDU::GetContextEngineId(uint32_t *length) const
{
   if (length != nullptr)
      *length = m_security != nullptr ? m_security->contextEngineIdLength : 0;
   return m_security != nullptr ? m_security->contextEngineId : nullptr;
}

const char *SNMP_PDU::GetContextName() const
{
   return m_security != nullptr ? m_security->contextName : "";
}

int SNMP_PDU::ParsePDU(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length};
   if (!GetUInt32(&c, ASN_TYPE_INTEGER, &m_requestId) ||
       !GetUInt32(&c, ASN_TYPE_INTEGER, &m_errorCode) ||
       !GetUInt32(&c, ASN_TYPE_INTEGER, &m_errorIndex))
      return 0;
   return ParseVarBinds(c.p, c.left);
}

int SNMP_PDU::ParseVarBinds(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length};
   uint32_t type;
   BerCursor list;
   if (!BerGetElement(&c, &type, &list) || type != ASN_TYPE_SEQUENCE)
      return 0;
   /* Room for every binding at once: count them by their headers first. */
   BerCursor scan = list;
   uint32_t count = 0;
   BerCursor skipped;
   while (scan.left > 0 && BerGetElement(&scan, &type, &skipped))
      count++;
   if (count > 0xFFFFFFFFU - m_variableCount || !Reserve(m_variableCount + count))
      return 0;
   if (m_slab == nullptr && count > 0 && (size_t)count <= SIZE_MAX / sizeof(SNMP_Variable))
   {
      /* Without a slab the bindings are made one by one. */
      m_slab = (SNMP_Variable *)malloc((size_t)count * sizeof(SNMP_Variable));
      m_slabSize = (m_slab != nullptr) ? count : 0;
      m_slabFirst = m_variableCount;
   }
   while (list.left > 0)
   {
      BerCursor binding;
      if (!BerGetElement(&list, &type, &binding) || type != ASN_TYPE_SEQUENCE)
         return 0;
      if (!ParseVariable(binding.p, binding.left))
         return 0;
   }
   return 1;
}

int SNMP_PDU::ParseVariable(const uint8_t *data, uint32_t length)
{
   /* The slab takes the next binding while its run is the array's tail, so
      that its variables stay one run. */
   if (m_slabUsed < m_slabSize && m_variableCount == m_slabFirst + m_slabUsed &&
       m_variableCount < m_variableCapacity)
   {
      SNMP_Variable *var = new (m_slab + m_slabUsed) SNMP_Variable();
      if (!var->Parse(data, length))
      {
         var->~SNMP_Variable();
         return 0;
      }
      m_slabUsed++;
      m_variables[m_variableCount++] = var;
      return 1;
   }
   SNMP_Variable *var = new (std::nothrow) SNMP_Variable();
   if (var == nullptr || !var->Parse(data, length) || !Reserve(m_variableCount + 1))
   {
      delete var;
      return 0;
   }
   m_variables[m_variableCount++] = var;
   return 1;
}

int SNMP_PDU::ParseTrapPDU(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length};
   uint32_t type;
   BerCursor field;

   if (!BerGetElement(&c, &type, &field) || type != ASN_TYPE_OBJECT_ID)
      return 0;
   SNMP_ObjectId *enterprise = new (std::nothrow) SNMP_ObjectId();
   if (enterprise == nullptr || !ZbOidAccess::Decode(enterprise, field.p, field.left))
   {
      delete enterprise;
      return 0;
   }
   delete m_trapId;
   m_trapId = enterprise;

   if (!BerGetElement(&c, &type, &field) || type != ASN_TYPE_IP_ADDRESS || field.left != 4)
      return 0;
   memcpy(m_agentAddress, field.p, 4);

   uint32_t generic, specific;
   if (!GetUInt32(&c, ASN_TYPE_INTEGER, &generic) ||
       !GetUInt32(&c, ASN_TYPE_INTEGER, &specific) ||
       !GetUInt32(&c, ASN_TYPE_TIMETICKS, &m_timeStamp))
      return 0;
   m_trapType = (int32_t)generic;
   m_specificTrapType = (int32_t)specific;

   if (!ParseVarBinds(c.p, c.left))
      return 0;

   /* The identifier grows on the heap: a failed allocation leaves it short,
      and the trap is not delivered under a wrong identifier. */
   if (m_trapType >= SNMP_TRAP_COLD_START && m_trapType <= SNMP_TRAP_EGP_NEIGHBOR_LOSS)
   {
      m_trapId->SetValue(STANDARD_TRAP_OIDS[m_trapType], 10);
      return m_trapId->Length() == 10;
   }
   /* Enterprise-specific, and any generic-trap outside the six standard rows
      (negative values included): enterprise.0.specific. */
   uint32_t enterpriseLength = m_trapId->Length();
   m_trapId->Extend(0);
   m_trapId->Extend((uint32_t)m_specificTrapType);
   return m_trapId->Length() == enterpriseLength + 2;
}

int SNMP_PDU::ParseTrap2PDU(const uint8_t *data, uint32_t length)
{
   if (!ParsePDU(data, length))
      return 0;
   if (m_variableCount < 2 || m_variables[1]->GetType() != ASN_TYPE_OBJECT_ID)
      return 0;
   uint32_t count = m_variables[1]->GetValueLength() / 4;
   if (count == 0) /* no trap identifier: nothing to normalise */
      return 0;
   const uint32_t *ids = (const uint32_t *)m_variables[1]->GetValue();
   SNMP_ObjectId *trapId = new (std::nothrow) SNMP_ObjectId(count, ids);
   if (trapId == nullptr || trapId->Length() != count)
   {
      delete trapId;
      return 0;
   }
   delete m_trapId;
   m_trapId = trapId;
   uint32_t last = ids[count - 1];
   if (count == 10 && m_trapId->Compare(STANDARD_TRAP_PREFIX, 9) == OID_CMP_LONGER)
   {
      m_trapType = (int32_t)(last - 1);
      m_specificTrapType = 0;
   }
   else
   {
      m_trapType = SNMP_TRAP_ENTERPRISE_SPECIFIC;
      m_specificTrapType = (int32_t)last;
   }
   return 1;
}
