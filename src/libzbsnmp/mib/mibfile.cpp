/* The MIB tree file: a 16-byte header ("ZBMIB ", header size, version, flags,
   reserved, timestamp; big-endian) and a tagged body, plain or compressed. */
#include "internal.h"
#include "zfile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <new>

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
   int whole = WalkTree(
       this,
       [&](SNMP_MIBObject *node) {
          /* A record starts with its parent's module: the reader knows no
             parent above the record it starts from. */
          WriteFields(file, node, flags, node == this ? nullptr : node->Parent()->Module());
          return true;
       },
       [&](SNMP_MIBObject *) { file->PutByte(MIB_TAG_OBJECT | MIB_END_OF_TAG); });
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
   /* The nodes are made here, so their parent links lead back to this one:
      the walk needs no stack of its own and allocates only the nodes. At
      most MIB_MAX_LOAD_NODES nodes are built, this one included. */
   SNMP_MIBObject *node = this;
   uint32_t depth = 1, nodes = 1;
   for (;;)
   {
      int tag = file->GetByte();
      bool ok = true;
      switch (tag)
      {
         case MIB_TAG_OBJECT:
         {
            SNMP_MIBObject *child = nullptr;
            if (depth < MIB_MAX_DEPTH && nodes < MIB_MAX_LOAD_NODES)
               child = new (std::nothrow) SNMP_MIBObject();
            ok = (child != nullptr);
            if (!ok)
               break;
            node->AddChild(child);
            /* Version 2: a record starts with its parent's module. */
            if (file->Extended() && node->Module() != nullptr &&
                !ZbMibShareModule(&child->m_extra, node->Module()))
            {
               node = child;
               depth++;
               ok = false;
               break;
            }
            node = child;
            depth++;
            nodes++;
            break;
         }
         case MIB_TAG_OBJECT | MIB_END_OF_TAG:
            if (node == this)
               return 1;
            node = node->m_parent;
            depth--;
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
         if (depth >= 2)
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
   SNMP_MIBObject *tree = nullptr;
   if (file->GetByte() != MIB_TAG_OBJECT || (tree = new (std::nothrow) SNMP_MIBObject()) == nullptr)
   {
      rc = SNMP_RC_BAD_FILE_DATA;
   }
   else
   {
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
