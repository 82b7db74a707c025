/* The index of the compiler's input files by module name: file names differ
   from module names (lldp.mib holds LLDP-MIB), so every file is read for
   the names it defines. */
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <new>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>

#include "mib_compiler.h"

namespace fs = std::filesystem;

/* Largest file read for module names: MIB modules are text of at most a few
   megabytes; anything larger is not one. */
#define MIB_MAX_MODULE_FILE (16u << 20)
/* Most helper threads that scan input files beside the calling one. */
#define MIB_MAX_INDEX_HELPERS 3
/* Folders deeper than this below an input are not searched. */
#define MIB_MAX_FOLDER_DEPTH 16

const char *const MIB_MODULE_ALIASES[][2] = {
   {"RFC-1213", "RFC1213-MIB"},
   {"RFC1158-MIB", "RFC1213-MIB"},
   {"RFC1156-MIB", "RFC1213-MIB"},
   {"RFC1065-SMI", "RFC1155-SMI"},
   {"RFC1212", "RFC-1212"},
   {"RFC1215", "RFC-1215"},
   {"RFC-1215", "RFC1215"},
   {nullptr, nullptr},
};

/* Character classes of the scan, in the C locale (a MIB module is ASCII). */
enum
{
   CHAR_START = 1, /* starts an identifier */
   CHAR_IDENT = 2, /* continues one */
   CHAR_SPACE = 4,
};

struct CharClasses
{
   uint8_t of[256] = {0};
   CharClasses()
   {
      for (int c = 0; c < 256; c++)
      {
         bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
         bool digit = c >= '0' && c <= '9';
         of[c] = (uint8_t)((alpha ? CHAR_START : 0) | ((alpha || digit || c == '-' || c == '_') ? CHAR_IDENT : 0) |
                           ((c == ' ' || (c >= '\t' && c <= '\r')) ? CHAR_SPACE : 0));
      }
   }
};
static const CharClasses kClasses;

static bool IsIdentifierStart(char c)
{
   return (kClasses.of[(unsigned char)c] & CHAR_START) != 0;
}

static bool IsIdentifierChar(char c)
{
   return (kClasses.of[(unsigned char)c] & CHAR_IDENT) != 0;
}

static bool IsSpace(char c)
{
   return (kClasses.of[(unsigned char)c] & CHAR_SPACE) != 0;
}

/* After an ASN.1 comment that starts at i ("--"): it ends at the end of the
   line or at the next "--". */
static size_t SkipComment(const char *text, size_t length, size_t i)
{
   i += 2;
   while (i < length && text[i] != '\n' && text[i] != '\r')
   {
      if (text[i] == '-' && i + 1 < length && text[i + 1] == '-')
         return i + 2;
      i++;
   }
   return i;
}

/* After the quoted string that starts at i. Most of a module's text is
   such strings (the descriptions): memchr crosses them fastest. */
static size_t SkipString(const char *text, size_t length, size_t i)
{
   i++;
   const char *close = (i < length) ? (const char *)memchr(text + i, '"', length - i) : nullptr;
   return (close != nullptr) ? (size_t)(close - text) + 1 : length + 1;
}

std::vector<std::string> MibModuleNamesIn(const char *text, size_t length)
{
   std::vector<std::string> names;
   /* The last identifier (empty after anything else but an OID value). */
   size_t previousStart = 0, previousLength = 0;
   size_t i = 0;
   while (i < length)
   {
      char c = text[i];
      if (c == '-' && i + 1 < length && text[i + 1] == '-')
      {
         i = SkipComment(text, length, i);
         continue;
      }
      if (c == '"')
      {
         i = SkipString(text, length, i);
         previousLength = 0;
         continue;
      }
      if (c == '{')
      {
         /* A module's OID value may stand between its name and DEFINITIONS. */
         size_t close = i + 1;
         while (close < length && text[close] != '}' && close - i < 256)
            close++;
         i = close + 1;
         continue;
      }
      if (IsIdentifierStart(c))
      {
         size_t start = i;
         while (i < length && IsIdentifierChar(text[i]))
            i++;
         static const char kDefinitions[] = "DEFINITIONS";
         if (i - start == sizeof(kDefinitions) - 1 && memcmp(text + start, kDefinitions, i - start) == 0)
         {
            std::string previous(text + previousStart, previousLength);
            if (previousLength > 0 && isupper((unsigned char)previous[0]) &&
                std::find(names.begin(), names.end(), previous) == names.end())
               names.push_back(previous);
            previousLength = 0;
         }
         else
         {
            previousStart = start;
            previousLength = i - start;
         }
         continue;
      }
      if (!IsSpace(c))
         previousLength = 0;
      i++;
   }
   return names;
}

/* The macros whose value notation defines a name ("name OBJECT-TYPE ..."),
   besides "name OBJECT IDENTIFIER ::=". */
static const std::string_view kDefiningMacros[] = {
   "OBJECT-TYPE",     "OBJECT-IDENTITY",    "MODULE-IDENTITY",   "NOTIFICATION-TYPE",
   "TRAP-TYPE",       "OBJECT-GROUP",       "NOTIFICATION-GROUP", "MODULE-COMPLIANCE",
   "AGENT-CAPABILITIES",
};

static bool TokenIs(const char *text, size_t start, size_t length, const char *word, size_t wordLength)
{
   return wordLength == length && memcmp(text + start, word, length) == 0;
}

template <size_t N>
static bool TokenIs(const char *text, size_t start, size_t length, const char (&word)[N])
{
   return TokenIs(text, start, length, word, N - 1);
}

std::vector<std::pair<std::string, std::vector<std::string>>> MibDefinitionsIn(const char *text,
                                                                               size_t length)
{
   std::vector<std::pair<std::string, std::vector<std::string>>> modules;
   /* The last three tokens: identifiers, or one character of anything else
      ('=' for "::="). */
   struct Token
   {
      size_t start = 0, length = 0;
      bool identifier = false;
   } last[3];
   auto push = [&](size_t start, size_t len, bool identifier) {
      last[0] = last[1];
      last[1] = last[2];
      last[2] = Token{start, len, identifier};
   };
   size_t i = 0;
   while (i < length)
   {
      char c = text[i];
      if (c == '-' && i + 1 < length && text[i + 1] == '-')
      {
         i = SkipComment(text, length, i);
         continue;
      }
      if (c == '"')
      {
         i = SkipString(text, length, i);
         push(i, 0, false);
         continue;
      }
      if (IsIdentifierStart(c))
      {
         size_t start = i;
         while (i < length && IsIdentifierChar(text[i]))
            i++;
         size_t len = i - start;
         const Token &prev = last[2];
         bool lowerBefore = prev.identifier && prev.length > 0 && islower((unsigned char)text[prev.start]);
         if (TokenIs(text, start, len, "DEFINITIONS"))
         {
            /* A module: its name stands before DEFINITIONS (perhaps with an
               OID value between, which the scan does not need). */
            for (int k = 2; k >= 0; k--)
               if (last[k].identifier && last[k].length > 0 && isupper((unsigned char)text[last[k].start]))
               {
                  modules.push_back({std::string(text + last[k].start, last[k].length), {}});
                  break;
               }
         }
         else if (lowerBefore && !modules.empty())
         {
            for (std::string_view macro : kDefiningMacros)
               if (TokenIs(text, start, len, macro.data(), macro.size()))
                  modules.back().second.push_back(std::string(text + prev.start, prev.length));
         }
         push(start, len, true);
         continue;
      }
      if (c == ':' && i + 2 < length && text[i + 1] == ':' && text[i + 2] == '=')
      {
         /* "name OBJECT IDENTIFIER ::=" */
         if (!modules.empty() && last[2].identifier && TokenIs(text, last[2].start, last[2].length, "IDENTIFIER") &&
             last[1].identifier && TokenIs(text, last[1].start, last[1].length, "OBJECT") &&
             last[0].identifier && last[0].length > 0 && islower((unsigned char)text[last[0].start]))
            modules.back().second.push_back(std::string(text + last[0].start, last[0].length));
         push(i, 1, false);
         i += 3;
         continue;
      }
      if (!IsSpace(c))
         push(i, 1, false);
      i++;
   }
   return modules;
}

/* Reads a file of at most MIB_MAX_MODULE_FILE bytes; 0 when it cannot. */
static int ReadSmallFile(const std::string &path, std::string *out)
{
   FILE *f = fopen(path.c_str(), "rb");
   if (f == nullptr)
      return 0;
   out->clear();
   char buffer[65536];
   size_t n;
   int ok = 1;
   while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
   {
      if (out->size() + n > MIB_MAX_MODULE_FILE)
      {
         ok = 0;
         break;
      }
      out->append(buffer, n);
   }
   if (ferror(f))
      ok = 0;
   fclose(f);
   return ok;
}

/* What one file holds: the modules it names and the names each defines. */
struct FileScan
{
   std::vector<std::string> names;
   std::vector<std::pair<std::string, std::vector<std::string>>> definitions;
};

static void ScanFile(const std::string &path, FileScan *scan)
{
   std::string text;
   if (!ReadSmallFile(path, &text))
      return;
   scan->definitions = MibDefinitionsIn(text.data(), text.size());
   scan->names = MibModuleNamesIn(text.data(), text.size());
}

/* Scans the files on a few threads (each file alone: reading and scanning
   the 21 MB of the shipped modules is about a tenth of a compile). */
static std::vector<FileScan> ScanFiles(const std::vector<std::string> &files)
{
   std::vector<FileScan> scans(files.size());
   std::atomic<size_t> next{0};
   std::atomic<bool> outOfMemory{false};
   auto work = [&] {
      try
      {
         for (size_t i; (i = next.fetch_add(1)) < files.size();)
            ScanFile(files[i], &scans[i]);
      }
      catch (const std::bad_alloc &)
      {
         outOfMemory = true;   /* given to the caller below, as without helpers */
      }
   };
   std::vector<std::thread> helpers;
   unsigned cores = std::thread::hardware_concurrency();
   size_t wanted = std::min<size_t>((cores > 1) ? cores - 1 : 0, MIB_MAX_INDEX_HELPERS);
   if (files.size() > 1)
      try
      {
         while (helpers.size() < wanted)
            helpers.emplace_back(work);
      }
      catch (const std::system_error &)
      {
         /* fewer helpers: this thread scans what they do not */
      }
   work();
   for (std::thread &t : helpers)
      t.join();
   if (outOfMemory)
      throw std::bad_alloc();
   return scans;
}

/* Appends the files an input names: itself, or a folder's files in name
   order. 0 with *error when the input cannot be read. */
static int ListInput(const std::string &input, std::vector<std::string> *list, std::string *error)
{
   std::error_code ec;
   fs::file_status st = fs::status(input, ec);
   if (ec || !fs::exists(st))
   {
      *error = input + ": no such file or folder";
      return 0;
   }
   if (!fs::is_directory(st))
   {
      list->push_back(input);
      return 1;
   }
   std::vector<std::string> files;
   fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, ec);
   if (ec)
   {
      *error = input + ": " + ec.message();
      return 0;
   }
   for (; it != fs::recursive_directory_iterator(); it.increment(ec))
   {
      if (ec)
         break;
      std::string name = it->path().filename().string();
      bool folder = it->is_directory(ec);
      if (!name.empty() && name[0] == '.')
      {
         if (folder)
            it.disable_recursion_pending();
         continue;
      }
      if (folder)
      {
         if (it.depth() >= MIB_MAX_FOLDER_DEPTH)
            it.disable_recursion_pending();
         continue;
      }
      if (it->is_regular_file(ec))
         files.push_back(it->path().string());
   }
   std::sort(files.begin(), files.end());
   list->insert(list->end(), files.begin(), files.end());
   return 1;
}

int MibIndexInputs(const std::vector<std::string> &inputs, std::vector<MibModuleFile> *modules,
                   std::vector<std::string> *duplicates, std::string *error)
{
   std::vector<std::string> files;
   for (const std::string &input : inputs)
      if (!ListInput(input, &files, error))
         return 0;
   std::vector<FileScan> scans = ScanFiles(files);
   /* In the order of the inputs: the first file that names a module holds it. */
   std::set<std::string> known;
   for (const MibModuleFile &m : *modules)
      known.insert(m.module);
   for (size_t f = 0; f < files.size(); f++)
      for (const std::string &name : scans[f].names)
      {
         if (!known.insert(name).second)
         {
            duplicates->push_back(name + ": " + files[f]);
            continue;
         }
         MibModuleFile file{name, files[f], {}};
         for (auto &d : scans[f].definitions)
            if (d.first == name)
            {
               file.definitions = std::move(d.second);
               break;
            }
         modules->push_back(std::move(file));
      }
   return 1;
}
