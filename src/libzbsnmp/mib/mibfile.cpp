/* The MIB tree file: a 16-byte header ("ZBMIB ", header size, version, flags,
   reserved, timestamp; big-endian) and a tagged body, plain or compressed. */
#include "internal.h"
#include "zfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#define GetPid _getpid
#else
#include <sys/stat.h>
#include <unistd.h>
#define GetPid getpid
#endif

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

/* The optional fields of format version 2. The module is left out where it
   is the one the node inherits from its parent's record (inherited); a node
   without a module under one with a module gets an empty module field. */
static void WriteOptionalFields(ZFile *file, SNMP_MIBObject *node, const char *inherited)
{
   if (!SameText(node->Module(), inherited))
      WriteString(file, MIB_TAG_MODULE, node->Module());
   if (node->TextualConvention() != nullptr)
      WriteString(file, MIB_TAG_TEXTUAL_CONVENTION, node->TextualConvention());
   if (node->DisplayHint() != nullptr)
      WriteString(file, MIB_TAG_DISPLAY_HINT, node->DisplayHint());
   if (node->Units() != nullptr)
      WriteString(file, MIB_TAG_UNITS, node->Units());
   uint8_t field[6];
   if (node->FixedLength() != 0)
   {
      field[0] = MIB_TAG_FIXED_LENGTH;
      PutBE32(field + 1, node->FixedLength());
      field[5] = MIB_TAG_FIXED_LENGTH | MIB_END_OF_TAG;
      file->WriteBytes(field, 6);
   }
   for (uint32_t i = 0; i < node->EnumCount(); i++)
   {
      field[0] = MIB_TAG_ENUM;
      PutBE32(field + 1, (uint32_t)node->EnumValue(i));
      file->WriteBytes(field, 5);
      WriteStringBody(file, node->EnumLabel(i));
      file->PutByte(MIB_TAG_ENUM | MIB_END_OF_TAG);
   }
   for (uint32_t i = 0; i < node->IndexCount(); i++)
      WriteString(file, MIB_TAG_INDEX, node->IndexName(i));
   if (node->IsIndexImplied())
      WriteByteField(file, MIB_TAG_IMPLIED, 1);
}

static void WriteFields(ZFile *file, SNMP_MIBObject *node, uint32_t flags, const char *inherited)
{
   file->PutByte(MIB_TAG_OBJECT);
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
   if (flags & MIB_FILE_OPTIONAL_FIELDS)
      WriteOptionalFields(file, node, inherited);
}

void SNMP_MIBObject::WriteToFile(ZFile *file, uint32_t flags)
{
   /* Depth first with an explicit stack: each node's fields, then its
      children, then its closing tag. */
   std::vector<SNMP_MIBObject *> open;
   WriteFields(file, this, flags, nullptr);
   open.push_back(this);
   SNMP_MIBObject *next = m_firstChild;
   while (!open.empty())
   {
      if (next != nullptr)
      {
         WriteFields(file, next, flags, open.back()->Module());
         open.push_back(next);
         next = next->m_firstChild;
         continue;
      }
      SNMP_MIBObject *done = open.back();
      open.pop_back();
      file->PutByte(MIB_TAG_OBJECT | MIB_END_OF_TAG);
      next = open.empty() ? nullptr : done->m_next;
   }
}

/* The depth of the tree; *optional tells whether any node has optional fields. */
static uint32_t TreeDepth(SNMP_MIBObject *root, bool *optional)
{
   std::vector<std::pair<SNMP_MIBObject *, uint32_t>> stack;
   stack.emplace_back(root, 1);
   uint32_t depth = 0;
   while (!stack.empty())
   {
      auto item = stack.back();
      stack.pop_back();
      if (item.second > depth)
         depth = item.second;
      if (!*optional && HasOptionalFields(item.first))
         *optional = true;
      for (SNMP_MIBObject *c = item.first->FirstChild(); c != nullptr; c = c->Next())
         stack.emplace_back(c, item.second + 1);
   }
   return depth;
}

/* ---- Reading ---- */

static int ExpectTag(ZFile *file, int tag)
{
   return file->GetByte() == tag;
}

/* Reads n bytes of text into a new malloc block; *out is NULL for n = 0.
   Fails at once when the data ends inside the text. */
static int ReadText(ZFile *file, uint32_t n, char **out)
{
   if (n == 0)
   {
      *out = nullptr;
      return 1;
   }
   char *text = (char *)malloc(n + 1);
   if (text == nullptr)
      return 0;
   if (file->ReadBytes(text, (int)n) != (int)n)
   {
      free(text);
      return 0;
   }
   text[n] = 0;
   *out = text;
   return 1;
}

/* Reads a 16-bit length and the text; *out is NULL for length 0. */
static int ReadString(ZFile *file, char **out)
{
   int high = file->GetByte();
   int low = file->GetByte();
   if (high < 0 || low < 0)
      return 0;
   uint32_t n = ((uint32_t)high << 8) | (uint32_t)low;
   return ReadText(file, n, out);
}

static int ReadNumber(ZFile *file, int width, uint32_t *out)
{
   uint8_t bytes[4];
   if (file->ReadBytes(bytes, width) != width)
      return 0;
   uint32_t v = 0;
   for (int i = 0; i < width; i++)
      v = (v << 8) | bytes[i];
   *out = v;
   return 1;
}

/* Stores text (a malloc block, or NULL to remove the field) as an optional
   text field, which takes it over; 0 when the node's record of optional
   fields cannot be allocated (text is then freed). */
static int StoreOptionalText(ZbMibExtra **slot, char *ZbMibExtra::*field, char *text)
{
   if (text == nullptr && *slot == nullptr)
      return 1;
   ZbMibExtra *extra = ZbMibExtraGet(slot);
   if (extra == nullptr)
   {
      free(text);
      return 0;
   }
   free(extra->*field);
   extra->*field = text;
   return 1;
}

/* Reads the value of an optional field after its opening tag, up to and
   with its closing tag. */
static int ReadOptionalField(ZFile *file, int tag, SNMP_MIBObject *node, ZbMibExtra **slot)
{
   char *text = nullptr;
   uint32_t number = 0;
   int ok;
   switch (tag)
   {
      case MIB_TAG_MODULE:
         ok = ReadString(file, &text);
         if (ok)
         {
            /* Through a node of its own, so that its children can share it. */
            node->SetModule(text);
            ok = text == nullptr ? node->Module() == nullptr
                                 : (node->Module() != nullptr && strcmp(node->Module(), text) == 0);
            free(text);
         }
         break;
      case MIB_TAG_TEXTUAL_CONVENTION:
      case MIB_TAG_DISPLAY_HINT:
      case MIB_TAG_UNITS:
      {
         char *ZbMibExtra::*field = (tag == MIB_TAG_TEXTUAL_CONVENTION)
                                       ? &ZbMibExtra::textualConvention
                                    : (tag == MIB_TAG_DISPLAY_HINT) ? &ZbMibExtra::displayHint
                                                                    : &ZbMibExtra::units;
         ok = ReadString(file, &text) && StoreOptionalText(slot, field, text);
         break;
      }
      case MIB_TAG_FIXED_LENGTH:
         ok = ReadNumber(file, 4, &number);
         if (ok)
         {
            node->SetFixedLength(number);
            ok = node->FixedLength() == number;
         }
         break;
      case MIB_TAG_ENUM:
      case MIB_TAG_INDEX:
         /* An empty label or name stays empty: these fields have no "none". */
         ok = (tag == MIB_TAG_INDEX || ReadNumber(file, 4, &number)) && ReadString(file, &text);
         if (ok && text == nullptr)
            ok = (text = zb_strdup("")) != nullptr;
         if (ok)
            ok = (tag == MIB_TAG_ENUM) ? ZbMibAddEnumTaking(slot, (int32_t)number, text)
                                       : ZbMibAddIndexTaking(slot, text);
         break;
      case MIB_TAG_IMPLIED:
      {
         int value = file->GetByte();
         ok = (value >= 0);
         if (ok)
         {
            node->SetIndexImplied(value != 0);
            ok = node->IsIndexImplied() == (value != 0);
         }
         break;
      }
      default:
         return 0;
   }
   return ok && ExpectTag(file, tag | MIB_END_OF_TAG);
}

int SNMP_MIBObject::ReadFromFile(ZFile *file)
{
   std::vector<SNMP_MIBObject *> open;
   open.push_back(this);
   for (;;)
   {
      SNMP_MIBObject *node = open.back();
      int tag = file->GetByte();
      bool ok = true;
      switch (tag)
      {
         case MIB_TAG_OBJECT:
            if (open.size() >= MIB_MAX_DEPTH)
            {
               ok = false;
               break;
            }
            {
               SNMP_MIBObject *child = new SNMP_MIBObject();
               node->AddChild(child);
               open.push_back(child);
               /* Version 2: a record starts with its parent's module. */
               if (file->Extended() && node->Module() != nullptr)
                  ok = ZbMibShareModule(&child->m_extra, node->Module()) != 0;
            }
            break;
         case MIB_TAG_OBJECT | MIB_END_OF_TAG:
            open.pop_back();
            if (open.empty())
               return 1;
            break;
         case MIB_TAG_NAME:
         case MIB_TAG_DESCRIPTION:
         {
            char *text;
            ok = ReadString(file, &text) != 0;
            if (!ok)
               break;
            char **slot = (tag == MIB_TAG_NAME) ? &node->m_name : &node->m_description;
            free(*slot);
            *slot = text;
            ok = ExpectTag(file, tag | MIB_END_OF_TAG) != 0;
            break;
         }
         case MIB_TAG_ACCESS:
         case MIB_TAG_STATUS:
         case MIB_TAG_TYPE:
         {
            int value = file->GetByte();
            ok = (value >= 0);
            if (!ok)
               break;
            int *slot = (tag == MIB_TAG_ACCESS) ? &node->m_access
                        : (tag == MIB_TAG_STATUS) ? &node->m_status : &node->m_type;
            *slot = value;
            ok = ExpectTag(file, tag | MIB_END_OF_TAG) != 0;
            break;
         }
         case MIB_TAG_BYTE_OID:
         case MIB_TAG_WORD_OID:
         case MIB_TAG_DWORD_OID:
         {
            int width = (tag == MIB_TAG_BYTE_OID) ? 1 : (tag == MIB_TAG_WORD_OID) ? 2 : 4;
            uint32_t oid;
            ok = ReadNumber(file, width, &oid) != 0;
            if (!ok)
               break;
            node->m_oid = oid;
            ok = ExpectTag(file, tag | MIB_END_OF_TAG) != 0;
            break;
         }
         default:
            ok = file->Extended() && ReadOptionalField(file, tag, node, &node->m_extra);
            break;
      }
      if (!ok)
      {
         /* A child that was not read completely is not kept. */
         if (open.size() >= 2)
         {
            SNMP_MIBObject *partial = m_lastChild;
            m_lastChild = partial->m_prev;
            if (m_lastChild != nullptr)
               m_lastChild->m_next = nullptr;
            else
               m_firstChild = nullptr;
            delete partial;
         }
         return 0;
      }
   }
}

/* ---- Files ---- */

/* Creates a new temporary file beside the target; returns it open for
   writing with its name in tempName, or NULL. */
static FILE *CreateTempFile(const char *target, std::string *tempName)
{
   for (int attempt = 0; attempt < 100; attempt++)
   {
      char suffix[48];
      snprintf(suffix, sizeof(suffix), ".tmp%d.%d.%u", (int)GetPid(), attempt,
               (unsigned)((uintptr_t)tempName & 0xFFFF));
      *tempName = std::string(target) + suffix;
#ifdef _WIN32
      int fd = _open(tempName->c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, 0666);
#else
      int fd = open(tempName->c_str(), O_CREAT | O_EXCL | O_WRONLY, 0666);
#endif
      if (fd < 0)
      {
         if (errno == EEXIST)
            continue;
         return nullptr;
      }
#ifdef _WIN32
      FILE *f = _fdopen(fd, "wb");
#else
      FILE *f = fdopen(fd, "wb");
#endif
      if (f == nullptr)
      {
#ifdef _WIN32
         _close(fd);
#else
         close(fd);
#endif
         remove(tempName->c_str());
      }
      return f;
   }
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

uint32_t SNMPSaveMIBTree(const char *fileName, SNMP_MIBObject *root, uint32_t flags)
{
   if (fileName == nullptr || root == nullptr)
      return SNMP_RC_FILE_IO_ERROR;
   /* A tree the loader would refuse is not written. */
   bool optional = false;
   if (TreeDepth(root, &optional) > MIB_MAX_DEPTH)
      return SNMP_RC_BAD_PARAMETERS;
   /* The optional-fields flag is the writer's own: it says what the body holds. */
   flags &= ~(uint32_t)MIB_FILE_OPTIONAL_FIELDS;
   if (optional)
      flags |= MIB_FILE_OPTIONAL_FIELDS;

   std::string tempName;
   FILE *f = CreateTempFile(fileName, &tempName);
   if (f == nullptr)
      return SNMP_RC_FILE_IO_ERROR;

   uint8_t header[MIB_HEADER_SIZE];
   memcpy(header, MIB_MAGIC, 6);
   header[6] = MIB_HEADER_SIZE;
   header[7] = optional ? MIB_FORMAT_VERSION_OPTIONAL_FIELDS : MIB_FORMAT_VERSION;
   PutBE16(header + 8, (uint16_t)flags);
   header[10] = header[11] = 0;
   PutBE32(header + 12, (uint32_t)time(nullptr));
   bool ok = fwrite(header, 1, MIB_HEADER_SIZE, f) == MIB_HEADER_SIZE;

   ZFile *file = new ZFile(f, (flags & MIB_SAVE_COMPRESS) ? 1 : 0, 1);
   if (ok)
      root->WriteToFile(file, flags);
   if (file->Close() != 0 || file->HasError())
      ok = false;
   delete file;

   if (!ok || ReplaceFile(tempName.c_str(), fileName) != 0)
   {
      remove(tempName.c_str());
      return SNMP_RC_FILE_IO_ERROR;
   }
   return SNMP_RC_SUCCESS;
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
   if (fseek(f, header[6], SEEK_SET) != 0)
   {
      fclose(f);
      return SNMP_RC_FILE_IO_ERROR;
   }
   ZFile *file = new ZFile(f, (flags & MIB_SAVE_COMPRESS) ? 1 : 0, 0);
   file->SetExtended(header[7] >= MIB_FORMAT_VERSION_OPTIONAL_FIELDS &&
                     (flags & MIB_FILE_OPTIONAL_FIELDS) != 0);
   if (file->GetByte() != MIB_TAG_OBJECT)
   {
      rc = SNMP_RC_BAD_FILE_DATA;
   }
   else
   {
      SNMP_MIBObject *tree = new SNMP_MIBObject();
      /* A compressed body must also end intact: its checksum covers the tree. */
      if (tree->ReadFromFile(file) && file->VerifyEnd())
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
