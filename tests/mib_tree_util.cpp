#include "mib_tree_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <fstream>
#include <sstream>
#include <vector>

static SNMP_MIBObject *NodeAt(SNMP_MIBObject *root, const char *oid)
{
   uint32_t ids[256];
   uint32_t n = SNMPParseOID(oid, ids, 256);
   SNMP_MIBObject *node = root;
   for (uint32_t i = 0; i < n; i++)
   {
      SNMP_MIBObject *child = node->FindChildByID(ids[i]);
      if (child == nullptr)
      {
         child = new SNMP_MIBObject(ids[i], nullptr);
         node->AddChild(child);
      }
      node = child;
   }
   return node;
}

static bool Set(const char *s)
{
   return s != nullptr && *s != 0;
}

SNMP_MIBObject *BuildMibTree(const MibNodeDef *defs, size_t count)
{
   SNMP_MIBObject *root = new SNMP_MIBObject();
   for (size_t i = 0; i < count; i++)
   {
      const MibNodeDef &d = defs[i];
      SNMP_MIBObject *node = NodeAt(root, d.oid);
      node->SetName(d.name);
      node->SetInfo(d.type, MIB_STATUS_CURRENT, MIB_ACCESS_READ_ONLY, nullptr);
      if (Set(d.module))
         node->SetModule(d.module);
      if (Set(d.hint))
         node->SetDisplayHint(d.hint);
      if (Set(d.units))
         node->SetUnits(d.units);
      if (Set(d.tc))
         node->SetTextualConvention(d.tc);
      if (d.fixedLength != 0)
         node->SetFixedLength(d.fixedLength);
      if (Set(d.enums))
      {
         // "label(value) label(value) ..."
         std::istringstream in(d.enums);
         std::string item;
         while (in >> item)
         {
            size_t open = item.find('(');
            node->AddEnum((int32_t)strtol(item.c_str() + open + 1, nullptr, 10),
                          item.substr(0, open).c_str());
         }
      }
      if (Set(d.index))
      {
         std::istringstream in(d.index);
         std::string item;
         while (in >> item)
         {
            if (item == "IMPLIED")
               node->SetIndexImplied(true);
            else
               node->AddIndex(item.c_str());
         }
      }
   }
   return root;
}

SNMP_MIBObject *BuildMibTreeFromTsv(const std::string &path)
{
   std::ifstream in(path);
   if (!in)
      return nullptr;
   SNMP_MIBObject *root = new SNMP_MIBObject();
   std::string line;
   while (std::getline(in, line))
   {
      if (line.empty() || line[0] == '#')
         continue;
      std::vector<std::string> f;
      std::stringstream ss(line);
      std::string field;
      while (std::getline(ss, field, '\t'))
         f.push_back(field);
      if (f.size() < 6)
         continue;
      SNMP_MIBObject *node = NodeAt(root, f[0].c_str());
      if (node->Name() != nullptr)
         continue;  // one name per OID: the first
      node->SetName(f[1].c_str());
      node->SetInfo(SNMPResolveMIBType(f[2].c_str()), SNMPResolveMIBStatus(f[4].c_str()),
                    SNMPResolveMIBAccess(f[3].c_str()), nullptr);
      if (f[5] != "-")
         node->SetModule(f[5].c_str());
   }
   return root;
}

uint32_t LoadMibTree(const std::string &path, std::unique_ptr<SNMP_MIBObject> *out)
{
   SNMP_MIBObject *root = nullptr;
   uint32_t rc = SNMPLoadMIBTree(path.c_str(), &root);
   if (rc == SNMP_RC_SUCCESS)
      out->reset(root);
   return rc;
}

std::vector<uint8_t> MibFileBytes(uint8_t version, uint8_t flags, const std::vector<uint8_t> &body)
{
   std::vector<uint8_t> f = {'Z', 'B', 'M', 'I', 'B', ' ', 16, version, 0, flags, 0, 0, 0, 0, 0, 1};
   f.insert(f.end(), body.begin(), body.end());
   return f;
}

uint64_t CountMibNodes(SNMP_MIBObject *root)
{
   uint64_t nodes = 0;
   std::vector<SNMP_MIBObject *> stack = {root};
   while (root != nullptr && !stack.empty())
   {
      SNMP_MIBObject *n = stack.back();
      stack.pop_back();
      nodes++;
      for (SNMP_MIBObject *c = n->FirstChild(); c != nullptr; c = c->Next())
         stack.push_back(c);
   }
   return nodes;
}

size_t AddressSpaceBytes()
{
   unsigned long pages = 0;
   FILE *f = fopen("/proc/self/statm", "r");
   if (f != nullptr)
   {
      if (fscanf(f, "%lu", &pages) != 1)
         pages = 0;
      fclose(f);
   }
#ifdef _WIN32
   return (size_t)pages * 4096;
#else
   return (size_t)pages * (size_t)sysconf(_SC_PAGESIZE);
#endif
}
