/* Object identifiers: text conversion, parsing and SNMP_ObjectId. */
#include "internal.h"

#include <string.h>

/* Decimal digits of v into out (no terminator); returns their count (1..10). */
static uint32_t FormatUInt(uint32_t v, char *out)
{
   char tmp[10];
   uint32_t n = 0;
   do
   {
      tmp[n++] = (char)('0' + v % 10);
      v /= 10;
   } while (v != 0);
   for (uint32_t i = 0; i < n; i++)
      out[i] = tmp[n - 1 - i];
   return n;
}

char *SNMPConvertOIDToText(uint32_t length, const uint32_t *value, char *buffer,
                           uint32_t bufferSize)
{
   if (buffer == nullptr || bufferSize == 0)
      return buffer;
   uint32_t pos = 0;
   const uint32_t room = bufferSize - 1;
   for (uint32_t i = 0; i < length && pos < room; i++)
   {
      char part[11];
      part[0] = '.';
      uint32_t n = 1 + FormatUInt(value[i], part + 1);
      uint32_t take = (n < room - pos) ? n : room - pos;
      memcpy(buffer + pos, part, take);
      pos += take;
   }
   buffer[pos] = 0;
   return buffer;
}

uint32_t SNMPParseOID(const char *text, uint32_t *buffer, uint32_t bufferSize)
{
   if (text == nullptr || *text == 0)
      return 0;
   const char *p = text;
   if (*p == '.')
      p++;
   if (*p == 0)
      return 0;
   uint32_t count = 0;
   while (count < bufferSize)
   {
      uint64_t value = 0;
      int digits = 0;
      while (*p >= '0' && *p <= '9')
      {
         if (++digits > 15)
            return 0;
         value = value * 10 + (uint64_t)(*p - '0');
         p++;
      }
      if (*p != '.' && *p != 0)
         return 0;
      buffer[count++] = (value > 0xFFFFFFFFULL) ? 0xFFFFFFFFU : (uint32_t)value;
      if (*p == 0)
         break;
      p++;
   }
   return count;
}

int SNMPIsCorrectOID(const char *text)
{
   uint32_t scratch[OID_TEXT_PARSE_LIMIT];
   return SNMPParseOID(text, scratch, OID_TEXT_PARSE_LIMIT) != 0 ? 1 : 0;
}

SNMP_ObjectId::SNMP_ObjectId()
    : m_subIdCount(0), m_subIds(nullptr), m_text(nullptr), m_hasValue(false)
{
}

SNMP_ObjectId::SNMP_ObjectId(uint32_t length, const uint32_t *value)
    : m_subIdCount(0), m_subIds(nullptr), m_text(nullptr), m_hasValue(true)
{
   SetValue(value, length);
}

SNMP_ObjectId::~SNMP_ObjectId()
{
   if (m_subIds != m_inline)
      free(m_subIds);
   free(m_text);
}

/* Storage for at least capacity sub-identifiers: the inline array when it is
   large enough, else a new heap block. */
static uint32_t *Storage(uint32_t *inlineIds, uint32_t capacity)
{
   if (capacity <= SNMP_OID_INLINE_IDS)
      return inlineIds;
   if ((size_t)capacity > SIZE_MAX / sizeof(uint32_t))
      return nullptr;
   return (uint32_t *)malloc((size_t)capacity * sizeof(uint32_t));
}

int ZbOidAccess::Decode(SNMP_ObjectId *oid, const uint8_t *content, uint32_t length)
{
   uint32_t count = 0;
   uint32_t *ids = nullptr;
   if (length > 0)
   {
      /* Room for length + 1 sub-identifiers; the inline array is decoded into
         directly unless it holds the current value, which must survive a
         failed decode. */
      uint32_t local[SNMP_OID_INLINE_IDS];
      if (length < SNMP_OID_INLINE_IDS)
         ids = (oid->m_subIds == oid->m_inline) ? local : oid->m_inline;
      else if ((size_t)length < SIZE_MAX / sizeof(uint32_t))
         ids = (uint32_t *)malloc(((size_t)length + 1) * sizeof(uint32_t));
      if (ids == nullptr)
         return 0;
      if (!BerDecodeOidInto(content, length, ids, &count))
      {
         if (ids != local && ids != oid->m_inline)
            free(ids);
         return 0;
      }
      if (ids == local)
      {
         memcpy(oid->m_inline, local, (size_t)count * sizeof(uint32_t));
         ids = oid->m_inline;
      }
   }
   if (oid->m_subIds != oid->m_inline && oid->m_subIds != ids)
      free(oid->m_subIds);
   free(oid->m_text);
   oid->m_text = nullptr;
   oid->m_subIds = ids;
   oid->m_subIdCount = count;
   oid->m_hasValue = true;
   return 1;
}

void SNMP_ObjectId::ConvertToText()
{
   /* Real length of the dotted text: a dot and up to ten digits each. */
   size_t size = 1;
   for (uint32_t i = 0; i < m_subIdCount; i++)
   {
      uint32_t v = m_subIds[i];
      size_t digits = 1;
      while (v >= 10)
      {
         v /= 10;
         digits++;
      }
      size += 1 + digits;
   }
   char *text = (char *)malloc(size);
   if (text == nullptr)
      return;
   SNMPConvertOIDToText(m_subIdCount, m_subIds, text, (uint32_t)size);
   free(m_text);
   m_text = text;
}

const char *SNMP_ObjectId::GetValueAsText()
{
   if (!m_hasValue)
      return "(null)";
   if (m_text == nullptr)
      ConvertToText();
   return (m_text != nullptr) ? m_text : ""; /* the text could not be allocated */
}

int SNMP_ObjectId::Compare(const uint32_t *value, uint32_t length) const
{
   if (value == nullptr || length == 0 || m_subIds == nullptr)
      return OID_CMP_ERROR;
   uint32_t common = (length < m_subIdCount) ? length : m_subIdCount;
   if (memcmp(value, m_subIds, (size_t)common * 4) != 0)
      return OID_CMP_DIFFERENT;
   if (length == m_subIdCount)
      return OID_CMP_EQUAL;
   return (length < m_subIdCount) ? OID_CMP_LONGER : OID_CMP_SHORTER;
}

int SNMP_ObjectId::Compare(const char *text) const
{
   uint32_t buffer[OID_TEXT_PARSE_LIMIT];
   uint32_t length = SNMPParseOID(text, buffer, OID_TEXT_PARSE_LIMIT);
   if (length == 0)
      return OID_CMP_ERROR;
   return Compare(buffer, length);
}

void SNMP_ObjectId::SetValue(const uint32_t *value, uint32_t length)
{
   if (value == nullptr)
      length = 0;
   /* The new value is copied before the old array is released: the source may
      be this object's own array. */
   uint32_t *ids = (length > 0) ? Storage(m_inline, length) : nullptr;
   if (ids != nullptr)
      memmove(ids, value, (size_t)length * sizeof(uint32_t));
   if (m_subIds != m_inline && m_subIds != ids)
      free(m_subIds);
   m_subIds = ids;
   m_subIdCount = (ids != nullptr) ? length : 0;
   free(m_text);
   m_text = nullptr;
   m_hasValue = true;
}

void SNMP_ObjectId::Extend(uint32_t subId)
{
   uint32_t count = m_subIdCount + 1;
   uint32_t *ids;
   if (m_subIds != nullptr && m_subIds != m_inline)
   {
      ids = (uint32_t *)realloc(m_subIds, (size_t)count * sizeof(uint32_t));
   }
   else
   {
      ids = Storage(m_inline, count);
      if (ids != nullptr && ids != m_inline && m_subIdCount > 0)
         memcpy(ids, m_inline, (size_t)m_subIdCount * sizeof(uint32_t));
   }
   if (ids == nullptr)
      return;
   ids[m_subIdCount] = subId;
   m_subIds = ids;
   m_subIdCount = count;
   free(m_text);
   m_text = nullptr;
   m_hasValue = true;
}

int SNMP_ObjectId::CompareOrder(const uint32_t *value, uint32_t length) const
{
   if (value == nullptr)
      length = 0;
   uint32_t own = (m_subIds != nullptr) ? m_subIdCount : 0;
   uint32_t common = (length < own) ? length : own;
   for (uint32_t i = 0; i < common; i++)
      if (m_subIds[i] != value[i])
         return (m_subIds[i] < value[i]) ? -1 : 1;
   return (own == length) ? 0 : (own < length ? -1 : 1);
}

int SNMP_ObjectId::CompareOrder(const SNMP_ObjectId *other) const
{
   if (other == nullptr)
      return CompareOrder(nullptr, 0);
   return CompareOrder(other->m_subIds, other->m_subIdCount);
}
