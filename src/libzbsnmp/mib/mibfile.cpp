/* The MIB tree file: a 16-byte header ("ZBMIB ", header size, version, flags,
   reserved, timestamp; big-endian) and a tagged body, plain or compressed. */
#include "mib_node.h"
#include "zfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <new>
#include <string>
#include <unordered_map>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#define GetPid _getpid
#else
#include <unistd.h>
#define GetPid getpid
#endif
#include <sys/stat.h>

#define MIB_HEADER_SIZE 16
#define MIB_FORMAT_VERSION 1
#define MIB_FORMAT_VERSION_OPTIONAL_FIELDS 2   /* with MIB_FILE_OPTIONAL_FIELDS */
#define MIB_MAX_STRING 0xFFFF

static const char MIB_MAGIC[6] = {'Z', 'B', 'M', 'I', 'B', ' '};

enum MibTag
{
   MIB_TAG_OBJECT = 0x01,
   MIB_TAG_NAME = 0x02,
   MIB_TAG_DESCRIPTION = 0x03,
   MIB_TAG_ACCESS = 0x04,
   MIB_TAG_STATUS = 0x05,
   MIB_TAG_TYPE = 0x06,
   MIB_TAG_BYTE_OID = 0x07,
   MIB_TAG_WORD_OID = 0x08,
   MIB_TAG_DWORD_OID = 0x09,
   /* Optional fields, format version 2 only. */
   MIB_TAG_MODULE = 0x0A,
   MIB_TAG_TEXTUAL_CONVENTION = 0x0B,
   MIB_TAG_DISPLAY_HINT = 0x0C,
   MIB_TAG_UNITS = 0x0D,
   MIB_TAG_FIXED_LENGTH = 0x0E,
   MIB_TAG_ENUM = 0x0F,
   MIB_TAG_INDEX = 0x10,
   MIB_TAG_IMPLIED = 0x11,
   MIB_TAG_SYNTAX = 0x12,       /* syntax fields, defined once for the nodes that share them */
   MIB_TAG_SYNTAX_REF = 0x13,   /* the fields of a syntax defined earlier */
   MIB_TAG_HEAD = 0x14,         /* OID, status, access, type and name in one field */
   MIB_TAG_ENUM_LIST = 0x16,    /* named numbers, counted, in base 128 */
   MIB_END_OF_TAG = 0x80,
};

/* ---- Writing ---- */

/* A 16-bit length and the text. Longer texts keep their first 65535 bytes,
   the most a 16-bit length holds. */
static void WriteStringBody(ZFile *file, const char *text)
{
   size_t len = (text != nullptr) ? strlen(text) : 0;
   if (len > MIB_MAX_STRING)
      len = MIB_MAX_STRING;
   uint8_t hdr[2] = {(uint8_t)(len >> 8), (uint8_t)len};
   file->WriteBytes(hdr, 2);
   if (len > 0)
      file->WriteBytes(text, (int)len);
}

static void WriteString(ZFile *file, uint8_t tag, const char *text)
{
   file->PutByte(tag);
   WriteStringBody(file, text);
   file->PutByte(tag | MIB_END_OF_TAG);
}

static void WriteByteField(ZFile *file, uint8_t tag, int value)
{
   uint8_t field[3] = {tag, (uint8_t)value, (uint8_t)(tag | MIB_END_OF_TAG)};
   file->WriteBytes(field, 3);
}

static bool SameText(const char *a, const char *b)
{
   return (a == nullptr || b == nullptr) ? a == b : strcmp(a, b) == 0;
}

static bool HasOptionalFields(SNMP_MIBObject *node)
{
   return node->Module() != nullptr || node->TextualConvention() != nullptr ||
          node->DisplayHint() != nullptr || node->Units() != nullptr ||
          node->FixedLength() != 0 || node->EnumCount() != 0 || node->IndexCount() != 0 ||
          node->IsIndexImplied();
}

/* What a save of version 2 remembers: the syntaxes it has written, by
   their contents, with the number of each, and the next number; the name
   the last head gave (as written), which the next one starts from. */
struct SyntaxSets
{
   std::unordered_map<std::string, uint32_t> ids;
   uint32_t next = 0;
   const char *lastName = nullptr;
   size_t lastLength = 0;
};

static bool HasSyntax(SNMP_MIBObject *node)
{
   return node->TextualConvention() != nullptr || node->DisplayHint() != nullptr ||
          node->Units() != nullptr || node->FixedLength() != 0 || node->EnumCount() != 0;
}

/* The key of a node's syntax: each text (present or not), the fixed length
   and the named numbers. */
static std::string SyntaxKey(SNMP_MIBObject *node)
{
   std::string key;
   for (const char *text : {node->TextualConvention(), node->DisplayHint(), node->Units()})
   {
      key.push_back(text != nullptr ? '+' : '-');
      if (text != nullptr)
         key.append(text, strlen(text) + 1);
   }
   uint8_t number[4];
   PutBE32(number, node->FixedLength());
   key.append((const char *)number, 4);
   for (uint32_t i = 0; i < node->EnumCount(); i++)
   {
      PutBE32(number, (uint32_t)node->EnumValue(i));
      key.append((const char *)number, 4);
      key.append(node->EnumLabel(i), strlen(node->EnumLabel(i)) + 1);
   }
   return key;
}

/* A node's syntax: textual convention, display hint, units, fixed length
   and named numbers. A reference to the syntax written before with the same
   fields, else a new syntax (numbered in the order written) holding them. */
static void WriteSyntax(ZFile *file, SNMP_MIBObject *node, SyntaxSets *sets)
{
   uint8_t field[6];
   try
   {
      std::string key = SyntaxKey(node);
      auto found = sets->ids.find(key);
      if (found != sets->ids.end())
      {
         field[0] = MIB_TAG_SYNTAX_REF;
         PutBE32(field + 1, found->second);
         field[5] = MIB_TAG_SYNTAX_REF | MIB_END_OF_TAG;
         file->WriteBytes(field, 6);
         return;
      }
      sets->ids.emplace(std::move(key), sets->next);
   }
   catch (const std::bad_alloc &)
   {
      /* No memory to remember the syntax: it is written all the same, and a
         later node with the same fields writes it again. */
   }
   sets->next++;
   file->PutByte(MIB_TAG_SYNTAX);
   if (node->TextualConvention() != nullptr)
      WriteString(file, MIB_TAG_TEXTUAL_CONVENTION, node->TextualConvention());
   if (node->DisplayHint() != nullptr)
      WriteString(file, MIB_TAG_DISPLAY_HINT, node->DisplayHint());
   if (node->Units() != nullptr)
      WriteString(file, MIB_TAG_UNITS, node->Units());
   if (node->FixedLength() != 0)
   {
      field[0] = MIB_TAG_FIXED_LENGTH;
      PutBE32(field + 1, node->FixedLength());
      field[5] = MIB_TAG_FIXED_LENGTH | MIB_END_OF_TAG;
      file->WriteBytes(field, 6);
   }
   uint32_t count = node->EnumCount();
   if (count > 0xFFFF)
   {
      /* More than a list's count holds: one field each. */
      for (uint32_t i = 0; i < count; i++)
      {
         field[0] = MIB_TAG_ENUM;
         PutBE32(field + 1, (uint32_t)node->EnumValue(i));
         file->WriteBytes(field, 5);
         WriteStringBody(file, node->EnumLabel(i));
         file->PutByte(MIB_TAG_ENUM | MIB_END_OF_TAG);
      }
   }
   else if (count > 0)
   {
      field[0] = MIB_TAG_ENUM_LIST;
      PutBE16(field + 1, (uint16_t)count);
      file->WriteBytes(field, 3);
      for (uint32_t i = 0; i < count; i++)
      {
         const char *label = node->EnumLabel(i);
         size_t length = strlen(label);
         if (length > MIB_MAX_STRING)
            length = MIB_MAX_STRING;
         uint8_t number[10];
         uint8_t *end = BerPutSubId((uint32_t)node->EnumValue(i), number);
         end = BerPutSubId((uint32_t)length, end);
         file->WriteBytes(number, (int)(end - number));
         file->WriteBytes(label, (int)length);
      }
      file->PutByte(MIB_TAG_ENUM_LIST | MIB_END_OF_TAG);
   }
   file->PutByte(MIB_TAG_SYNTAX | MIB_END_OF_TAG);
}

/* The optional fields of format version 2. The module is left out where it
   is the one the node inherits from its parent's record (inherited); a node
   without a module under one with a module gets an empty module field. */
static void WriteOptionalFields(ZFile *file, SNMP_MIBObject *node, const char *inherited,
                                SyntaxSets *sets)
{
   if (!SameText(node->Module(), inherited))
      WriteString(file, MIB_TAG_MODULE, node->Module());
   if (HasSyntax(node))
      WriteSyntax(file, node, sets);
   for (uint32_t i = 0; i < node->IndexCount(); i++)
      WriteString(file, MIB_TAG_INDEX, node->IndexName(i));
   if (node->IsIndexImplied())
      WriteByteField(file, MIB_TAG_IMPLIED, 1);
}

/* The head of a version-2 record: OID in base 128 (most significant group
   first, the high bit set on all groups but the last), status, access,
   type, and the name: the number of its first bytes that it shares with the
   name of the head before (at most 255), then the rest as a string. */
static void WriteHead(ZFile *file, SNMP_MIBObject *node, SyntaxSets *state)
{
   uint8_t field[10];
   field[0] = MIB_TAG_HEAD;
   uint8_t *p = BerPutSubId(node->OID(), field + 1);
   *p++ = (uint8_t)node->Status();
   *p++ = (uint8_t)node->Access();
   *p++ = (uint8_t)node->Type();
   const char *name = (node->Name() != nullptr) ? node->Name() : "";
   size_t length = strlen(name);
   if (length > MIB_MAX_STRING)
      length = MIB_MAX_STRING;
   size_t shared = 0;
   while (shared < 255 && shared < length && shared < state->lastLength && name[shared] == state->lastName[shared])
      shared++;
   *p++ = (uint8_t)shared;
   file->WriteBytes(field, (int)(p - field));
   size_t rest = length - shared;
   uint8_t size[2] = {(uint8_t)(rest >> 8), (uint8_t)rest};
   file->WriteBytes(size, 2);
   if (rest > 0)
      file->WriteBytes(name + shared, (int)rest);
   file->PutByte(MIB_TAG_HEAD | MIB_END_OF_TAG);
   state->lastName = name;
   state->lastLength = length;
}

static void WriteFields(ZFile *file, SNMP_MIBObject *node, uint32_t flags, const char *inherited,
                        SyntaxSets *sets)
{
   file->PutByte(MIB_TAG_OBJECT);
   if (flags & MIB_FILE_OPTIONAL_FIELDS)
   {
      WriteHead(file, node, sets);
      if (!(flags & MIB_SAVE_NO_DESCRIPTIONS))
         WriteString(file, MIB_TAG_DESCRIPTION, node->Description());
      WriteOptionalFields(file, node, inherited, sets);
      return;
   }
   WriteString(file, MIB_TAG_NAME, node->Name());
   uint32_t oid = node->OID();
   uint8_t field[6];
   uint32_t n;
   if (oid < 0x100)
   {
      field[0] = MIB_TAG_BYTE_OID;
      field[1] = (uint8_t)oid;
      n = 2;
   }
   else if (oid < 0x10000)
   {
      field[0] = MIB_TAG_WORD_OID;
      PutBE16(field + 1, (uint16_t)oid);
      n = 3;
   }
   else
   {
      field[0] = MIB_TAG_DWORD_OID;
      PutBE32(field + 1, oid);
      n = 5;
   }
   field[n] = (uint8_t)(field[0] | MIB_END_OF_TAG);
   file->WriteBytes(field, (int)n + 1);
   WriteByteField(file, MIB_TAG_STATUS, node->Status());
   WriteByteField(file, MIB_TAG_ACCESS, node->Access());
   WriteByteField(file, MIB_TAG_TYPE, node->Type());
   if (!(flags & MIB_SAVE_NO_DESCRIPTIONS))
      WriteString(file, MIB_TAG_DESCRIPTION, node->Description());
}

/* Walks the subtree of root depth first: enter(node) before its children,
   leave(node) after them. The open ancestors are held in a fixed array, so
   the walk allocates nothing. Returns 1 when the whole subtree was walked; 0
   when enter returned false or the subtree is deeper than MIB_MAX_DEPTH (the
   walk stops there). */
template <typename Enter, typename Leave>
static int WalkTree(SNMP_MIBObject *root, Enter enter, Leave leave)
{
   SNMP_MIBObject *open[MIB_MAX_DEPTH];
   uint32_t depth = 0;
   SNMP_MIBObject *next = root;
   for (;;)
   {
      if (next != nullptr)
      {
         if (depth == MIB_MAX_DEPTH || !enter(next))
            return 0;
         open[depth++] = next;
         next = next->FirstChild();
         continue;
      }
      SNMP_MIBObject *done = open[--depth];
      leave(done);
      if (depth == 0)
         return 1;
      next = done->Next();
   }
}

void SNMP_MIBObject::WriteToFile(ZFile *file, uint32_t flags)
{
   /* Each node's fields, then its children, then its closing tag. A tree
      that the reader would refuse as too deep fails the stream. */
   SyntaxSets *sets = new (std::nothrow) SyntaxSets();
   if (sets == nullptr)
   {
      file->Fail();
      return;
   }
   int whole = WalkTree(
       this,
       [&](SNMP_MIBObject *node) {
          /* A record starts with its parent's module: the reader knows no
             parent above the record it starts from. */
          WriteFields(file, node, flags, node == this ? nullptr : node->Parent()->Module(), sets);
          return true;
       },
       [&](SNMP_MIBObject *) { file->PutByte(MIB_TAG_OBJECT | MIB_END_OF_TAG); });
   delete sets;
   if (!whole)
      file->Fail();
}

/* 1 when a load would accept the tree: at most MIB_MAX_DEPTH levels and
   MIB_MAX_LOAD_NODES nodes; *optional tells whether any node has optional
   fields. */
static int TreeLoadable(SNMP_MIBObject *root, bool *optional)
{
   uint32_t nodes = 0;
   *optional = false;
   return WalkTree(
       root,
       [&](SNMP_MIBObject *node) {
          if (!*optional && HasOptionalFields(node))
             *optional = true;
          return ++nodes <= MIB_MAX_LOAD_NODES;
       },
       [](SNMP_MIBObject *) {});
}

/* ---- Reading ---- */

static int ExpectTag(ZFile *file, int tag)
{
   return file->GetByte() == tag;
}

using A = ZbMibAccess;

/* One load: the stream, the arena the tree is built in, and the shared
   enumerations defined so far (numbered from 0 in the order read). */
struct MibLoader
{
   ZFile *file;
   ZbMibArena *arena;
   SNMP_MIBObject *top;
   bool topInArena;   /* top's own fields may go into the arena */
   /* The syntaxes defined so far: the record that holds each one's fields,
      and the last record made of a module and these fields alone, which
      the nodes that have no other fields share. */
   struct Syntax
   {
      ZbMibExtra *fields;
      ZbMibExtra *shared;
   } *syntaxes;
   uint32_t syntaxCount;
   uint32_t syntaxCapacity;
   SNMP_MIBObject *scratch;   /* never part of the tree: a definition's fields are read into it */
   /* The name the last head field gave (an arena text; "" for none). */
   const char *lastHead;
   uint32_t lastHeadLength;
   /* The last record made to hold nothing but a module: the nodes that only
      inherit that module share it. */
   ZbMibExtra *moduleOnly;

   /* Whether the node's fields live in this load's arena: every node the
      load makes, and top when it lives there too; any other node keeps its
      fields on the heap, as the setters make them. */
   bool InArena(SNMP_MIBObject *node) const { return node != top || topInArena; }
};

/* Reads a 16-bit length and the text into the arena, terminated; *out is
   NULL for length 0. *size is the room it takes (length + 1). */
static int ReadText(MibLoader *l, char **out, uint32_t *size)
{
   const uint8_t *h = l->file->Take(2);
   if (h == nullptr)
      return 0;
   uint32_t n = GetBE16(h);
   *out = nullptr;
   *size = 0;
   if (n == 0)
      return 1;
   char *text = ZbMibArenaText(l->arena, n + 1);
   if (text == nullptr || l->file->ReadBytes(text, (int)n) != (int)n)
      return 0;
   text[n] = 0;
   *out = text;
   *size = n + 1;
   return 1;
}

/* A text read into the arena for a node that keeps its fields on the heap:
   the node has taken a copy of it, so its room is given back. */
static void GiveBack(MibLoader *l, const char *text, uint32_t size)
{
   if (text != nullptr)
      ZbMibArenaPopText(l->arena, text, size);
}

/* An arena text that a field stops using: given back when it was the last
   one taken, so that a field read again and again reuses its room. */
static void DropText(MibLoader *l, const char *text)
{
   if (text != nullptr)
      ZbMibArenaPopText(l->arena, text, strlen(text) + 1);
}

/* Drops the node's name or description (tag) before a new one is stored. */
static void DropNodeText(MibLoader *l, SNMP_MIBObject *node, int tag)
{
   char *&field = (tag == MIB_TAG_NAME) ? A::Name(node) : A::Description(node);
   uint32_t bit = (tag == MIB_TAG_NAME) ? ZB_MIB_NAME_IN_ARENA : ZB_MIB_DESCRIPTION_IN_ARENA;
   if (A::Storage(node) & bit)
   {
      /* The last head's name stays: the next head may start from it. */
      if (field != l->lastHead)
         DropText(l, field);
      field = nullptr;
      A::Storage(node) &= ~bit;
   }
}

/* Makes text (an arena text of size bytes, or NULL) the node's name or
   description (tag): an arena node keeps it where it is; a node that keeps
   its fields on the heap gets a copy, and the arena text is given back
   unless keep. The text the field had is dropped first (DropNodeText). 0
   when the copy cannot be made. */
static int StoreNodeText(MibLoader *l, SNMP_MIBObject *node, int tag, char *text, uint32_t size, bool keep)
{
   char *&field = (tag == MIB_TAG_NAME) ? A::Name(node) : A::Description(node);
   if (l->InArena(node))
   {
      field = text;
      if (text != nullptr)
         A::Storage(node) |= (tag == MIB_TAG_NAME) ? ZB_MIB_NAME_IN_ARENA : ZB_MIB_DESCRIPTION_IN_ARENA;
      return 1;
   }
   char *copy = zb_strdup(text);
   if (!keep)
      GiveBack(l, text, size);
   if (text != nullptr && copy == nullptr)
      return 0;
   free(field);
   field = copy;
   return 1;
}

/* Name or description, after its opening tag, up to and with its closing tag. */
static int ReadNodeText(MibLoader *l, SNMP_MIBObject *node, int tag)
{
   DropNodeText(l, node, tag);
   char *text;
   uint32_t size;
   return ReadText(l, &text, &size) && StoreNodeText(l, node, tag, text, size, false) &&
          ExpectTag(l->file, tag | MIB_END_OF_TAG);
}

/* The name of a head: the first shared bytes of the last head's name,
   then the rest, in the arena; it becomes the last head's name. */
static char *HeadName(MibLoader *l, uint32_t shared, const uint8_t *rest, uint32_t n)
{
   uint32_t length = shared + n;
   char *text = nullptr;
   if (length > 0)
   {
      if ((text = ZbMibArenaText(l->arena, length + 1)) == nullptr)
         return nullptr;
      memcpy(text, l->lastHead, shared);
      if (rest != nullptr)
         memcpy(text + shared, rest, n);
      text[length] = 0;
   }
   l->lastHead = (text != nullptr) ? text : "";
   l->lastHeadLength = length;
   return text;
}

/* A number in base 128 (most significant group first, the high bit set on
   every group but the last) of at most groups groups and below 2^32; 0 when
   the data ends first or it is longer or larger. */
static int ReadBase128(ZFile *file, int groups, uint32_t *out)
{
   uint32_t v = 0;
   for (int i = 1;; i++)
   {
      int b = file->GetByte();
      if (b < 0 || v >= (1u << 25))   /* a 33rd bit would be lost */
         return 0;
      v = (v << 7) | (uint32_t)(b & 0x7F);
      if (!(b & 0x80))
         break;
      if (i == groups)
         return 0;
   }
   *out = v;
   return 1;
}

/* The value of a head field (tag 14): OID in base 128, at most five groups
   and below 2^32; status, access and type; the name, as the count of bytes
   it shares with the last head's name and a string of the rest. Up to and
   with 94. */
static int ReadHead(MibLoader *l, SNMP_MIBObject *node)
{
   uint32_t oid;
   if (!ReadBase128(l->file, 5, &oid))
      return 0;
   const uint8_t *p = l->file->Take(6);
   if (p == nullptr)
      return 0;
   A::Oid(node) = oid;
   A::Status(node) = p[0];
   A::Access(node) = p[1];
   A::Type(node) = p[2];
   uint32_t shared = p[3], n = GetBE16(p + 4);
   if (shared > l->lastHeadLength)
      return 0;
   DropNodeText(l, node, MIB_TAG_NAME);
   /* The rest is read into place behind the shared bytes. */
   char *text = HeadName(l, shared, nullptr, n);
   if (shared + n > 0 && (text == nullptr || l->file->ReadBytes(text + shared, (int)n) != (int)n))
      return 0;
   return StoreNodeText(l, node, MIB_TAG_NAME, text, shared + n + 1, true) &&
          ExpectTag(l->file, MIB_TAG_HEAD | MIB_END_OF_TAG);
}

/* A new arena record: a copy of from, or all fields absent; NULL when the
   arena has no room. */
static ZbMibExtra *NewRecord(MibLoader *l, const ZbMibExtra *from)
{
   ZbMibExtra *extra = (ZbMibExtra *)ZbMibArenaObject(l->arena, sizeof(ZbMibExtra));
   if (extra == nullptr)
      return nullptr;
   if (from != nullptr)
      *extra = *from;
   else
      memset(extra, 0, sizeof(ZbMibExtra));
   return extra;
}

/* The arena record of a node that the load builds, for a field to be
   stored: made (all fields absent) on first use, and made the node's own
   when it shares one. NULL when the arena has no room. */
static ZbMibExtra *ArenaRecord(MibLoader *l, SNMP_MIBObject *node)
{
   ZbMibExtra *&extra = A::Extra(node);
   uint32_t &storage = A::Storage(node);
   if (extra == nullptr || (storage & ZB_MIB_EXTRA_SHARED))
   {
      ZbMibExtra *own = NewRecord(l, extra);
      if (own == nullptr)
         return nullptr;
      extra = own;
      storage = (storage & ~(uint32_t)ZB_MIB_EXTRA_SHARED) | ZB_MIB_EXTRA_IN_ARENA;
   }
   return extra;
}

/* The record in which a node that the load builds stores a field that is
   present or not: *out is NULL when the field is absent and the node has no
   record (nothing to store). 0 when the record the field needs has no room:
   a node that shares a record must not keep the shared value. */
static int RecordForField(MibLoader *l, SNMP_MIBObject *node, bool present, ZbMibExtra **out)
{
   bool needed = present || A::Extra(node) != nullptr;
   *out = needed ? ArenaRecord(l, node) : nullptr;
   return !needed || *out != nullptr;
}

static bool ModuleOnly(const ZbMibExtra *extra)
{
   return extra->textualConvention == nullptr && extra->displayHint == nullptr && extra->units == nullptr &&
          extra->fixedLength == 0 && extra->enumCount == 0 && extra->indexCount == 0 &&
          !extra->indexImplied;
}

/* In a version-2 file a record starts with its parent's module. Arena
   records do not change once the load is over, so the child shares a record
   that holds only that module (its parent's, or the last one made for the
   same text) until it reads a field of its own. The module of a node that
   keeps its fields on the heap is first copied into the arena. */
static int InheritModule(MibLoader *l, SNMP_MIBObject *child)
{
   SNMP_MIBObject *parent = child->Parent();
   ZbMibExtra *from = A::Extra(parent);
   const char *module = (from != nullptr) ? from->module : nullptr;
   if (module == nullptr)
      return 1;
   ZbMibExtra *shared;
   if (l->moduleOnly != nullptr && l->moduleOnly->module == module)
   {
      shared = l->moduleOnly;
   }
   else if (l->InArena(parent) && (A::Storage(parent) & ZB_MIB_EXTRA_SHARED) && ModuleOnly(from))
   {
      shared = l->moduleOnly = from;
   }
   else
   {
      if (!l->InArena(parent))
      {
         size_t size = strlen(module) + 1;
         char *copy = ZbMibArenaText(l->arena, size);
         if (copy == nullptr)
            return 0;
         memcpy(copy, module, size);
         module = copy;
      }
      if ((shared = NewRecord(l, nullptr)) == nullptr)
         return 0;
      shared->module = module;
      l->moduleOnly = shared;
   }
   A::Extra(child) = shared;
   A::Storage(child) |= ZB_MIB_EXTRA_IN_ARENA | ZB_MIB_EXTRA_SHARED;
   return 1;
}

/* Appends to an arena record's array, which grows by doubling in the arena
   (the old one stays unused); a shared array (capacity 0) is copied first. */
template <typename T>
static int ArenaAppend(MibLoader *l, T **array, uint32_t *count, uint32_t *capacity, T item)
{
   if (*count >= *capacity)
   {
      if (*count >= 0x7FFFFFFF)
         return 0;
      uint32_t grown = (*count < 4) ? 4 : *count * 2;
      T *block = (T *)ZbMibArenaObject(l->arena, (size_t)grown * sizeof(T));
      if (block == nullptr)
         return 0;
      if (*count > 0)
         memcpy(block, *array, (size_t)*count * sizeof(T));
      *array = block;
      *capacity = grown;
   }
   (*array)[(*count)++] = item;
   return 1;
}

static int AddEnum(MibLoader *l, SNMP_MIBObject *node, int32_t value, const char *label)
{
   if (!l->InArena(node))
      return node->AddEnum(value, label);
   ZbMibExtra *extra = ArenaRecord(l, node);
   return extra != nullptr &&
          ArenaAppend(l, &extra->enums, &extra->enumCount, &extra->enumCapacity, ZbMibEnum{value, label});
}

/* Gives the node the named numbers of a shared enumeration: an arena node
   without named numbers shares the array; otherwise they are appended. */
static int AddEnumSet(MibLoader *l, SNMP_MIBObject *node, const ZbMibEnum *items, uint32_t count)
{
   if (count == 0)
      return 1;
   if (l->InArena(node))
   {
      ZbMibExtra *extra = ArenaRecord(l, node);
      if (extra == nullptr)
         return 0;
      if (extra->enumCount == 0)
      {
         extra->enums = const_cast<ZbMibEnum *>(items);
         extra->enumCount = count;
         extra->enumCapacity = 0;
         return 1;
      }
   }
   for (uint32_t i = 0; i < count; i++)
      if (!AddEnum(l, node, items[i].value, items[i].label))
         return 0;
   return 1;
}

static int ReadOptionalField(MibLoader *l, SNMP_MIBObject *node, int tag);

/* Gives the node the fields of a syntax: its textual convention, display
   hint, units and fixed length where it has them, and its named numbers
   after any the node has. An arena node shares the syntax's texts and named
   numbers, and, while it has nothing but a module, a whole record with
   the other nodes of that module and syntax. */
static int ApplySyntax(MibLoader *l, SNMP_MIBObject *node, MibLoader::Syntax *syntax)
{
   ZbMibExtra *from = syntax->fields;
   if (from == nullptr)
      return 1;
   if (l->InArena(node))
   {
      ZbMibExtra *extra = A::Extra(node);
      if (extra == nullptr || ((A::Storage(node) & ZB_MIB_EXTRA_SHARED) && ModuleOnly(extra)))
      {
         const char *module = (extra != nullptr) ? extra->module : nullptr;
         if (syntax->shared == nullptr)
         {
            /* The first: the record that holds the syntax serves (only its
               syntax fields are ever copied from it). */
            from->module = module;
            syntax->shared = from;
         }
         else if (syntax->shared->module != module)
         {
            ZbMibExtra *shared = NewRecord(l, from);
            if (shared == nullptr)
               return 0;
            shared->module = module;
            syntax->shared = shared;
         }
         A::Extra(node) = syntax->shared;
         A::Storage(node) |= ZB_MIB_EXTRA_IN_ARENA | ZB_MIB_EXTRA_SHARED;
         return 1;
      }
      if ((extra = ArenaRecord(l, node)) == nullptr)
         return 0;
      if (from->textualConvention != nullptr)
         extra->textualConvention = from->textualConvention;
      if (from->displayHint != nullptr)
         extra->displayHint = from->displayHint;
      if (from->units != nullptr)
         extra->units = from->units;
      if (from->fixedLength != 0)
         extra->fixedLength = from->fixedLength;
   }
   else
   {
      if (from->textualConvention != nullptr)
         node->SetTextualConvention(from->textualConvention);
      if (from->displayHint != nullptr)
         node->SetDisplayHint(from->displayHint);
      if (from->units != nullptr)
         node->SetUnits(from->units);
      if (from->fixedLength != 0)
         node->SetFixedLength(from->fixedLength);
      if ((from->textualConvention != nullptr && !SameText(node->TextualConvention(), from->textualConvention)) ||
          (from->displayHint != nullptr && !SameText(node->DisplayHint(), from->displayHint)) ||
          (from->units != nullptr && !SameText(node->Units(), from->units)) ||
          (from->fixedLength != 0 && node->FixedLength() != from->fixedLength))
         return 0;
   }
   return AddEnumSet(l, node, from->enums, from->enumCount);
}

/* The value of a syntax definition (tag 12), up to and with its 92: the
   fields textual convention, display hint, units, fixed length and named
   numbers, in any order. It is numbered next and applies to the node. */
static int ReadSyntax(MibLoader *l, SNMP_MIBObject *node)
{
   if (l->syntaxCount == l->syntaxCapacity)
   {
      if (l->syntaxCapacity >= 0x7FFFFFFF / sizeof(MibLoader::Syntax))
         return 0;
      uint32_t grown = (l->syntaxCapacity == 0) ? 64 : l->syntaxCapacity * 2;
      void *block = realloc(l->syntaxes, grown * sizeof(MibLoader::Syntax));
      if (block == nullptr)
         return 0;
      l->syntaxes = (MibLoader::Syntax *)block;
      l->syntaxCapacity = grown;
   }
   SNMP_MIBObject *scratch = l->scratch;
   A::Extra(scratch) = nullptr;
   A::Storage(scratch) = 0;
   for (;;)
   {
      int tag = l->file->GetByte();
      if (tag == (MIB_TAG_SYNTAX | MIB_END_OF_TAG))
         break;
      if ((tag != MIB_TAG_TEXTUAL_CONVENTION && tag != MIB_TAG_DISPLAY_HINT && tag != MIB_TAG_UNITS &&
           tag != MIB_TAG_FIXED_LENGTH && tag != MIB_TAG_ENUM && tag != MIB_TAG_ENUM_LIST) ||
          !ReadOptionalField(l, scratch, tag))
         return 0;
   }
   MibLoader::Syntax *syntax = &l->syntaxes[l->syntaxCount++];
   syntax->fields = A::Extra(scratch);
   syntax->shared = nullptr;
   /* Complete: its named numbers are shared from now on (copied before any
      record that holds them grows). */
   if (syntax->fields != nullptr)
      syntax->fields->enumCapacity = 0;
   return ApplySyntax(l, node, syntax);
}

/* A module, textual convention, display hint or units field: its text. */
static int ReadOptionalText(MibLoader *l, SNMP_MIBObject *node, int tag)
{
   const char *ZbMibExtra::*field = (tag == MIB_TAG_MODULE) ? &ZbMibExtra::module
                                    : (tag == MIB_TAG_TEXTUAL_CONVENTION) ? &ZbMibExtra::textualConvention
                                    : (tag == MIB_TAG_DISPLAY_HINT) ? &ZbMibExtra::displayHint
                                                                    : &ZbMibExtra::units;
   /* The text a field read again replaces stays in the arena: these texts
      may be shared with other nodes (a module with the children, the fields
      of a syntax with its other users). */
   bool inArena = l->InArena(node);
   ZbMibExtra *extra = A::Extra(node);
   char *text;
   uint32_t size;
   if (!ReadText(l, &text, &size))
      return 0;
   if (inArena)
   {
      if (!RecordForField(l, node, text != nullptr, &extra))
         return 0;
      if (extra != nullptr)
         extra->*field = text;
      return 1;
   }
   switch (tag)
   {
      case MIB_TAG_MODULE: node->SetModule(text); break;
      case MIB_TAG_TEXTUAL_CONVENTION: node->SetTextualConvention(text); break;
      case MIB_TAG_DISPLAY_HINT: node->SetDisplayHint(text); break;
      default: node->SetUnits(text); break;
   }
   extra = A::Extra(node);
   int ok = SameText(extra != nullptr ? extra->*field : nullptr, text);
   GiveBack(l, text, size);
   return ok;
}

/* Reads the value of an optional field after its opening tag, up to and
   with its closing tag. */
static int ReadOptionalField(MibLoader *l, SNMP_MIBObject *node, int tag)
{
   ZFile *file = l->file;
   const uint8_t *p;
   switch (tag)
   {
      case MIB_TAG_MODULE:
      case MIB_TAG_TEXTUAL_CONVENTION:
      case MIB_TAG_DISPLAY_HINT:
      case MIB_TAG_UNITS:
         if (!ReadOptionalText(l, node, tag))
            return 0;
         break;
      case MIB_TAG_FIXED_LENGTH:
      {
         if ((p = file->Take(4)) == nullptr)
            return 0;
         uint32_t length = GetBE32(p);
         if (l->InArena(node))
         {
            ZbMibExtra *extra;
            if (!RecordForField(l, node, length != 0, &extra))
               return 0;
            if (extra != nullptr)
               extra->fixedLength = length;
         }
         else
         {
            node->SetFixedLength(length);
            if (node->FixedLength() != length)
               return 0;
         }
         break;
      }
      case MIB_TAG_ENUM:
      case MIB_TAG_INDEX:
      {
         int32_t value = 0;
         if (tag == MIB_TAG_ENUM)
         {
            if ((p = file->Take(4)) == nullptr)
               return 0;
            value = (int32_t)GetBE32(p);
         }
         char *text;
         uint32_t size;
         if (!ReadText(l, &text, &size))
            return 0;
         /* An empty label or name stays empty: these fields have no "none". */
         const char *item = (text != nullptr) ? text : "";
         int ok;
         if (tag == MIB_TAG_ENUM)
         {
            ok = AddEnum(l, node, value, item);
         }
         else if (l->InArena(node))
         {
            ZbMibExtra *extra = ArenaRecord(l, node);
            ok = extra != nullptr &&
                 ArenaAppend(l, &extra->indexNames, &extra->indexCount, &extra->indexCapacity, item);
         }
         else
         {
            ok = node->AddIndex(item);
         }
         if (!l->InArena(node))
            GiveBack(l, text, size);
         if (!ok)
            return 0;
         break;
      }
      case MIB_TAG_ENUM_LIST:
      {
         /* A count, then each value and the label's length in base 128
            and the label's bytes. */
         if ((p = file->Take(2)) == nullptr)
            return 0;
         uint32_t count = GetBE16(p);
         if (l->InArena(node) && count > 0)
         {
            /* Room for all of them at once. */
            ZbMibExtra *extra = ArenaRecord(l, node);
            if (extra == nullptr)
               return 0;
            if (extra->enumCount == 0 && extra->enumCapacity < count)
            {
               extra->enums = (ZbMibEnum *)ZbMibArenaObject(l->arena, count * sizeof(ZbMibEnum));
               if (extra->enums == nullptr)
                  return 0;
               extra->enumCapacity = count;
            }
         }
         for (uint32_t i = 0; i < count; i++)
         {
            uint32_t value, n;
            if (!ReadBase128(file, 5, &value) || !ReadBase128(file, 3, &n) || n > MIB_MAX_STRING)
               return 0;
            char *label = (n > 0) ? ZbMibArenaText(l->arena, n + 1) : nullptr;
            if (n > 0 && (label == nullptr || file->ReadBytes(label, (int)n) != (int)n))
               return 0;
            if (label != nullptr)
               label[n] = 0;
            int ok = AddEnum(l, node, (int32_t)value, label != nullptr ? label : "");
            if (!l->InArena(node))
               GiveBack(l, label, n + 1);
            if (!ok)
               return 0;
         }
         break;
      }
      case MIB_TAG_IMPLIED:
      {
         if ((p = file->Take(1)) == nullptr)
            return 0;
         bool implied = p[0] != 0;
         if (l->InArena(node))
         {
            ZbMibExtra *extra;
            if (!RecordForField(l, node, implied, &extra))
               return 0;
            if (extra != nullptr)
               extra->indexImplied = implied;
         }
         else
         {
            node->SetIndexImplied(implied);
            if (node->IsIndexImplied() != implied)
               return 0;
         }
         break;
      }
      case MIB_TAG_SYNTAX:
         return ReadSyntax(l, node);
      case MIB_TAG_SYNTAX_REF:
      {
         if ((p = file->Take(4)) == nullptr)
            return 0;
         uint32_t id = GetBE32(p);
         if (id >= l->syntaxCount || !ApplySyntax(l, node, &l->syntaxes[id]))
            return 0;
         break;
      }
      case MIB_TAG_HEAD:
         return ReadHead(l, node);
      default:
         return 0;
   }
   return ExpectTag(file, tag | MIB_END_OF_TAG);
}

/* The writer starts every record with its head: in version 2 one head
   field, in version 1 name, OID, status, access and type, in this order.
   When the head is at hand in the stream's buffer, it is checked and taken
   in one step. 1 when taken; 0 leaves it to the field loop, with nothing
   taken. For a node just made (no name yet). */
static int ReadRecordHead(MibLoader *l, SNMP_MIBObject *node)
{
   uint32_t avail;
   const uint8_t *p = l->file->Peek(&avail);
   uint32_t oid, n, used, stride = 1, shared = 0;
   const uint8_t *name, *attributes;   /* status, access and type, stride bytes apart */
   if (avail >= 12 && p[0] == MIB_TAG_HEAD && l->file->Extended())
   {
      /* 14, up to five OID groups, three attributes, the name's length */
      uint32_t i = 1;
      oid = 0;
      for (;;)
      {
         uint8_t b = p[i++];
         if (oid >= (1u << 25))
            return 0;
         oid = (oid << 7) | (b & 0x7F);
         if (!(b & 0x80))
            break;
         if (i == 6)
            return 0;
      }
      attributes = p + i;
      shared = p[i + 3];
      n = GetBE16(p + i + 4);
      name = p + i + 6;
      used = i + 6 + n + 1;
      if (avail < used || name[n] != (MIB_TAG_HEAD | MIB_END_OF_TAG) || shared > l->lastHeadLength)
         return 0;
   }
   else if (avail >= 3 && p[0] == MIB_TAG_NAME)
   {
      /* name: 02, length, text, 82; then the longest OID form (6 bytes) and
         the three one-byte fields (9 bytes) */
      n = GetBE16(p + 1);
      if (avail - 3 < n + 1 + 6 + 9 || p[3 + n] != (MIB_TAG_NAME | MIB_END_OF_TAG))
         return 0;
      name = p + 3;
      const uint8_t *f = p + 4 + n;
      uint32_t width;
      switch (f[0])
      {
         case MIB_TAG_BYTE_OID: oid = f[1]; width = 3; break;
         case MIB_TAG_WORD_OID: oid = GetBE16(f + 1); width = 4; break;
         case MIB_TAG_DWORD_OID: oid = GetBE32(f + 1); width = 6; break;
         default: return 0;
      }
      const uint8_t *b = f + width;
      if (f[width - 1] != (f[0] | MIB_END_OF_TAG) || b[0] != MIB_TAG_STATUS ||
          b[2] != (MIB_TAG_STATUS | MIB_END_OF_TAG) || b[3] != MIB_TAG_ACCESS ||
          b[5] != (MIB_TAG_ACCESS | MIB_END_OF_TAG) || b[6] != MIB_TAG_TYPE ||
          b[8] != (MIB_TAG_TYPE | MIB_END_OF_TAG))
         return 0;
      attributes = b + 1;
      stride = 3;
      used = (uint32_t)(b + 9 - p);
   }
   else
   {
      return 0;
   }
   if (stride == 1)   /* a version-2 head: its name from the one before */
   {
      char *text = HeadName(l, shared, name, n);
      if (text == nullptr && shared + n > 0)
         return 0;
      A::Name(node) = text;
      if (text != nullptr)
         A::Storage(node) |= ZB_MIB_NAME_IN_ARENA;
   }
   else if (n > 0)   /* a version-1 name */
   {
      char *text = ZbMibArenaText(l->arena, n + 1);
      if (text == nullptr)
         return 0;
      memcpy(text, name, n);
      text[n] = 0;
      A::Name(node) = text;
      A::Storage(node) |= ZB_MIB_NAME_IN_ARENA;
   }
   A::Status(node) = attributes[0];
   A::Access(node) = attributes[stride];
   A::Type(node) = attributes[2 * stride];
   A::Oid(node) = oid;
   l->file->Skip(used);
   return 1;
}

/* Reads the fields and children of top's object record (its 01 already
   read) up to and with its 81. The children are made in arena, and so are
   top's fields when topInArena. At most MIB_MAX_LOAD_NODES nodes are built,
   top included, and MIB_MAX_DEPTH levels. The nodes are linked as they are
   made, so their parent links lead back to top: the walk needs no stack. */
static int ReadTree(ZFile *file, SNMP_MIBObject *top, ZbMibArena *arena, bool topInArena)
{
   /* What the scratch node gets lives in the arena: its destructor frees nothing. */
   SNMP_MIBObject scratch;
   MibLoader l = {file, arena, top, topInArena, nullptr, 0, 0, &scratch, "", 0, nullptr};
   SNMP_MIBObject *node = top;
   uint32_t depth = 1, nodes = 1;
   int result = 0;
   for (;;)
   {
      int tag = file->GetByte();
      const uint8_t *p;
      bool ok;
      switch (tag)
      {
         case MIB_TAG_OBJECT:
         {
            SNMP_MIBObject *child = nullptr;
            if (depth < MIB_MAX_DEPTH && nodes < MIB_MAX_LOAD_NODES)
               child = A::NewNode(arena);
            ok = (child != nullptr);
            if (!ok)
               break;
            node->AddChild(child);
            node = child;
            depth++;
            nodes++;
            ok = !file->Extended() || InheritModule(&l, child);
            if (ok)
               ReadRecordHead(&l, child);
            break;
         }
         case MIB_TAG_OBJECT | MIB_END_OF_TAG:
            if (node == top)
            {
               result = 1;
               goto done;
            }
            node = node->Parent();
            depth--;
            ok = true;
            break;
         case MIB_TAG_NAME:
         case MIB_TAG_DESCRIPTION:
            ok = ReadNodeText(&l, node, tag);
            break;
         case MIB_TAG_ACCESS:
         case MIB_TAG_STATUS:
         case MIB_TAG_TYPE:
            ok = (p = file->Take(2)) != nullptr;
            if (ok)
            {
               int &slot = (tag == MIB_TAG_ACCESS) ? A::Access(node)
                           : (tag == MIB_TAG_STATUS) ? A::Status(node) : A::Type(node);
               slot = p[0];
               ok = p[1] == (tag | MIB_END_OF_TAG);
            }
            break;
         case MIB_TAG_BYTE_OID:
            ok = (p = file->Take(2)) != nullptr;
            if (ok)
            {
               A::Oid(node) = p[0];
               ok = p[1] == (MIB_TAG_BYTE_OID | MIB_END_OF_TAG);
            }
            break;
         case MIB_TAG_WORD_OID:
            ok = (p = file->Take(3)) != nullptr;
            if (ok)
            {
               A::Oid(node) = GetBE16(p);
               ok = p[2] == (MIB_TAG_WORD_OID | MIB_END_OF_TAG);
            }
            break;
         case MIB_TAG_DWORD_OID:
            ok = (p = file->Take(5)) != nullptr;
            if (ok)
            {
               A::Oid(node) = GetBE32(p);
               ok = p[4] == (MIB_TAG_DWORD_OID | MIB_END_OF_TAG);
            }
            break;
         default:
            ok = file->Extended() && ReadOptionalField(&l, node, tag);
            break;
      }
      if (!ok)
      {
         /* A child that was not read completely is not kept. */
         if (depth >= 2)
         {
            SNMP_MIBObject *partial = A::LastChild(top);
            A::LastChild(top) = partial->Prev();
            if (A::LastChild(top) != nullptr)
               A::Next(A::LastChild(top)) = nullptr;
            else
               A::FirstChild(top) = nullptr;
            delete partial;
         }
         goto done;
      }
   }
done:
   free(l.syntaxes);
   return result;
}

int SNMP_MIBObject::ReadFromFile(ZFile *file)
{
   /* The children go into an arena of their own; this node keeps its fields
      where they are. */
   ZbMibArena *arena = ZbMibArenaNew(0);
   if (arena == nullptr)
      return 0;
   int ok = ReadTree(file, this, arena, false);
   ZbMibArenaRelease(arena);
   return ok;
}

/* ---- Files ---- */

#ifndef _WIN32
#define MIB_MAX_LINKS 40 /* symbolic links followed from a name, as the kernel does */
#endif

/* The file that fileName names, symbolic links followed (a link to a file
   that does not exist yet names the file to create), in a new malloc block;
   NULL for a chain of links that does not end, or no memory. */
static char *ResolveTarget(const char *fileName)
{
   char *path = zb_strdup(fileName);
#ifndef _WIN32
   for (int i = 0; path != nullptr && i < MIB_MAX_LINKS; i++)
   {
      struct stat st;
      if (lstat(path, &st) != 0 || !S_ISLNK(st.st_mode))
         return path;
      char link[4096];
      ssize_t n = readlink(path, link, sizeof(link));
      if (n < 0 || (size_t)n >= sizeof(link))
         break;
      /* A relative link is relative to the folder that holds it. */
      const char *slash = strrchr(path, '/');
      size_t dirLen = (link[0] == '/' || slash == nullptr) ? 0 : (size_t)(slash - path) + 1;
      char *next = (char *)malloc(dirLen + (size_t)n + 1);
      if (next == nullptr)
         break;
      memcpy(next, path, dirLen);
      memcpy(next + dirLen, link, (size_t)n);
      next[dirLen + (size_t)n] = 0;
      free(path);
      path = next;
   }
   free(path);
   return nullptr;
#else
   return path;
#endif
}

/* 1 when the existing regular file may be written, as opening it for
   writing would tell (nothing is truncated). */
static int CanWrite(const char *path)
{
#ifdef _WIN32
   return _access(path, 2) == 0;
#else
   int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
   if (fd < 0)
      return 0;
   close(fd);
   return 1;
#endif
}

/* Gives the new file at fd the owner, group and mode of the file it
   replaces; 0 when that cannot be done. */
static int KeepOwnerAndMode(int fd, const struct stat *keep)
{
#ifdef _WIN32
   (void)fd;
   (void)keep;
   return 1;
#else
   struct stat now;
   if (fstat(fd, &now) != 0)
      return 0;
   if ((now.st_uid != keep->st_uid || now.st_gid != keep->st_gid) &&
       fchown(fd, keep->st_uid, keep->st_gid) != 0)
      return 0;
   return fchmod(fd, keep->st_mode & 07777) == 0;
#endif
}

/* Creates a new temporary file beside the target, with the owner and mode
   of keep when the target exists (keep non-NULL), else 0666 less the umask.
   Returns it open for writing with its malloc'ed name in *tempName, or NULL
   when no such file can be made. */
static FILE *CreateTempFile(const char *target, const struct stat *keep, char **tempName)
{
   size_t size = strlen(target) + 48;
   char *name = (char *)malloc(size);
   if (name == nullptr)
      return nullptr;
   for (int attempt = 0; attempt < 100; attempt++)
   {
      snprintf(name, size, "%s.tmp%d.%d.%u", target, (int)GetPid(), attempt,
               (unsigned)((uintptr_t)&size & 0xFFFF));
      /* Made private first when it is to take an existing file's mode. */
      int mode = (keep != nullptr) ? 0600 : 0666;
#ifdef _WIN32
      int fd = _open(name, _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
      int fd = open(name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
#endif
      (void)mode;
      if (fd < 0)
      {
         if (errno == EEXIST)
            continue;
         break;
      }
      FILE *f = nullptr;
      if (keep == nullptr || KeepOwnerAndMode(fd, keep))
#ifdef _WIN32
         f = _fdopen(fd, "wb");
#else
         f = fdopen(fd, "wb");
#endif
      if (f == nullptr)
      {
#ifdef _WIN32
         _close(fd);
#else
         close(fd);
#endif
         remove(name);
         break;
      }
      *tempName = name;
      return f;
   }
   free(name);
   return nullptr;
}

static int ReplaceFile(const char *from, const char *to)
{
#ifdef _WIN32
   return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
#else
   return rename(from, to);
#endif
}

/* Where a save writes: the file itself, and the temporary file beside it
   that replaces it at the end (NULL for a write in place). */
struct SaveTarget
{
   char *path;
   char *tempName;
   FILE *file;
};

/* Opens the save's output. A regular file with one name (or none yet) is
   replaced through a temporary file that keeps its owner and mode; where no
   such file can be made (a folder the user cannot write, an owner that
   cannot be kept), and for anything else (a file with several hard links, a
   device, a pipe), the file is written in place. */
static uint32_t OpenForSave(const char *fileName, SaveTarget *t)
{
   t->tempName = nullptr;
   t->file = nullptr;
   t->path = ResolveTarget(fileName);
   if (t->path == nullptr)
      return SNMP_RC_FILE_IO_ERROR;
   struct stat st;
   bool exists = stat(t->path, &st) == 0;
   if (exists && S_ISREG(st.st_mode))
   {
      /* A file the user may not write is not replaced either. */
      if (!CanWrite(t->path))
         return SNMP_RC_FILE_IO_ERROR;
      if (st.st_nlink == 1)
         t->file = CreateTempFile(t->path, &st, &t->tempName);
   }
   else if (!exists)
   {
      t->file = CreateTempFile(t->path, nullptr, &t->tempName);
   }
   if (t->file == nullptr)
      t->file = fopen(t->path, "wb");
   return (t->file != nullptr) ? SNMP_RC_SUCCESS : SNMP_RC_FILE_IO_ERROR;
}

/* Writes header and body to f and closes it. */
static uint32_t WriteTree(FILE *f, SNMP_MIBObject *root, uint32_t flags, bool optional)
{
   uint8_t header[MIB_HEADER_SIZE];
   memcpy(header, MIB_MAGIC, 6);
   header[6] = MIB_HEADER_SIZE;
   header[7] = optional ? MIB_FORMAT_VERSION_OPTIONAL_FIELDS : MIB_FORMAT_VERSION;
   PutBE16(header + 8, (uint16_t)flags);
   header[10] = header[11] = 0;
   PutBE32(header + 12, (uint32_t)time(nullptr));
   bool ok = fwrite(header, 1, MIB_HEADER_SIZE, f) == MIB_HEADER_SIZE;

   ZFile *file = new (std::nothrow) ZFile(f, (flags & MIB_SAVE_COMPRESS) ? 1 : 0, 1);
   if (file == nullptr)
   {
      fclose(f);
      return SNMP_RC_FILE_IO_ERROR;
   }
   /* A body the loader would refuse is not written. */
   file->SetLimit(MIB_MAX_LOAD_BYTES);
   file->SetPieces((flags & MIB_SAVE_PARALLEL_DEFLATE) != 0);
   if (ok)
      root->WriteToFile(file, flags);
   if (file->Close() != 0 || file->HasError())
      ok = false;
   bool tooLarge = file->OverLimit();
   delete file;
   return tooLarge ? SNMP_RC_BAD_PARAMETERS : ok ? SNMP_RC_SUCCESS : SNMP_RC_FILE_IO_ERROR;
}

uint32_t SNMPSaveMIBTree(const char *fileName, SNMP_MIBObject *root, uint32_t flags)
{
   if (fileName == nullptr || root == nullptr)
      return SNMP_RC_FILE_IO_ERROR;
   /* A tree the loader would refuse is not written. */
   bool optional = false;
   if (!TreeLoadable(root, &optional))
      return SNMP_RC_BAD_PARAMETERS;
   /* The optional-fields flag is the writer's own: it says what the body holds. */
   flags &= ~(uint32_t)MIB_FILE_OPTIONAL_FIELDS;
   if (optional)
      flags |= MIB_FILE_OPTIONAL_FIELDS;

   SaveTarget target;
   uint32_t rc = OpenForSave(fileName, &target);
   if (rc == SNMP_RC_SUCCESS)
      rc = WriteTree(target.file, root, flags, optional);
   if (target.tempName != nullptr)
   {
      if (rc == SNMP_RC_SUCCESS && ReplaceFile(target.tempName, target.path) != 0)
         rc = SNMP_RC_FILE_IO_ERROR;
      if (rc != SNMP_RC_SUCCESS)
         remove(target.tempName);
   }
   free(target.tempName);
   free(target.path);
   return rc;
}

/* Opens a MIB file and reads its header; SNMP_RC_SUCCESS leaves it open. */
static uint32_t OpenMIBFile(const char *fileName, FILE **file, uint8_t *header)
{
   if (fileName == nullptr)
      return SNMP_RC_FILE_IO_ERROR;
   FILE *f = fopen(fileName, "rb");
   if (f == nullptr)
      return SNMP_RC_FILE_IO_ERROR;
   if (fread(header, 1, MIB_HEADER_SIZE, f) != MIB_HEADER_SIZE ||
       memcmp(header, MIB_MAGIC, 6) != 0)
   {
      fclose(f);
      return SNMP_RC_BAD_FILE_HEADER;
   }
   *file = f;
   return SNMP_RC_SUCCESS;
}

uint32_t SNMPLoadMIBTree(const char *fileName, SNMP_MIBObject **root)
{
   if (root == nullptr)
      return SNMP_RC_BAD_PARAMETERS;
   FILE *f;
   uint8_t header[MIB_HEADER_SIZE];
   uint32_t rc = OpenMIBFile(fileName, &f, header);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   uint16_t flags = GetBE16(header + 8);
   /* The size of the body tells roughly what the tree will take: a
      compressed tag stream inflates to about six to eight times its size,
      and the nodes take about what their records do. */
   long end = (fseek(f, 0, SEEK_END) == 0) ? ftell(f) : -1;
   size_t body = (end > (long)header[6]) ? (size_t)(end - header[6]) : 0;
   size_t expected = (flags & MIB_SAVE_COMPRESS) ? ((body < SIZE_MAX / 8) ? body * 8 : SIZE_MAX) : body;
   if (fseek(f, header[6], SEEK_SET) != 0)
   {
      fclose(f);
      return SNMP_RC_FILE_IO_ERROR;
   }
   /* Allocation failure anywhere in a load is bad data, never an abort. */
   ZFile *file = new (std::nothrow) ZFile(f, (flags & MIB_SAVE_COMPRESS) ? 1 : 0, 0);
   if (file == nullptr)
   {
      fclose(f);
      return SNMP_RC_BAD_FILE_DATA;
   }
   file->SetLimit(MIB_MAX_LOAD_BYTES);
   file->SetExtended(header[7] >= MIB_FORMAT_VERSION_OPTIONAL_FIELDS &&
                     (flags & MIB_FILE_OPTIONAL_FIELDS) != 0);
   /* The whole tree, the root included, is built in one arena, which goes
      when the last of its nodes is deleted. */
   SNMP_MIBObject *tree = nullptr;
   ZbMibArena *arena = nullptr;
   if (file->GetByte() != MIB_TAG_OBJECT || (arena = ZbMibArenaNew(expected)) == nullptr ||
       (tree = ZbMibAccess::NewNode(arena)) == nullptr)
   {
      rc = SNMP_RC_BAD_FILE_DATA;
   }
   else
   {
      /* A compressed body must also end intact: its checksum covers the tree. */
      if (ReadTree(file, tree, arena, true) && file->VerifyEnd())
      {
         *root = tree;
         rc = SNMP_RC_SUCCESS;
      }
      else
      {
         delete tree;
         *root = nullptr;
         rc = SNMP_RC_BAD_FILE_DATA;
      }
   }
   ZbMibArenaRelease(arena);
   file->Close();
   delete file;
   return rc;
}

uint32_t SNMPGetMIBTreeTimestamp(const char *fileName, uint32_t *timestamp)
{
   FILE *f;
   uint8_t header[MIB_HEADER_SIZE];
   uint32_t rc = OpenMIBFile(fileName, &f, header);
   if (rc != SNMP_RC_SUCCESS)
      return rc;
   if (timestamp != nullptr)
      *timestamp = GetBE32(header + 12);
   fclose(f);
   return SNMP_RC_SUCCESS;
}
