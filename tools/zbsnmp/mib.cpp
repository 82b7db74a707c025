// mib print, info and build: MIB tree files.
#include <stdio.h>
#include <time.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

static int ReportMibError(uint32_t rc, const char *file)
{
   fprintf(stderr, "zbsnmp: %s: %s\n", file, SNMPGetErrorText(rc));
   return EXIT_FAILURE_SNMP;
}

int CmdMib(int argc, char **argv)
{
   if (argc < 1)
      return UsageError("missing mib command (print, info or build)", "mib");
   std::string sub = argv[0];
   if (sub == "print" || sub == "info")
   {
      if (argc != 2)
         return UsageError("mib " + sub + " takes one FILE", "mib");
      const char *file = argv[1];
      SNMP_MIBObject *root = nullptr;
      uint32_t rc = SNMPLoadMIBTree(file, &root);
      if (rc != SNMP_RC_SUCCESS)
         return ReportMibError(rc, file);
      std::unique_ptr<SNMP_MIBObject> tree(root);
      if (sub == "print")
      {
         tree->Print(0);
         return EXIT_OK;
      }
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
      printf("file:      %s\n", file);
      printf("created:   %s\n", when);
      printf("flags:     0x%04X%s\n", flags, flagText.c_str());
      printf("nodes:     %llu\n", (unsigned long long)nodes);
      printf("depth:     %u\n", depth);
      return EXIT_OK;
   }
   if (sub == "build")
   {
      uint32_t flags = 0;
      std::vector<std::string> files;
      for (int i = 1; i < argc; i++)
      {
         std::string a = argv[i];
         if (a == "-z")
            flags |= MIB_SAVE_COMPRESS;
         else if (a == "--no-descriptions")
            flags |= MIB_SAVE_NO_DESCRIPTIONS;
         else if (!a.empty() && a[0] == '-')
            return UsageError("unknown option " + a, "mib");
         else
            files.push_back(a);
      }
      if (files.size() != 2)
         return UsageError("mib build takes TSV and FILE", "mib");
      std::ifstream in(files[0]);
      if (!in)
         return ReportMibError(SNMP_RC_FILE_IO_ERROR, files[0].c_str());
      // Attribute words are numbered in the order they first appear.
      std::map<std::string, int> codes[3];
      auto code = [&](int which, const std::string &word) {
         if (word == "-" || word.empty())
            return -1;
         auto it = codes[which].find(word);
         if (it != codes[which].end())
            return it->second;
         int c = (int)codes[which].size();
         codes[which][word] = c;
         return c;
      };
      std::unique_ptr<SNMP_MIBObject> root(new SNMP_MIBObject());
      std::string line;
      size_t lineNo = 0;
      while (std::getline(in, line))
      {
         lineNo++;
         if (line.empty() || line[0] == '#')
            continue;
         std::vector<std::string> f;
         std::stringstream ss(line);
         std::string field;
         while (std::getline(ss, field, '\t'))
            f.push_back(field);
         std::vector<uint32_t> oid;
         if (f.size() < 2 || !ParseOid(f[0].c_str(), &oid))
         {
            fprintf(stderr, "zbsnmp: %s:%zu: invalid line\n", files[0].c_str(), lineNo);
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
            node->SetName(f[1].c_str());
            node->SetInfo(code(0, f.size() > 2 ? f[2] : ""), code(2, f.size() > 4 ? f[4] : ""),
                          code(1, f.size() > 3 ? f[3] : ""),
                          (f.size() > 5 && f[5] != "-") ? f[5].c_str() : nullptr);
         }
      }
      uint32_t rc = SNMPSaveMIBTree(files[1].c_str(), root.get(), flags);
      if (rc != SNMP_RC_SUCCESS)
         return ReportMibError(rc, files[1].c_str());
      return EXIT_OK;
   }
   return UsageError("unknown mib command '" + sub + "'", "mib");
}
