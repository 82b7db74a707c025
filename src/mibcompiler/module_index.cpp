/* The index of the compiler's input files by module name: file names differ
   from module names (lldp.mib holds LLDP-MIB), so every file is read for
   the names it defines. */
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "mib_compiler.h"

namespace fs = std::filesystem;

/* Largest file read for module names: MIB modules are text of at most a few
   megabytes; anything larger is not one. */
#define MIB_MAX_MODULE_FILE (16u << 20)
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

static bool IsIdentifierStart(char c)
{
   return isalpha((unsigned char)c) != 0;
}

static bool IsIdentifierChar(char c)
{
   return isalnum((unsigned char)c) != 0 || c == '-' || c == '_';
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
         /* An ASN.1 comment ends at the end of the line or at the next "--". */
         i += 2;
         while (i < length && text[i] != '\n' && text[i] != '\r')
         {
            if (text[i] == '-' && i + 1 < length && text[i + 1] == '-')
            {
               i += 2;
               break;
            }
            i++;
         }
         continue;
      }
      if (c == '"')
      {
         i++;
         while (i < length && text[i] != '"')
            i++;
         i++;
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
      if (!isspace((unsigned char)c))
         previousLength = 0;
      i++;
   }
   return names;
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

static void IndexFile(const std::string &path, std::set<std::string> *known,
                      std::vector<MibModuleFile> *modules, std::vector<std::string> *duplicates)
{
   std::string text;
   if (!ReadSmallFile(path, &text))
      return;
   for (const std::string &name : MibModuleNamesIn(text.data(), text.size()))
   {
      if (known->insert(name).second)
         modules->push_back({name, path});
      else
         duplicates->push_back(name + ": " + path);
   }
}

int MibIndexInputs(const std::vector<std::string> &inputs, std::vector<MibModuleFile> *modules,
                   std::vector<std::string> *duplicates, std::string *error)
{
   std::set<std::string> known;
   for (const MibModuleFile &m : *modules)
      known.insert(m.module);
   for (const std::string &input : inputs)
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
         IndexFile(input, &known, modules, duplicates);
         continue;
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
      for (const std::string &file : files)
         IndexFile(file, &known, modules, duplicates);
   }
   return 1;
}
