// mib print, info, export, build and compile: MIB tree files.
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

#ifdef ZBSNMP_HAVE_MIB_COMPILER
#include "mib_compiler.h"
#endif

static int ReportMibError(uint32_t rc, const char *file)
{
   fprintf(stderr, "zbsnmp: %s: %s\n", file, SNMPGetErrorText(rc));
   return EXIT_FAILURE_SNMP;
}

static int LoadTree(const char *file, std::unique_ptr<SNMP_MIBObject> *tree)
{
   SNMP_MIBObject *root = nullptr;
   uint32_t rc = SNMPLoadMIBTree(file, &root);
   if (rc != SNMP_RC_SUCCESS)
      return ReportMibError(rc, file);
   tree->reset(root);
   return EXIT_OK;
}

static int CmdMibInfo(const char *file)
{
   std::unique_ptr<SNMP_MIBObject> tree;
   if (int rc = LoadTree(file, &tree))
      return rc;
   uint32_t timestamp = 0;
   SNMPGetMIBTreeTimestamp(file, &timestamp);
   uint8_t header[16] = {0};
   FILE *f = fopen(file, "rb");
   if (f == nullptr || fread(header, 1, 16, f) != 16)
   {
      if (f)
         fclose(f);
      return ReportMibError(SNMP_RC_FILE_IO_ERROR, file);
   }
   fclose(f);
   uint32_t flags = ((uint32_t)header[8] << 8) | header[9];
   uint64_t nodes = 0;
   uint32_t depth = 0;
   std::vector<std::pair<SNMP_MIBObject *, uint32_t>> stack = {{tree.get(), 1}};
   while (!stack.empty())
   {
      auto item = stack.back();
      stack.pop_back();
      nodes++;
      if (item.second > depth)
         depth = item.second;
      for (SNMP_MIBObject *c = item.first->FirstChild(); c != nullptr; c = c->Next())
         stack.push_back({c, item.second + 1});
   }
   time_t t = (time_t)timestamp;
   struct tm tmv;
   gmtime_r(&t, &tmv);
   char when[32];
   strftime(when, sizeof(when), "%Y-%m-%dT%H:%M:%SZ", &tmv);
   std::string flagText;
   if (flags & MIB_SAVE_COMPRESS)
      flagText += " compressed";
   if (flags & MIB_SAVE_NO_DESCRIPTIONS)
      flagText += " no-descriptions";
   if (flags & MIB_FILE_OPTIONAL_FIELDS)
      flagText += " optional-fields";
   printf("file:      %s\n", file);
   printf("created:   %s\n", when);
   printf("version:   %u\n", header[7]);
   printf("flags:     0x%04X%s\n", flags, flagText.c_str());
   printf("nodes:     %llu\n", (unsigned long long)nodes);
   printf("depth:     %u\n", depth);
   return EXIT_OK;
}

// ---- The table form: oid, name, type, access, status, module ----

static const char *const kTableHeader = "# oid\tname\ttype\taccess\tstatus\tmodule";

// Net-SNMP's word for a node's type: tables and rows are "other", a textual
// convention is its base type, codes outside the vocabulary are "other".
static const char *TypeWord(int type)
{
   if (type == MIB_TYPE_TABLE || type == MIB_TYPE_ROW)
      return "other";
   const char *word = SNMPGetMIBTypeName(SNMPGetMIBBaseType(type));
   return (word != nullptr) ? word : "other";
}

// Only OBJECT-TYPEs have access and status in Net-SNMP's table.
static bool IsMacro(int type)
{
   return type >= MIB_TYPE_OBJECT_IDENTITY && type <= MIB_TYPE_TRAP_TYPE;
}

static const char *WordOrDash(const char *word)
{
   return (word != nullptr && *word != 0) ? word : "-";
}

static int CmdMibExport(const char *file)
{
   std::unique_ptr<SNMP_MIBObject> tree;
   if (int rc = LoadTree(file, &tree))
      return rc;
   printf("%s\n", kTableHeader);
   // The root stands for the tree itself; its children are the top arcs.
   struct Item
   {
      SNMP_MIBObject *node;
      std::string prefix;
   };
   std::vector<Item> stack = {{tree.get(), ""}};
   std::vector<SNMP_MIBObject *> children;
   bool top = true;
   while (!stack.empty())
   {
      Item item = std::move(stack.back());
      stack.pop_back();
      std::string oid = item.prefix;
      if (!top)
      {
         oid += "." + std::to_string(item.node->OID());
         SNMP_MIBObject *n = item.node;
         bool macro = IsMacro(n->Type());
         printf("%s\t%s\t%s\t%s\t%s\t%s\n", oid.c_str(), n->Name() ? n->Name() : "",
                TypeWord(n->Type()), macro ? "-" : WordOrDash(SNMPGetMIBAccessName(n->Access())),
                macro ? "-" : WordOrDash(SNMPGetMIBStatusName(n->Status())),
                WordOrDash(n->Module()));
      }
      top = false;
      children.clear();
      for (SNMP_MIBObject *c = item.node->FirstChild(); c != nullptr; c = c->Next())
         children.push_back(c);
      std::stable_sort(children.begin(), children.end(),
                       [](SNMP_MIBObject *a, SNMP_MIBObject *b) { return a->OID() < b->OID(); });
      for (auto it = children.rbegin(); it != children.rend(); ++it)
         stack.push_back({*it, oid});
   }
   return ferror(stdout) ? EXIT_FAILURE_SNMP : EXIT_OK;
}

// Reads a word of the vocabulary; "-" and "" are "not set" (-1).
static bool ReadWord(const std::vector<std::string> &f, size_t column, int (*resolve)(const char *),
                     int *out)
{
   if (f.size() <= column || f[column] == "-" || f[column].empty())
   {
      *out = -1;
      return true;
   }
   *out = resolve(f[column].c_str());
   return *out >= 0;
}

// The save options of build and compile; false for any other argument.
static bool SaveOption(const std::string &a, uint32_t *flags)
{
   if (a == "-z")
      *flags |= MIB_SAVE_COMPRESS;
   else if (a == "--no-descriptions")
      *flags |= MIB_SAVE_NO_DESCRIPTIONS;
   else
      return false;
   return true;
}

static int CmdMibBuild(int argc, char **argv)
{
   uint32_t flags = 0;
   std::vector<std::string> files;
   for (int i = 0; i < argc; i++)
   {
      std::string a = argv[i];
      if (SaveOption(a, &flags))
         continue;
      if (!a.empty() && a[0] == '-')
         return UsageError("unknown option " + a, "mib");
      else
         files.push_back(a);
   }
   if (files.size() != 2)
      return UsageError("mib build takes TSV and FILE", "mib");
   std::ifstream in(files[0]);
   if (!in)
      return ReportMibError(SNMP_RC_FILE_IO_ERROR, files[0].c_str());
   std::unique_ptr<SNMP_MIBObject> root(new SNMP_MIBObject());
   std::string line;
   size_t lineNo = 0;
   while (std::getline(in, line))
   {
      lineNo++;
      if (!line.empty() && line.back() == '\r')
         line.pop_back();
      if (line.empty() || line[0] == '#')
         continue;
      std::vector<std::string> f;
      std::stringstream ss(line);
      std::string field;
      while (std::getline(ss, field, '\t'))
         f.push_back(field);
      std::vector<uint32_t> oid;
      if (f.size() < 2 || !ParseOid(f[0].c_str(), &oid) || oid.empty())
      {
         fprintf(stderr, "zbsnmp: %s:%zu: invalid line\n", files[0].c_str(), lineNo);
         return EXIT_FAILURE_SNMP;
      }
      int type, access, status;
      const char *bad = !ReadWord(f, 2, SNMPResolveMIBType, &type)       ? "type"
                        : !ReadWord(f, 3, SNMPResolveMIBAccess, &access) ? "access"
                        : !ReadWord(f, 4, SNMPResolveMIBStatus, &status) ? "status"
                                                                         : nullptr;
      if (bad != nullptr)
      {
         size_t column = (bad[0] == 't') ? 2 : (bad[0] == 'a') ? 3 : 4;
         fprintf(stderr, "zbsnmp: %s:%zu: unknown %s '%s'\n", files[0].c_str(), lineNo, bad,
                 f[column].c_str());
         return EXIT_FAILURE_SNMP;
      }
      SNMP_MIBObject *node = root.get();
      for (uint32_t id : oid)
      {
         SNMP_MIBObject *child = node->FindChildByID(id);
         if (child == nullptr)
         {
            child = new SNMP_MIBObject(id, nullptr);
            node->AddChild(child);
         }
         node = child;
      }
      if (node->Name() == nullptr)
      {
         node->SetName(f[1].empty() ? nullptr : f[1].c_str());
         node->SetInfo(type, status, access, nullptr);
         node->SetModule((f.size() > 5 && f[5] != "-" && !f[5].empty()) ? f[5].c_str() : nullptr);
      }
   }
   uint32_t rc = SNMPSaveMIBTree(files[1].c_str(), root.get(), flags);
   if (rc != SNMP_RC_SUCCESS)
      return ReportMibError(rc, files[1].c_str());
   return EXIT_OK;
}

static int CmdMibCompile(int argc, char **argv)
{
   uint32_t flags = 0;
   bool verbose = false;
   std::string output = "mibs.zbmib";
   std::vector<std::string> inputs;
   for (int i = 0; i < argc; i++)
   {
      std::string a = argv[i];
      if (SaveOption(a, &flags))
         continue;
      if (a == "-v")
         verbose = true;
      else if (a == "-o" && i + 1 < argc)
         output = argv[++i];
      else if (!a.empty() && a[0] == '-')
         return UsageError("unknown option " + a, "mib");
      else
         inputs.push_back(a);
   }
   if (inputs.empty())
      return UsageError("mib compile takes at least one DIR or FILE", "mib");
#ifndef ZBSNMP_HAVE_MIB_COMPILER
   (void)verbose;
   fprintf(stderr, "zbsnmp: mib compile is not available in this build: it needs libsmi "
                   "(Debian: libsmi2-dev) when the tool is configured\n");
   return EXIT_FAILURE_SNMP;
#else
   MibCompileOptions options;
   options.descriptions = !(flags & MIB_SAVE_NO_DESCRIPTIONS);
   MibCompileResult result;
   if (!MibCompile(inputs, options, &result))
   {
      fprintf(stderr, "zbsnmp: mib compile: %s\n", result.error.c_str());
      return EXIT_FAILURE_SNMP;
   }
   // Per module, in the order the parser reported them: those that lose
   // definitions always, the rest with -v.
   size_t errors = 0, warnings = 0;
   std::vector<std::string> withErrors;
   for (const MibCompileMessage &m : result.messages)
   {
      bool error = m.severity <= 2;
      (error ? errors : warnings)++;
      if (m.severity <= 1 && std::find(withErrors.begin(), withErrors.end(), m.module) == withErrors.end())
         withErrors.push_back(m.module);
      if (m.severity <= 1 || verbose)
         fprintf(stderr, "%s:%d: %s: %s%s\n", m.file.c_str(), m.line, m.severity <= 2 ? "error" : "warning",
                 m.module.empty() ? "" : (m.module + ": ").c_str(), m.text.c_str());
   }
   for (const std::string &module : result.failed)
      fprintf(stderr, "zbsnmp: mib compile: module %s did not load\n", module.c_str());
   if (verbose)
      for (const std::string &d : result.duplicates)
         fprintf(stderr, "zbsnmp: mib compile: module defined again, left out: %s\n", d.c_str());
   // A compiled tree is a new file: its body may be deflated on every core.
   uint32_t rc = SNMPSaveMIBTree(output.c_str(), result.tree.get(), flags | MIB_SAVE_PARALLEL_DEFLATE);
   if (rc != SNMP_RC_SUCCESS)
      return ReportMibError(rc, output.c_str());
   fprintf(stderr,
           "zbsnmp: compiled %zu modules into %s: %zu nodes; %zu modules lost definitions to "
           "errors; %zu errors and %zu warnings in all%s\n",
           result.modules.size(), output.c_str(), result.nodes, withErrors.size(), errors, warnings,
           verbose ? "" : " (-v shows them)");
   return EXIT_OK;
#endif
}

int CmdMib(int argc, char **argv)
{
   if (argc < 1)
      return UsageError("missing mib command (print, info, export, build or compile)", "mib");
   std::string sub = argv[0];
   try
   {
      if (sub == "print" || sub == "info" || sub == "export")
      {
         if (argc != 2)
            return UsageError("mib " + sub + " takes one FILE", "mib");
         if (sub == "info")
            return CmdMibInfo(argv[1]);
         if (sub == "export")
            return CmdMibExport(argv[1]);
         std::unique_ptr<SNMP_MIBObject> tree;
         if (int rc = LoadTree(argv[1], &tree))
            return rc;
         tree->Print(0);
         return EXIT_OK;
      }
      if (sub == "build")
         return CmdMibBuild(argc - 1, argv + 1);
      if (sub == "compile")
         return CmdMibCompile(argc - 1, argv + 1);
   }
   catch (const std::bad_alloc &)
   {
      fprintf(stderr, "zbsnmp: mib %s: out of memory\n", sub.c_str());
      return EXIT_FAILURE_SNMP;
   }
   return UsageError("unknown mib command '" + sub + "'", "mib");
}
