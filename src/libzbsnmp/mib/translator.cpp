/* SNMP_MIBTranslator: the index over a MIB tree (children by sub-identifier,
   nodes by name, the INDEX of every row resolved to its objects) and the
   lookups built on it. */
#include "mib/names.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <new>

// ---- ZbText ----

void ZbText::PutUInt(uint64_t v)
{
   char digits[20];
   int n = 0;
   do
   {
      digits[n++] = (char)('0' + v % 10);
      v /= 10;
   } while (v != 0);
   char text[20];
   for (int i = 0; i < n; i++)
      text[i] = digits[n - 1 - i];
   Put(text, (size_t)n);
}

void ZbText::PutInt(int64_t v)
{
   if (v < 0)
   {
      Put('-');
      PutUInt(0 - (uint64_t)v);
   }
   else
   {
      PutUInt((uint64_t)v);
   }
}

void ZbText::Printf(const char *format, ...)
{
   char text[128];
   va_list args;
   va_start(args, format);
   int n = vsnprintf(text, sizeof(text), format, args);
   va_end(args);
   if (n > 0)
      Put(text, (size_t)n < sizeof(text) ? (size_t)n : sizeof(text) - 1);
}

void ZbFormatNumericOid(ZbText *out, const uint32_t *oid, uint32_t length)
{
   for (uint32_t i = 0; i < length; i++)
   {
      out->Put('.');
      out->PutUInt(oid[i]);
   }
}

// ---- The index ----

static bool SameText(const char *a, std::string_view b)
{
   return a != nullptr && strlen(a) == b.size() && memcmp(a, b.data(), b.size()) == 0;
}

size_t ZbMibIndex::NameSlotOf(std::string_view name, uint32_t hash) const
{
   size_t mask = names.size() - 1;
   for (size_t i = hash & mask;; i = (i + 1) & mask)
   {
      const NameSlot &slot = names[i];
      if (slot.node == kNone || (slot.hash == hash && SameText(nodes[slot.node].object->Name(), name)))
         return i;
   }
}

uint32_t ZbMibIndex::FindName(std::string_view module, std::string_view name) const
{
   uint32_t n = FirstOfName(name);
   if (n == kNone)
      return kNone;
   if (module.empty())
      return n;
   for (; n != kNone; n = nodes[n].nextSameName)
      if (SameText(nodes[n].object->Module(), module))
         return n;
   return kNone;
}

const ZbIndexItem *ZbMibIndex::ColumnIndex(uint32_t n, uint32_t *count) const
{
   const Node &node = nodes[n];
   if (node.rowBegin == kNone)
   {
      *count = 0;
      return nullptr;
   }
   *count = node.rowCount;
   return items.data() + node.rowBegin;
}

/* How an index object's values are written in an instance. */
static ZbIndexKind IndexKind(SNMP_MIBObject *object)
{
   switch (SNMPGetMIBBaseType(object->Type()))
   {
      case MIB_TYPE_INTEGER:
      case MIB_TYPE_INTEGER32:
      case MIB_TYPE_UNSIGNED32:
      case MIB_TYPE_GAUGE32:
      case MIB_TYPE_COUNTER32:
      case MIB_TYPE_COUNTER64:
      case MIB_TYPE_TIMETICKS:
      case MIB_TYPE_UINTEGER32:
         return ZB_INDEX_INTEGER;
      case MIB_TYPE_IP_ADDRESS:
      case MIB_TYPE_NETWORK_ADDRESS:
         return ZB_INDEX_IPADDRESS;
      case MIB_TYPE_OCTET_STRING:
      case MIB_TYPE_BITS:
      case MIB_TYPE_OPAQUE:
         return object->FixedLength() > 0 ? ZB_INDEX_FIXED : ZB_INDEX_STRING;
      case MIB_TYPE_OBJECT_ID:
         return ZB_INDEX_OID;
      default:
         return ZB_INDEX_UNKNOWN;
   }
}

static bool IsInetAddress(SNMP_MIBObject *object)
{
   const char *tc = object->TextualConvention();
   return object->Type() == MIB_TYPE_INET_ADDRESS || (tc != nullptr && !strcmp(tc, "InetAddress"));
}

/* Resolves the INDEX of row node n into items; its columns point at them. */
static void ResolveRow(ZbMibIndex *index, uint32_t n)
{
   SNMP_MIBObject *row = index->nodes[n].object;
   uint32_t begin = (uint32_t)index->items.size();
   const char *module = row->Module();
   std::string_view rowModule = module != nullptr ? module : "";
   for (uint32_t i = 0; i < row->IndexCount(); i++)
   {
      std::string_view name = row->IndexName(i);
      /* The index object of the row's own module first: names repeat across
         modules. */
      uint32_t found = rowModule.empty() ? ZbMibIndex::kNone : index->FindName(rowModule, name);
      if (found == ZbMibIndex::kNone)
         found = index->FindName({}, name);
      ZbIndexItem item = {ZB_INDEX_UNKNOWN, false, false, 0, nullptr};
      if (found != ZbMibIndex::kNone)
      {
         item.object = index->nodes[found].object;
         item.kind = IndexKind(item.object);
         item.fixedLength = item.object->FixedLength();
         item.inetAddress = IsInetAddress(item.object) && i > 0 &&
                            index->items.back().kind == ZB_INDEX_INTEGER;
      }
      item.implied = (i + 1 == row->IndexCount()) && row->IsIndexImplied();
      index->items.push_back(item);
   }
   uint32_t count = (uint32_t)index->items.size() - begin;
   const ZbMibIndex::Node &node = index->nodes[n];
   for (uint32_t c = node.childBegin; c < node.childBegin + node.childCount; c++)
   {
      ZbMibIndex::Node &column = index->nodes[index->children[c].node];
      column.rowBegin = begin;
      column.rowCount = count;
   }
}

int ZbBuildMibIndex(ZbMibIndex *index, SNMP_MIBObject *root)
{
   const uint32_t kNone = ZbMibIndex::kNone;
   try
   {
      index->root = root;
      size_t total = 0;
      {
         /* Counted first, so that the arrays are allocated once. */
         std::vector<SNMP_MIBObject *> stack = {root};
         while (!stack.empty())
         {
            SNMP_MIBObject *node = stack.back();
            stack.pop_back();
            total++;
            for (SNMP_MIBObject *c = node->FirstChild(); c != nullptr; c = c->Next())
               stack.push_back(c);
         }
      }
      if (total > UINT32_MAX / 4)
         return 0;
      index->nodes.reserve(total);
      index->children.reserve(total);
      index->nodes.push_back({root, 0, 0, kNone, kNone, 0});
      /* Breadth first, so that the children of a node sit side by side; each
         list sorted by sub-identifier (stable: of two children with one
         sub-identifier, the first added is found, as by FindChildByID). */
      struct Pending
      {
         uint32_t subId;
         SNMP_MIBObject *object;
      };
      std::vector<Pending> pending;
      for (size_t i = 0; i < index->nodes.size(); i++)
      {
         pending.clear();
         for (SNMP_MIBObject *c = index->nodes[i].object->FirstChild(); c != nullptr; c = c->Next())
            pending.push_back({c->OID(), c});
         auto bySubId = [](const Pending &a, const Pending &b) { return a.subId < b.subId; };
         if (!std::is_sorted(pending.begin(), pending.end(), bySubId))
            std::stable_sort(pending.begin(), pending.end(), bySubId);
         index->nodes[i].childBegin = (uint32_t)index->children.size();
         index->nodes[i].childCount = (uint32_t)pending.size();
         for (const Pending &p : pending)
         {
            index->children.push_back({p.subId, (uint32_t)index->nodes.size()});
            index->nodes.push_back({p.object, 0, 0, kNone, kNone, 0});
         }
      }
      size_t slots = 16;
      while (slots < 2 * index->nodes.size())
         slots *= 2;
      index->names.assign(slots, {0, kNone});
      /* Names in OID order (depth first, children by sub-identifier): the
         first node of a repeated name is the one with the lowest OID. */
      std::vector<uint32_t> tail(index->nodes.size(), kNone);
      std::vector<uint32_t> stack = {0};
      while (!stack.empty())
      {
         uint32_t n = stack.back();
         stack.pop_back();
         ZbMibIndex::Node &node = index->nodes[n];
         const char *name = node.object->Name();
         if (name != nullptr && *name != 0)
         {
            uint32_t hash = ZbMibIndex::HashName(name);
            ZbMibIndex::NameSlot &slot = index->names[index->NameSlotOf(name, hash)];
            if (slot.node == kNone)
            {
               slot = {hash, n};
            }
            else
            {
               uint32_t head = slot.node;
               uint32_t last = tail[head] == kNone ? head : tail[head];
               index->nodes[last].nextSameName = n;
               tail[head] = n;
            }
         }
         for (uint32_t c = node.childBegin + node.childCount; c > node.childBegin; c--)
            stack.push_back(index->children[c - 1].node);
      }
      for (uint32_t n = 0; n < (uint32_t)index->nodes.size(); n++)
         if (index->nodes[n].object->IndexCount() > 0)
            ResolveRow(index, n);
      return 1;
   }
   catch (const std::bad_alloc &)
   {
      return 0;
   }
}

// ---- SNMP_MIBTranslator ----

static void FreeIndex(ZbMibIndex *index)
{
   if (index == nullptr)
      return;
   if (index->owned)
      delete index->root;
   delete index;
}

SNMP_MIBTranslator::SNMP_MIBTranslator() : m_index(nullptr)
{
}

SNMP_MIBTranslator::~SNMP_MIBTranslator()
{
   FreeIndex(m_index);
}

uint32_t SNMP_MIBTranslator::SetTree(SNMP_MIBObject *root, bool takeOwnership)
{
   ZbMibIndex *index = nullptr;
   if (root != nullptr)
   {
      index = new (std::nothrow) ZbMibIndex();
      if (index == nullptr || !ZbBuildMibIndex(index, root))
      {
         delete index;
         if (takeOwnership)
            delete root;
         FreeIndex(m_index);
         m_index = nullptr;
         return SNMP_RC_BAD_PARAMETERS;
      }
      index->owned = takeOwnership;
   }
   /* Indexing the same tree again keeps it owned if it was. */
   ZbMibIndex *old = m_index;
   m_index = index;
   if (old != nullptr && index != nullptr && old->root == root)
   {
      index->owned = index->owned || old->owned;
      old->owned = false;
   }
   FreeIndex(old);
   return SNMP_RC_SUCCESS;
}

uint32_t SNMP_MIBTranslator::LoadTree(const char *fileName)
{
   SNMP_MIBObject *root = nullptr;
   uint32_t rc = SNMPLoadMIBTree(fileName, &root);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   return SetTree(root, true);
}

SNMP_MIBObject *SNMP_MIBTranslator::GetTree() const
{
   return m_index != nullptr ? m_index->root : nullptr;
}

SNMP_MIBObject *SNMP_MIBTranslator::FindNode(const uint32_t *oid, uint32_t length,
                                             uint32_t *matched) const
{
   uint32_t depth = 0, n = 0;
   if (m_index != nullptr && oid != nullptr)
   {
      for (; depth < length; depth++)
      {
         uint32_t c = m_index->FindChild(n, oid[depth]);
         if (c == ZbMibIndex::kNone)
            break;
         n = c;
      }
   }
   if (matched != nullptr)
      *matched = depth;
   return depth > 0 ? m_index->nodes[n].object : nullptr;
}

SNMP_MIBObject *SNMP_MIBTranslator::FindNodeByName(const char *name) const
{
   if (m_index == nullptr || name == nullptr)
      return nullptr;
   std::string_view text(name), module;
   size_t colons = text.find("::");
   if (colons != std::string_view::npos)
   {
      module = text.substr(0, colons);
      text = text.substr(colons + 2);
      if (module.empty())
         return nullptr;
   }
   uint32_t n = m_index->FindName(module, text);
   return n != ZbMibIndex::kNone ? m_index->nodes[n].object : nullptr;
}

uint32_t SNMP_MIBTranslator::GetNodeOID(SNMP_MIBObject *node, uint32_t *buffer,
                                        uint32_t bufferSize) const
{
   if (m_index == nullptr || node == nullptr || buffer == nullptr)
      return 0;
   /* A node of this tree leads up to its root. */
   uint32_t depth = 0;
   SNMP_MIBObject *p = node;
   for (; p != nullptr && p != m_index->root; p = p->Parent())
      depth++;
   if (p == nullptr)
      return 0;
   if (depth > bufferSize)
      return 0;
   uint32_t i = depth;
   for (p = node; p != m_index->root; p = p->Parent())
      buffer[--i] = p->OID();
   return depth;
}

uint32_t SNMP_MIBTranslator::OIDToText(const uint32_t *oid, uint32_t length, char *buffer,
                                       uint32_t bufferSize, uint32_t flags) const
{
   ZbText out(buffer, buffer != nullptr ? bufferSize : 0);
   if (oid == nullptr)
      length = 0;
   ZbFormatOid(&out, m_index, oid, length, flags);
   return out.len;
}

uint32_t SNMP_MIBTranslator::FormatValue(SNMP_Variable *var, char *buffer, uint32_t bufferSize,
                                         uint32_t flags) const
{
   ZbText out(buffer, buffer != nullptr ? bufferSize : 0);
   if (var == nullptr)
      return 0;
   SNMP_MIBObject *node = nullptr;
   SNMP_ObjectId *name = var->GetName();
   if (name != nullptr)
      node = FindNode(name->GetValue(), name->Length(), nullptr);
   ZbFormatValue(&out, var, node, m_index, flags);
   return out.len;
}
