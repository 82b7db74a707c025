/* BER codec for the subset SNMP v1/v2c uses (X.690 with one-octet identifiers
   and definite lengths of at most four length octets). */
#include "internal.h"

#include <string.h>

static bool IsInt32Kind(uint32_t type)
{
   return type == ASN_TYPE_INTEGER || type == ASN_TYPE_COUNTER32 || type == ASN_TYPE_GAUGE32 ||
          type == ASN_TYPE_TIMETICKS || type == ASN_TYPE_UINTEGER32;
}

/* Sign-extended big-endian value of 1..maxLen octets; with maxLen + 1 octets
   the first is dropped (the unsigned form with a leading zero octet). */
static int DecodeInteger(const uint8_t *content, uint32_t length, uint32_t width, uint64_t *out)
{
   if (length == 0 || length > width + 1)
      return 0;
   uint64_t v = (content[0] & 0x80) ? UINT64_MAX : 0;
   uint32_t i = (length == width + 1) ? 1 : 0;
   for (; i < length; i++)
      v = (v << 8) | content[i];
   *out = v;
   return 1;
}

int BerDecodeOidInto(const uint8_t *content, uint32_t length, uint32_t *ids, uint32_t *countOut)
{
   if (length == 0)
   {
      *countOut = 0;
      return 1;
   }
   /* X.690 8.19: every sub-identifier ends with an octet whose top bit is
      clear; a content that ends inside one is no OID. */
   if (content[length - 1] & 0x80)
      return 0;
   /* The first sub-identifier is 40 * first + second; under the first arc 2
      the second arc takes the rest, so it may span several octets and reach
      2^32 - 1 + 80. */
   const uint64_t firstMax = 0xFFFFFFFFULL + 80;
   uint64_t first = content[0] & 0x7F;
   uint32_t i = 1;
   while (content[i - 1] & 0x80)  /* ends within the content: its last octet is clear */
   {
      first = (first << 7) | (content[i++] & 0x7F);
      if (first > firstMax)
         return 0;
   }
   if (first < 40)
   {
      ids[0] = 0;
      ids[1] = (uint32_t)first;
   }
   else if (first < 80)
   {
      ids[0] = 1;
      ids[1] = (uint32_t)(first - 40);
   }
   else
   {
      ids[0] = 2;
      ids[1] = (uint32_t)(first - 80);
   }
   uint32_t count = 2;
   uint32_t acc = 0;
   for (; i < length; i++)
   {
      uint8_t b = content[i];
      if (b < 0x80 && acc == 0)
      {
         ids[count++] = b;  /* the common case: a one-octet sub-identifier */
         continue;
      }
      /* Seven more bits would pass 2^32 - 1: such an arc cannot be held, and
         cutting it would alias another OID. */
      if (acc > (0xFFFFFFFFU >> 7))
         return 0;
      acc = (acc << 7) | (b & 0x7F);
      if ((b & 0x80) == 0)
      {
         ids[count++] = acc;
         acc = 0;
      }
   }
   *countOut = count;
   return 1;
}

int BerDecodeValue(uint32_t type, const uint8_t *content, uint32_t length, void *out)
{
   if (IsInt32Kind(type))
   {
      uint64_t v;
      if (!DecodeInteger(content, length, 4, &v))
         return 0;
      uint32_t v32 = (uint32_t)v;
      memcpy(out, &v32, 4);
      return 1;
   }
   if (type == ASN_TYPE_COUNTER64)
   {
      uint64_t v;
      if (!DecodeInteger(content, length, 8, &v))
         return 0;
      memcpy(out, &v, 8);
      return 1;
   }
   if (type == ASN_TYPE_OBJECT_ID)
   {
      BerOidValue *oid = (BerOidValue *)out;
      if (length == 0)
         return 1;
      if ((size_t)length > SIZE_MAX / sizeof(uint32_t) - 1)
         return 0;
      uint32_t *ids = (uint32_t *)malloc(((size_t)length + 1) * sizeof(uint32_t));
      uint32_t count;
      if (ids == nullptr || !BerDecodeOidInto(content, length, ids, &count))
      {
         free(ids);
         return 0;
      }
      oid->count = count;
      oid->ids = ids;
      return 1;
   }
   if (length > 0)
      memcpy(out, content, length);
   return 1;
}

/* Base-128 groups of a sub-identifier: 1 up to 0x7F, ..., 5 above 0x0FFFFFFF. */
static inline uint32_t SubIdLength(uint32_t v)
{
#if defined(__GNUC__) || defined(__clang__)
   uint32_t bits = 32 - (uint32_t)__builtin_clz(v | 1);
   return (bits + 6) / 7;
#else
   return v <= 0x7F ? 1 : v <= 0x3FFF ? 2 : v <= 0x1FFFFF ? 3 : v <= 0x0FFFFFFF ? 4 : 5;
#endif
}

static uint32_t UnsignedLength(uint64_t v, uint32_t width)
{
   uint32_t n = width;
   while (n > 1 && ((v >> ((n - 1) * 8)) & 0xFF) == 0)
      n--;
   /* A top bit set would read as negative: one more zero octet. */
   return ((v >> ((n - 1) * 8)) & 0x80) ? n + 1 : n;
}

static uint32_t SignedLength(int32_t v)
{
   uint32_t n = 4;
   uint32_t u = (uint32_t)v;
   while (n > 1)
   {
      uint32_t top9 = (u >> ((n - 1) * 8 - 1)) & 0x1FF;
      if (top9 != 0 && top9 != 0x1FF)
         break;
      n--;
   }
   return n;
}

static uint32_t LoadU32(const void *data)
{
   uint32_t v;
   memcpy(&v, data, 4);
   return v;
}

uint32_t BerContentLength(uint32_t type, const void *data, uint32_t length)
{
   if (type == ASN_TYPE_INTEGER)
      return SignedLength((int32_t)LoadU32(data));
   if (IsInt32Kind(type))
      return UnsignedLength(LoadU32(data), 4);
   if (type == ASN_TYPE_COUNTER64)
   {
      uint64_t v;
      memcpy(&v, data, 8);
      return UnsignedLength(v, 8);
   }
   if (type == ASN_TYPE_NULL)
      return 0;
   if (type == ASN_TYPE_OBJECT_ID)
   {
      uint32_t count = length / 4;
      if (count < 2)
         return 0;
      const uint8_t *bytes = (const uint8_t *)data;
      uint64_t first = 40 * (uint64_t)LoadU32(bytes) + LoadU32(bytes + 4);
      uint32_t total = (first <= 0xFFFFFFFFU) ? SubIdLength((uint32_t)first) : 5;
      for (uint32_t i = 2; i < count; i++)
         total += SubIdLength(LoadU32(bytes + (size_t)i * 4));
      return total;
   }
   return length;
}

uint32_t BerWriteHeader(uint32_t type, uint32_t contentLength, uint8_t *out)
{
   out[0] = (uint8_t)type;
   if (contentLength < 0x80)
   {
      out[1] = (uint8_t)contentLength;
      return 2;
   }
   uint32_t n = BerHeaderLength(contentLength) - 2;
   out[1] = (uint8_t)(0x80 | n);
   for (uint32_t i = 0; i < n; i++)
      out[2 + i] = (uint8_t)(contentLength >> ((n - 1 - i) * 8));
   return 2 + n;
}

static uint32_t PutUnsigned(uint64_t v, uint32_t n, uint8_t *out)
{
   for (uint32_t i = 0; i < n; i++)
      out[i] = (n - 1 - i) < 8 ? (uint8_t)(v >> ((n - 1 - i) * 8)) : 0;
   return n;
}

uint32_t BerEncodeValue(uint32_t type, const void *data, uint32_t length, uint8_t *out)
{
   switch (type)
   {
      case ASN_TYPE_OBJECT_ID:
         return BerEncodeOid((const uint32_t *)data, length / 4, out);
      case ASN_TYPE_INTEGER:
      {
         uint32_t v = LoadU32(data);
         return PutUnsigned(v, SignedLength((int32_t)v), out);
      }
      case ASN_TYPE_COUNTER32:
      case ASN_TYPE_GAUGE32:
      case ASN_TYPE_TIMETICKS:
      case ASN_TYPE_UINTEGER32:
      {
         uint32_t v = LoadU32(data);
         return PutUnsigned(v, UnsignedLength(v, 4), out);
      }
      case ASN_TYPE_COUNTER64:
      {
         uint64_t v;
         memcpy(&v, data, 8);
         return PutUnsigned(v, UnsignedLength(v, 8), out);
      }
      case ASN_TYPE_NULL:
         return 0;
      default:
         if (length > 0)
            memcpy(out, data, length);
         return length;
   }
}

uint8_t *BerCloseLongElement(uint8_t *start, uint32_t type, uint8_t *end)
{
   uint32_t length = (uint32_t)(end - start - 2);
   uint32_t header = BerHeaderLength(length);
   if (header > 2)
      memmove(start + header, start + 2, length);
   BerWriteHeader(type, length, start);
   return start + header + length;
}

uint32_t BerWriteElement(uint32_t type, const void *data, uint32_t length, uint8_t *out,
                         uint32_t outSize)
{
   if (outSize < 2)
      return 0;
   if (type == ASN_TYPE_OBJECT_ID && !BerOidWritable((const uint32_t *)data, length / 4))
      return 0;
   uint32_t contentLength = BerContentLength(type, data, length);
   uint32_t header = BerHeaderLength(contentLength);
   if (outSize < header || outSize - header < contentLength)
      return 0;
   BerWriteHeader(type, contentLength, out);
   BerEncodeValue(type, data, length, out + header);
   return header + contentLength;
}
