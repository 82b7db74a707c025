/* Internals of SNMP_MIBObject: its record of optional fields, where a node
   and its texts live, and the access the MIB file reader has to them. */
#ifndef ZBSNMP_MIB_NODE_H
#define ZBSNMP_MIB_NODE_H

#include "internal.h"
#include "mib_arena.h"

/* ---- Where a node lives (SNMP_MIBObject::m_storage) ----
   A node made with new lives on the heap, with its texts and its record on
   the malloc heap, and frees them. The loader makes the nodes of a loaded
   tree in the tree's arena (ZbMibArena), together with their texts and
   records; a node there frees none of them: the arena goes when its last
   node is deleted. A setter replaces an arena text with a heap copy, and
   first copies an arena record to the heap (the arena copy stays unused), so
   a loaded tree can be changed like any other. */
#define ZB_MIB_IN_ARENA 0x01             /* the node itself: the word before it names the arena */
#define ZB_MIB_NAME_IN_ARENA 0x02
#define ZB_MIB_DESCRIPTION_IN_ARENA 0x04
#define ZB_MIB_EXTRA_IN_ARENA 0x08       /* the record and everything it points to */
#define ZB_MIB_EXTRA_SHARED 0x10         /* an arena record that other nodes use too */

/* ---- Optional fields ---- */
struct ZbMibEnum
{
   int32_t value;
   const char *label;
};

/* A record on the heap owns each of its texts and arrays (malloc blocks).
   A record in an arena points into the arena, and its arrays may be shared
   with other records there: the named numbers of a textual convention are
   held once for all the nodes that use it. A capacity of 0 with a nonzero
   count marks such a shared array, which is copied before it grows. */
struct ZbMibExtra
{
   const char *module;
   const char *textualConvention;
   const char *displayHint;
   const char *units;
   uint32_t fixedLength;
   uint32_t enumCount;
   uint32_t enumCapacity;
   ZbMibEnum *enums;
   uint32_t indexCount;
   uint32_t indexCapacity;
   const char **indexNames;
   bool indexImplied;
};

/* Frees a heap record with its fields (NULL is allowed). */
void ZbMibExtraFree(ZbMibExtra *extra);

struct ZbMibAccess
{
   /* A new default node in the arena, counted as one of its users; NULL
      when the arena has no room and none can be allocated. */
   static SNMP_MIBObject *NewNode(ZbMibArena *arena);
   /* The node's record, made first when there is none and copied to the heap
      when it lives in an arena; NULL when that cannot be allocated (the node
      is then left as it was). */
   static ZbMibExtra *Writable(SNMP_MIBObject *node);

   /* The members, for the MIB file reader, which builds nodes in place. */
   static char *&Name(SNMP_MIBObject *n) { return n->m_name; }
   static char *&Description(SNMP_MIBObject *n) { return n->m_description; }
   static uint32_t &Oid(SNMP_MIBObject *n) { return n->m_oid; }
   static int &Type(SNMP_MIBObject *n) { return n->m_type; }
   static int &Status(SNMP_MIBObject *n) { return n->m_status; }
   static int &Access(SNMP_MIBObject *n) { return n->m_access; }
   static uint32_t &Storage(SNMP_MIBObject *n) { return n->m_storage; }
   static ZbMibExtra *&Extra(SNMP_MIBObject *n) { return n->m_extra; }
   static SNMP_MIBObject *&FirstChild(SNMP_MIBObject *n) { return n->m_firstChild; }
   static SNMP_MIBObject *&LastChild(SNMP_MIBObject *n) { return n->m_lastChild; }
   static SNMP_MIBObject *&Next(SNMP_MIBObject *n) { return n->m_next; }
};

#endif
