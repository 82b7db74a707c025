/* SNMP_Variable: one variable binding (name and typed value). */
#include "internal.h"

#include <stdio.h>
#include <string.h>

#include <new>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif

static bool IsUnsigned32Kind(uint32_t type)
{
   return type == ASN_TYPE_COUNTER32 || type == ASN_TYPE_GAUGE32 ||
          type == ASN_TYPE_TIMETICKS || type == ASN_TYPE_UINTEGER32;
}

SNMP_Variable::SNMP_Variable()
    : m_name(nullptr), m_type(ASN_TYPE_NULL), m_valueLength(0), m_value(nullptr)
{
}

SNMP_Variable::SNMP_Variable(const char *name)
    : m_name(&m_nameStorage), m_type(ASN_TYPE_NULL), m_valueLength(0), m_value(nullptr)
{
   uint32_t ids[OID_TEXT_PARSE_LIMIT];
   uint32_t count = SNMPParseOID(name != nullptr ? name : "", ids, OID_TEXT_PARSE_LIMIT);
   m_nameStorage.SetValue(ids, count);
}

SNMP_Variable::SNMP_Variable(const uint32_t *name, uint32_t nameLen)
    : m_name(&m_nameStorage), m_type(ASN_TYPE_NULL), m_valueLength(0), m_value(nullptr)
{
   m_nameStorage.SetValue(name, nameLen);
}

SNMP_Variable::~SNMP_Variable()
{
   ReleaseValue();
}

void SNMP_Variable::ReleaseValue()
{
   if (m_value != m_inlineValue)
      free(m_value);
   m_value = nullptr;
}

/* Replaces the value buffer with room for size bytes (contents undefined):
   the inline buffer when it is large enough, else a heap block. */
uint8_t *SNMP_Variable::AllocValue(uint32_t size)
{
   ReleaseValue();
   m_value = (size <= SNMP_VALUE_INLINE_BYTES) ? m_inlineValue : (uint8_t *)malloc(size);
   return m_value;
}

int SNMP_Variable::Parse(const uint8_t *data, uint32_t length)
{
   BerCursor c = {data, length};
   uint32_t type;
   BerCursor name, value;
   if (!BerGetElement(&c, &type, &name) || type != ASN_TYPE_OBJECT_ID ||
       !ZbOidAccess::Decode(&m_nameStorage, name.p, name.left))
      return 0;
   m_name = &m_nameStorage;

   if (!BerGetElement(&c, &type, &value))
      return 0;
   m_type = type;
   if (type == ASN_TYPE_INTEGER || IsUnsigned32Kind(type) || type == ASN_TYPE_COUNTER64)
   {
      uint64_t v;  /* room for either width */
      if (!BerDecodeValue(type, value.p, value.left, &v))
         return 0;
      uint32_t size = (type == ASN_TYPE_COUNTER64) ? 8 : 4;
      if (AllocValue(size) == nullptr)
         return 0;
      memcpy(m_value, &v, size);
      m_valueLength = size;
      return 1;
   }
   if (type == ASN_TYPE_OBJECT_ID)
   {
      m_valueLength = 0;
      if (value.left == 0)
      {
         ReleaseValue();
         return 1;
      }
      uint64_t room = ((uint64_t)value.left + 1) * sizeof(uint32_t);
      if (room > 0xFFFFFFFFULL || AllocValue((uint32_t)room) == nullptr)
         return 0;
      uint32_t ids[SNMP_VALUE_INLINE_BYTES / 4];
      uint32_t *dest = (m_value == m_inlineValue) ? ids : (uint32_t *)m_value;
      uint32_t count;
      if (!BerDecodeOidInto(value.p, value.left, dest, &count))
      {
         ReleaseValue();
         return 0;
      }
      if (dest == ids)
         memcpy(m_value, ids, (size_t)count * 4);
      m_valueLength = count * 4;
      return 1;
   }
   return SetRawValue(value.p, value.left);
}

/* The value becomes a copy of length bytes (none for 0). The source may lie
   in the current value: it is copied before the old block is released. 0
   when the copy cannot be allocated; the value is then empty. */
int SNMP_Variable::SetRawValue(const void *data, uint32_t length)
{
   uint8_t *block;
   if (length == 0)
      block = nullptr;
   else if (length <= SNMP_VALUE_INLINE_BYTES)
      block = m_inlineValue;
   else if ((block = (uint8_t *)malloc(length)) == nullptr)
   {
      ReleaseValue();
      m_valueLength = 0;
      return 0;
   }
   if (length > 0)
      memmove(block, data, length);  /* may overlap the inline buffer */
   if (m_value != m_inlineValue && m_value != block)
      free(m_value);
   m_value = block;
   m_valueLength = length;
   return 1;
}

uint64_t ZbVariableBound(SNMP_Variable *var)
{
   if (var == nullptr)
      return 0;
   SNMP_ObjectId *name = var->GetName();
   uint32_t type = var->GetType(), length = var->GetValueLength();
   if (name == nullptr || !BerOidWritable(name->GetValue(), name->Length()))
      return 0;
   /* A 32-bit or 64-bit kind must hold its whole number to be encoded, and an
      OID value must read back the same. */
   if (((type == ASN_TYPE_INTEGER || IsUnsigned32Kind(type)) && length < 4) ||
       (type == ASN_TYPE_COUNTER64 && length < 8) ||
       (type == ASN_TYPE_OBJECT_ID &&
        !BerOidWritable((const uint32_t *)var->GetValue(), length / 4)))
      return 0;
   return BER_MAX_HEADER                                           /* binding SEQUENCE */
          + BerElementBound(ASN_TYPE_OBJECT_ID, name->Length() * 4)  /* name */
          + BerElementBound(type, length);                          /* value */
}

uint8_t *ZbVariablePut(SNMP_Variable *var, uint8_t *out)
{
   SNMP_ObjectId *name = var->GetName();
   uint8_t *p = out + 2;
   uint8_t *content = p + 2 + BerEncodeOid(name->GetValue(), name->Length(), p + 2);
   p = BerCloseElement(p, ASN_TYPE_OBJECT_ID, content);
   content = p + 2 + BerEncodeValue(var->GetType(), var->GetValue(), var->GetValueLength(), p + 2);
   p = BerCloseElement(p, var->GetType(), content);
   uint8_t *end = BerCloseElement(out, ASN_TYPE_SEQUENCE, p);
   ZB_CHECK((uint64_t)(end - out) <= ZbVariableBound(var));
   return end;
}

uint32_t SNMP_Variable::Encode(uint8_t *buffer, uint32_t bufferSize)
{
   uint64_t bound = ZbVariableBound(this);
   if (buffer == nullptr || bound == 0)
      return 0;
   if (bound <= bufferSize)
      return (uint32_t)(ZbVariablePut(this, buffer) - buffer);
   /* The caller's buffer may still hold the exact encoding. */
   if (bound > 0xFFFFFFFFULL)
      return 0;
   std::unique_ptr<uint8_t, FreeDeleter> scratch((uint8_t *)malloc((size_t)bound));
   if (!scratch)
      return 0;
   uint32_t length = (uint32_t)(ZbVariablePut(this, scratch.get()) - scratch.get());
   if (length > bufferSize)
      return 0;
   memcpy(buffer, scratch.get(), length);
   return length;
}

uint32_t SNMP_Variable::GetValueAsUInt()
{
   if (m_type == ASN_TYPE_INTEGER || m_type == ASN_TYPE_IP_ADDRESS || IsUnsigned32Kind(m_type))
   {
      if (m_valueLength < 4)
         return 0;
      uint32_t v;
      memcpy(&v, m_value, 4);
      return v;
   }
   if (m_type == ASN_TYPE_COUNTER64 && m_valueLength >= 8)
   {
      uint64_t v;
      memcpy(&v, m_value, 8);
      return (uint32_t)v;
   }
   return 0;
}

int32_t SNMP_Variable::GetValueAsInt()
{
   return (int32_t)GetValueAsUInt();
}

char *SNMP_Variable::GetValueAsString(char *buffer, uint32_t bufferSize)
{
   if (buffer == nullptr || bufferSize == 0)
      return nullptr;
   buffer[0] = 0;
   if (m_type == ASN_TYPE_INTEGER && m_valueLength >= 4)
   {
      snprintf(buffer, bufferSize, "%d", (int)GetValueAsInt());
   }
   else if (IsUnsigned32Kind(m_type) && m_valueLength >= 4)
   {
      snprintf(buffer, bufferSize, "%u", (unsigned)GetValueAsUInt());
   }
   else if (m_type == ASN_TYPE_COUNTER64 && m_valueLength >= 8)
   {
      uint64_t v;
      memcpy(&v, m_value, 8);
      snprintf(buffer, bufferSize, "%llu", (unsigned long long)v);
   }
   else if (m_type == ASN_TYPE_OBJECT_ID)
   {
      SNMPConvertOIDToText(m_valueLength / 4, (const uint32_t *)m_value, buffer, bufferSize);
   }
   else if (m_type == ASN_TYPE_IP_ADDRESS)
   {
      if (bufferSize >= 16 && m_valueLength >= 4)
         IpToStr(GetBE32(m_value), buffer);
   }
   else if (m_type == ASN_TYPE_OCTET_STRING)
   {
      uint32_t n = (m_valueLength < bufferSize - 1) ? m_valueLength : bufferSize - 1;
      if (n > 0)
         memcpy(buffer, m_value, n);
      buffer[n] = 0;
   }
   return buffer;
}

SNMP_ObjectId *SNMP_Variable::GetValueAsObjectId()
{
   if (m_type != ASN_TYPE_OBJECT_ID)
      return nullptr;
   uint32_t count = m_valueLength / 4;
   SNMP_ObjectId *oid = new (std::nothrow) SNMP_ObjectId(count, (const uint32_t *)m_value);
   if (oid != nullptr && oid->Length() != count)
   {
      delete oid; /* its array could not be allocated */
      return nullptr;
   }
   return oid;
}

char *SNMP_Variable::GetValueAsMACAddr(char *buffer)
{
   if (m_type == ASN_TYPE_OCTET_STRING && m_valueLength >= 6)
   {
      snprintf(buffer, 18, "%02X:%02X:%02X:%02X:%02X:%02X", m_value[0], m_value[1], m_value[2],
               m_value[3], m_value[4], m_value[5]);
   }
   else
   {
      strcpy(buffer, "00:00:00:00:00:00");
   }
   return buffer;
}

char *SNMP_Variable::GetValueAsIPAddr(char *buffer)
{
   if (m_valueLength >= 4)
      IpToStr(GetBE32(m_value), buffer);
   else
      strcpy(buffer, "0.0.0.0");
   return buffer;
}

/* strtol with base 0 as on a platform with a 32-bit long: out-of-range texts
   saturate. */
static int32_t ParseInt32(const char *text)
{
   long long v = strtoll(text, nullptr, 0);
   if (v > INT32_MAX)
      return INT32_MAX;
   if (v < INT32_MIN)
      return INT32_MIN;
   return (int32_t)v;
}

/* strtoul with base 0 and a 32-bit unsigned long: a magnitude above 2^32 - 1
   saturates, a minus sign negates modulo 2^32. */
static uint32_t ParseUInt32(const char *text)
{
   const char *p = text;
   while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
      p++;
   bool negative = (*p == '-');
   if (*p == '-' || *p == '+')
      p++;
   if (*p == '-' || *p == '+')
      return 0;
   uint64_t magnitude = zb_strtoull(p, nullptr, 0);
   if (magnitude > 0xFFFFFFFFULL)
      return 0xFFFFFFFFU;
   return negative ? (uint32_t)(0 - magnitude) : (uint32_t)magnitude;
}

void SNMP_Variable::SetValueFromString(uint32_t type, const char *value)
{
   if (value == nullptr)
      value = "";
   m_type = type;
   if (type == ASN_TYPE_INTEGER || IsUnsigned32Kind(type) || type == ASN_TYPE_IP_ADDRESS)
   {
      uint32_t v;
      if (type == ASN_TYPE_INTEGER)
         v = (uint32_t)ParseInt32(value);
      else if (type == ASN_TYPE_IP_ADDRESS)
         v = (uint32_t)inet_addr(value);
      else
         v = ParseUInt32(value);
      if (AllocValue(4) == nullptr)
      {
         m_valueLength = 0;
         return;
      }
      memcpy(m_value, &v, 4);
      m_valueLength = 4;
   }
   else if (type == ASN_TYPE_COUNTER64)
   {
      uint64_t v = zb_strtoull(value, nullptr, 0);
      if (AllocValue(8) == nullptr)
      {
         m_valueLength = 0;
         return;
      }
      memcpy(m_value, &v, 8);
      m_valueLength = 8;
   }
   else if (type == ASN_TYPE_OCTET_STRING)
   {
      uint32_t len = (uint32_t)strlen(value);
      SetRawValue(value, len);
   }
   else if (type == ASN_TYPE_OBJECT_ID)
   {
      uint32_t ids[OID_VALUE_PARSE_LIMIT];
      uint32_t count = SNMPParseOID(value, ids, OID_VALUE_PARSE_LIMIT);
      /* Text that is no OID, and a value that cannot be allocated, give 0.0. */
      if (count == 0 || !SetRawValue(ids, count * 4))
      {
         ids[0] = ids[1] = 0;
         SetRawValue(ids, 8);
      }
   }
}
