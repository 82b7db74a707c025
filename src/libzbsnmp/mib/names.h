/* Internal pieces of name translation and value texts: the translator's
   index over a tree, and the bounded text writer the formatters share. */
#ifndef ZBSNMP_MIB_NAMES_H
#define ZBSNMP_MIB_NAMES_H

#include "internal.h"

#include <string.h>

#include <string_view>
#include <vector>

/* Opaque and the types Net-SNMP wraps in it (an Opaque holding a BER element
   with an application tag of the extension range, RFC 1442 draft types). */
#define ZB_OPAQUE_TAG1 0x9F       /* first identifier octet of the wrapped element */
#define ZB_OPAQUE_COUNTER64 0x76
#define ZB_OPAQUE_FLOAT 0x78
#define ZB_OPAQUE_DOUBLE 0x79
#define ZB_OPAQUE_INT64 0x7A
#define ZB_OPAQUE_UINT64 0x7B

/* Appends text to a caller's buffer the way snprintf does: counts every
   character, stores those that fit, keeps the buffer terminated. */
struct ZbText
{
   char *buf;
   uint32_t size;
   uint32_t len;

   ZbText(char *b, uint32_t s) : buf(b), size(s), len(0)
   {
      if (size > 0)
         buf[0] = 0;
   }
   void Put(const char *s, size_t n)
   {
      if (len < size)
      {
         size_t room = size - 1 - len;
         size_t take = n < room ? n : room;
         memcpy(buf + len, s, take);
         buf[len + take] = 0;
      }
      len = (n > UINT32_MAX - len) ? UINT32_MAX : len + (uint32_t)n;
   }
   void Put(const char *s) { Put(s, strlen(s)); }
   void Put(char c) { Put(&c, 1); }
   void PutUInt(uint64_t v);
   void PutInt(int64_t v);
   void Printf(const char *format, ...)
#if defined(__GNUC__)
       __attribute__((format(printf, 2, 3)))
#endif
       ;
};

/* How one object of a row's INDEX is written in an instance suffix. */
enum ZbIndexKind
{
   ZB_INDEX_UNKNOWN,   /* the object is not in the tree: numbers */
   ZB_INDEX_INTEGER,   /* one sub-identifier; a named number where there is one */
   ZB_INDEX_IPADDRESS, /* four sub-identifiers */
   ZB_INDEX_STRING,    /* a length, then that many octets */
   ZB_INDEX_FIXED,     /* a string of FixedLength octets, no length */
   ZB_INDEX_OID,       /* a length, then that many sub-identifiers */
};

struct ZbIndexItem
{
   ZbIndexKind kind;
   bool implied;             /* the last item, IMPLIED: no length, the rest of the OID */
   bool inetAddress;         /* an InetAddress after its InetAddressType */
   uint32_t fixedLength;
   SNMP_MIBObject *object;   /* the index object (named numbers), or NULL */
};

struct ZbMibIndex
{
   struct Node
   {
      SNMP_MIBObject *object;
      uint32_t childBegin;    /* into children */
      uint32_t childCount;
      uint32_t nextSameName;  /* next node of the same name in OID order, or kNone */
      uint32_t rowBegin;      /* for a row: its index items in items, else kNone */
      uint32_t rowCount;
   };
   struct ChildEntry
   {
      uint32_t subId;
      uint32_t node;
   };
   static const uint32_t kNone = 0xFFFFFFFF;

   SNMP_MIBObject *root;
   bool owned;
   std::vector<Node> nodes;       /* depth first, children by sub-identifier; 0 is the root */
   std::vector<ChildEntry> children;   /* each node's children side by side, sorted */
   /* Open addressing by name: each used slot holds the name's hash and its
      first node (in OID order); size a power of two, at most half full. */
   struct NameSlot
   {
      uint32_t hash;
      uint32_t node;
   };
   std::vector<NameSlot> names;
   std::vector<ZbIndexItem> items;

   /* The child of node n with the sub-identifier, or kNone. */
   uint32_t FindChild(uint32_t n, uint32_t subId) const
   {
      const Node &node = nodes[n];
      const ChildEntry *lo = children.data() + node.childBegin;
      uint32_t count = node.childCount;
      while (count > 0)
      {
         uint32_t half = count / 2;
         if (lo[half].subId < subId)
         {
            lo += half + 1;
            count -= half + 1;
         }
         else
         {
            count = half;
         }
      }
      const ChildEntry *end = children.data() + node.childBegin + node.childCount;
      return (lo != end && lo->subId == subId) ? lo->node : kNone;
   }
   static uint32_t HashName(std::string_view name)
   {
      uint32_t h = 2166136261u;   /* FNV-1a */
      for (char c : name)
         h = (h ^ (uint8_t)c) * 16777619u;
      return h;
   }
   /* The slot of a name: its own, or the empty one where it would go. */
   size_t NameSlotOf(std::string_view name, uint32_t hash) const;
   /* The first node of a name in OID order, or kNone. */
   uint32_t FirstOfName(std::string_view name) const
   {
      if (names.empty())
         return kNone;
      return names[NameSlotOf(name, HashName(name))].node;
   }
   /* The node index of a name ("MODULE::name" or "name"), or kNone. */
   uint32_t FindName(std::string_view module, std::string_view name) const;
   /* The index items of the row above a column node, or NULL (count 0). */
   const ZbIndexItem *ColumnIndex(uint32_t n, uint32_t *count) const;
};

/* Builds the index over a tree; 1, or 0 when allocation failed. */
int ZbBuildMibIndex(ZbMibIndex *index, SNMP_MIBObject *root);

/* The value text (see SNMPFormatValue); names of OID values come from index
   when it is given. */
void ZbFormatValue(ZbText *out, SNMP_Variable *var, SNMP_MIBObject *node, const ZbMibIndex *index,
                   uint32_t flags);
/* OID to text with the index (see SNMP_MIBTranslator::OIDToText). */
void ZbFormatOid(ZbText *out, const ZbMibIndex *index, const uint32_t *oid, uint32_t length,
                 uint32_t flags);
/* The dotted numbers of an OID, each with a leading dot. */
void ZbFormatNumericOid(ZbText *out, const uint32_t *oid, uint32_t length);

#endif
