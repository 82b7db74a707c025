/* Internal routines of libzbsnmp: base helpers, byte order and the BER codec.
   Not installed; not exported (hidden visibility). */
#ifndef ZBSNMP_INTERNAL_H
#define ZBSNMP_INTERNAL_H

#include "zbsnmp.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <memory>

/* ---- Base routines ---- */

/* Copy of size bytes from src in a new malloc block; NULL for size 0. */
void *zb_memdup(const void *src, uint32_t size);
/* Writes the address (host byte order) as dotted decimal into buffer (>= 16 bytes). */
char *IpToStr(uint32_t addr, char *buffer);
/* Unsigned 64-bit value of text under base 0 (0x hex, leading 0 octal, else
   decimal); saturates at UINT64_MAX; a leading '-' negates modulo 2^64. */
uint64_t zb_strtoull(const char *text, char **end, int base);
uint64_t zb_bswap_64(uint64_t v);
/* strdup on the malloc heap; NULL for NULL. */
char *zb_strdup(const char *s);

struct FreeDeleter
{
   void operator()(void *p) const { free(p); }
};

/* ---- Debug checks ----
   ZB_CHECK states an invariant of the library's own code, never a property of
   its input. It is active in Debug builds and in sanitizer and fuzz builds,
   where a broken invariant aborts with its place; release builds drop it. */
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__)
#define ZB_CHECKS_ACTIVE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZB_CHECKS_ACTIVE 1
#endif
#endif
[[noreturn]] void ZbCheckFailed(const char *what, const char *file, int line);
#ifdef ZB_CHECKS_ACTIVE
#define ZB_CHECK(cond) ((cond) ? (void)0 : ZbCheckFailed(#cond, __FILE__, __LINE__))
#else
#define ZB_CHECK(cond) ((void)0)
#endif

/* ---- Byte order ---- */
static inline uint16_t GetBE16(const uint8_t *p) { return (uint16_t)((p[0] << 8) | p[1]); }
static inline uint32_t GetBE32(const uint8_t *p)
{
   return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | p[3];
}
static inline void PutBE16(uint8_t *p, uint16_t v)
{
   p[0] = (uint8_t)(v >> 8);
   p[1] = (uint8_t)v;
}
static inline void PutBE32(uint8_t *p, uint32_t v)
{
   p[0] = (uint8_t)(v >> 24);
   p[1] = (uint8_t)(v >> 16);
   p[2] = (uint8_t)(v >> 8);
   p[3] = (uint8_t)v;
}

/* ---- Limits ---- */
#define OID_TEXT_PARSE_LIMIT 128   /* sub-identifiers of a name given as text */
#define OID_VALUE_PARSE_LIMIT 256  /* sub-identifiers of an OID value given as text */
#define BER_MAX_HEADER 6           /* identifier, 0x84, four length octets */
#define MIB_MAX_DEPTH 1024         /* nesting of object records a MIB file may hold */
/* What one MIB file load may build (a small compressed file must not demand
   unbounded memory). The tree of the 463 IETF, IANA and Net-SNMP modules has
   33,848 nodes and, with its 8.6 MB of descriptions, a 10 MB body: the bounds
   are 31 and 53 times that. */
#define MIB_MAX_LOAD_NODES (1u << 20) /* 1,048,576 nodes, the root included */
#define MIB_MAX_LOAD_BYTES (1u << 29) /* 512 MiB of body, after decompression */

/* ---- BER ---- */

/* Decoded OBJECT IDENTIFIER: count and a malloc'ed array (owned by the caller). */
struct BerOidValue
{
   uint32_t count;
   uint32_t *ids;
};

/* Reads the identifier and length octets at data; never reads past available.
   Fails (0) for the high-tag-number form, the indefinite form, more than four
   length octets, or header octets beyond available. The content itself may
   run past available: callers check that. Outputs are written only on success. */
static inline int BerReadHeader(const uint8_t *data, uint32_t available, uint32_t *type,
                                uint32_t *length, const uint8_t **content, uint32_t *headerSize);

/* Decodes a primitive content into its in-memory form (see the type table):
   32-bit kinds into 4 bytes, Counter64 into 8, OID into a BerOidValue, other
   types copied. Fails (0) for integer contents of a bad length, for an OID
   content that BerDecodeOidInto rejects and when the OID array cannot be
   allocated; the output is then untouched. */
int BerDecodeValue(uint32_t type, const uint8_t *content, uint32_t length, void *out);

/* Number of content octets BerEncodeValue produces for this value. */
uint32_t BerContentLength(uint32_t type, const void *data, uint32_t length);
/* Octets taken by the identifier and length octets for a content length. */
static inline uint32_t BerHeaderLength(uint32_t contentLength)
{
   return contentLength < 0x80 ? 2 : contentLength < 0x100 ? 3 : contentLength < 0x10000 ? 4
                                   : contentLength < 0x1000000 ? 5 : 6;
}
/* Writes identifier and minimal length octets; returns their count. out must
   have room for BerHeaderLength(contentLength) octets. */
uint32_t BerWriteHeader(uint32_t type, uint32_t contentLength, uint8_t *out);
/* Writes the content octets of a value; out must hold BerContentLength octets,
   and an OID must be BerOidWritable. */
uint32_t BerEncodeValue(uint32_t type, const void *data, uint32_t length, uint8_t *out);
/* Writes a complete element; 0 when it does not fit in outSize, or for an OID
   that is not BerOidWritable. */
uint32_t BerWriteElement(uint32_t type, const void *data, uint32_t length, uint8_t *out,
                         uint32_t outSize);

/* Cursor over a bounded byte range; helpers advance only on success. */
struct BerCursor
{
   const uint8_t *p;
   uint32_t left;
};
/* Takes one whole element (header and content within the cursor). */
static inline int BerGetElement(BerCursor *c, uint32_t *type, BerCursor *content);

/* ---- Inline definitions of the header readers (hot in every parser) ---- */
static inline int BerReadHeader(const uint8_t *data, uint32_t available, uint32_t *type, uint32_t *length,
                  const uint8_t **content, uint32_t *headerSize)
{
   if (data == nullptr || available < 2)
      return 0;
   uint8_t id = data[0];
   if ((id & 0x1F) == 0x1F) /* X.690 8.1.2.4: high-tag-number form */
      return 0;
   uint8_t first = data[1];
   uint32_t len, hdr;
   if ((first & 0x80) == 0)
   {
      len = first;
      hdr = 2;
   }
   else
   {
      uint32_t n = first & 0x7F;
      if (n == 0 || n > 4) /* 0x80 is the indefinite form (X.690 8.1.3.6) */
         return 0;
      if (available - 2 < n)
         return 0;
      len = 0;
      for (uint32_t i = 0; i < n; i++)
         len = (len << 8) | data[2 + i];
      hdr = 2 + n;
   }
   *type = id;
   *length = len;
   *content = data + hdr;
   *headerSize = hdr;
   return 1;
}

static inline int BerGetElement(BerCursor *c, uint32_t *type, BerCursor *content)
{
   uint32_t t, len, hdr;
   const uint8_t *start;
   if (!BerReadHeader(c->p, c->left, &t, &len, &start, &hdr))
      return 0;
   if (len > c->left - hdr)
      return 0;
   *type = t;
   content->p = start;
   content->left = len;
   c->p += hdr + len;
   c->left -= hdr + len;
   return 1;
}

/* Decodes OBJECT IDENTIFIER content (X.690 8.19) into ids, which has room
   for length + 1 sub-identifiers, and stores their count (0 for an empty
   content). The first sub-identifier v, of one or more octets, holds the
   first two arcs: 0.v below 40, 1.(v - 40) below 80, else 2.(v - 80).
   Fails (0, *count untouched, ids may be written) when the content ends
   inside a sub-identifier or holds an arc of 2^32 or more: cutting either
   would alias another, real OID. */
int BerDecodeOidInto(const uint8_t *content, uint32_t length, uint32_t *ids, uint32_t *count);

/* ---- Access to SNMP_ObjectId internals ---- */
struct ZbOidAccess
{
   /* Replaces the value with the OID that BER content encodes; 0 when the
      content is no valid OID or its array cannot be allocated, and the
      object is then left as it was. */
   static int Decode(SNMP_ObjectId *oid, const uint8_t *content, uint32_t length);
};

/* ---- Access to SNMP_PDU internals ---- */

/* The longest engine ID, user name or context name of SNMPv3 (RFC 3411
   SnmpEngineID and SnmpAdminString as USM and the scopedPDU use them). */
#define ZB_V3_MAX_OCTETS 32

/* What a received SNMPv3 message said around its PDU. */
struct ZbPduSecurity
{
   uint32_t msgId;
   uint32_t level;
   uint8_t engineId[ZB_V3_MAX_OCTETS];
   uint32_t engineIdLength;
   uint8_t contextEngineId[ZB_V3_MAX_OCTETS];
   uint32_t contextEngineIdLength;
   char user[ZB_V3_MAX_OCTETS + 1];
   char contextName[ZB_V3_MAX_OCTETS + 1];
};

struct ZbPduAccess
{
   /* Encodes the Response that acknowledges an InformRequest (RFC 3416
      4.2.7) into a new malloc block; its length, or 0 (slot untouched) when
      the PDU is no inform or does not encode. With elementOnly, the PDU
      element alone (for an SNMPv3 message), else the whole v1/v2c message. */
   static uint32_t EncodeInformResponse(SNMP_PDU *inform, uint8_t **buffer,
                                        bool elementOnly = false);
   /* The PDU element alone (tag, length, content), as an SNMPv3 scopedPDU
      carries it, into a new malloc block; its length, or 0 (slot untouched)
      when the PDU does not encode. Versions 2c and 3 take the tags of SNMPv2c,
      version 3 the Report too; the community is not written. */
   static uint32_t EncodeElement(SNMP_PDU *pdu, uint8_t **buffer);
   /* Parses the PDU element of an SNMPv3 scopedPDU on a PDU made with the
      constructor without arguments: the SNMPv2 PDUs as the v1/v2c parser
      takes them, and the Report (0xA8, request layout) as SNMP_CMD_REPORT;
      an SNMPv1 trap (0xA4) fails. Octets behind the element are
      ignored. 1 on success; on failure the PDU holds what was parsed (the
      caller deletes it). The version and community are not set. */
   static int ParseElement(SNMP_PDU *pdu, const uint8_t *data, uint32_t length);
   /* Makes the PDU one of version 3 with the facts of the message that
      carried it (copied) and an empty community. 0 when no memory is left. */
   static int SetSecurity(SNMP_PDU *pdu, const ZbPduSecurity &facts);
   static const ZbPduSecurity *Security(const SNMP_PDU *pdu) { return pdu->m_security; }
};

/* ---- Writing in place ----
   An element is written by putting its content two octets behind its start
   (room for the short header form) and then closing it with BerCloseElement,
   which writes the header and moves the content when the long form needs
   more room. Buffers are sized from upper bounds, so that the content is
   produced once, never measured and written twice. */

/* Largest content octets BerEncodeValue can produce for this value. */
static inline uint64_t BerContentBound(uint32_t type, uint32_t length)
{
   switch (type)
   {
      case ASN_TYPE_INTEGER:
      case ASN_TYPE_COUNTER32:
      case ASN_TYPE_GAUGE32:
      case ASN_TYPE_TIMETICKS:
      case ASN_TYPE_UINTEGER32:
         return 5;
      case ASN_TYPE_COUNTER64:
         return 9;
      case ASN_TYPE_NULL:
         return 0;
      case ASN_TYPE_OBJECT_ID:
         /* The first two arcs take up to five octets (2.(2^32 - 1) is
            2^32 + 79), every further arc up to five. */
         return (length / 4 < 2) ? 0 : 5 * (uint64_t)(length / 4 - 1);
      default:
         return length;
   }
}
/* Largest whole element for this value: its content bound and the longest
   header. An element is written with two octets kept for its header and moved
   when it needs the long form, so the longest header covers that move too. */
static inline uint64_t BerElementBound(uint32_t type, uint32_t length)
{
   return BER_MAX_HEADER + BerContentBound(type, length);
}
uint8_t *BerCloseLongElement(uint8_t *start, uint32_t type, uint8_t *end);
/* Writes the header of the element that starts at start and whose content
   was written from start + 2 up to end; returns the element's new end. The
   buffer must have room for up to four octets more than end. */
static inline uint8_t *BerCloseElement(uint8_t *start, uint32_t type, uint8_t *end)
{
   size_t length = (size_t)(end - start - 2);
   if (length < 0x80)
   {
      start[0] = (uint8_t)type;
      start[1] = (uint8_t)length;
      return end;
   }
   return BerCloseLongElement(start, type, end);
}
/* 1 when an OID can be written so that it reads back the same: X.690 8.19.4
   packs the first two arcs into one number, which leaves room for a first
   arc of 0, 1 or 2 and, under 0 and 1, a second arc below 40. An OID of
   fewer than two arcs is written as an empty content. */
static inline int BerOidWritable(const uint32_t *ids, uint32_t count)
{
   return count < 2 || (ids[0] < 2 ? ids[1] < 40 : ids[0] == 2);
}
/* Writes one sub-identifier in base-128 groups, most significant first,
   every group but the last with its top bit set; returns the end. Further
   arcs are 32-bit values; the first sub-identifier (40 * first + second)
   may need 35 bits. */
template <typename T>
static inline uint8_t *BerPutSubId(T v, uint8_t *p)
{
   if (v < 0x80)
   {
      *p++ = (uint8_t)v; /* the common case: one group */
      return p;
   }
   int shift = 28;
   while ((v >> shift) == 0)
      shift -= 7;
   for (; shift > 0; shift -= 7)
      *p++ = (uint8_t)(0x80 | ((v >> shift) & 0x7F));
   *p++ = (uint8_t)(v & 0x7F);
   return p;
}
/* Writes OBJECT IDENTIFIER content (X.690 8.19: 40 * first + second as one
   sub-identifier, then the further arcs); returns its length. The OID must
   be BerOidWritable. */
static inline uint32_t BerEncodeOid(const uint32_t *ids, uint32_t count, uint8_t *out)
{
   if (count < 2)
      return 0;
   ZB_CHECK(BerOidWritable(ids, count));
   uint8_t *p = BerPutSubId(40 * (uint64_t)ids[0] + ids[1], out);
   for (uint32_t i = 2; i < count; i++)
   {
      uint32_t v = ids[i];
      if (v < 0x80)
         *p++ = (uint8_t)v; /* the common case: one group */
      else
         p = BerPutSubId(v, p);
   }
   return (uint32_t)(p - out);
}

/* Upper bound of a binding's encoded size; 0 when the variable cannot be
   encoded (no name, or an integer value shorter than its type). */
uint64_t ZbVariableBound(SNMP_Variable *var);
/* Writes the binding at out (room: ZbVariableBound); returns the end. */
uint8_t *ZbVariablePut(SNMP_Variable *var, uint8_t *out);

#endif
