// The MIB compiler: the index of modules by name, the compiled tree of the
// repository's modules against Net-SNMP's tree of them, and damaged modules.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mib_compiler.h"
#include "test_util.h"

namespace
{
namespace fs = std::filesystem;

const std::string kMibs = std::string(ZBSNMP_SOURCE_DIR) + "/mibs";

TEST(MibModuleIndex, NamesInText)
{
   struct Case
   {
      const char *text;
      std::vector<std::string> names;
   };
   const Case cases[] = {
      {"IF-MIB DEFINITIONS ::= BEGIN END", {"IF-MIB"}},
      {"LLDP-MIB\n  DEFINITIONS ::= BEGIN", {"LLDP-MIB"}},
      {"-- FAKE-MIB DEFINITIONS ::= BEGIN\nREAL-MIB DEFINITIONS ::= BEGIN", {"REAL-MIB"}},
      {"-- a -- A-MIB DEFINITIONS -- b FAKE-MIB DEFINITIONS\n", {"A-MIB"}},
      {"A-MIB DEFINITIONS ::= BEGIN x DESCRIPTION \"B-MIB DEFINITIONS\" END", {"A-MIB"}},
      {"A-MIB { iso 3 6 1 } DEFINITIONS ::= BEGIN", {"A-MIB"}},
      {"A DEFINITIONS ::= BEGIN END\nB DEFINITIONS ::= BEGIN END\nA DEFINITIONS", {"A", "B"}},
      {"lower DEFINITIONS ::= BEGIN", {}},
      {"::= DEFINITIONS", {}},
      {"\"unterminated DEFINITIONS", {}},
      {"", {}},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.text);
      EXPECT_EQ(MibModuleNamesIn(c.text, strlen(c.text)), c.names);
   }
}

TEST(MibModuleIndex, FoldersByModuleName)
{
   std::string dir = TempDir();
   fs::create_directories(dir + "/sub/deeper");
   fs::create_directories(dir + "/.hidden");
   WriteFileText(dir + "/lldp.mib", "LLDP-MIB DEFINITIONS ::= BEGIN END\n");
   WriteFileText(dir + "/sub/deeper/two.txt", "A-MIB DEFINITIONS ::= BEGIN END\nB-MIB DEFINITIONS ::= BEGIN END\n");
   WriteFileText(dir + "/sub/again.my", "LLDP-MIB DEFINITIONS ::= BEGIN END\n");
   WriteFileText(dir + "/.hidden/C-MIB", "C-MIB DEFINITIONS ::= BEGIN END\n");
   WriteFileText(dir + "/README", "no module here\n");
   std::vector<MibModuleFile> modules;
   std::vector<std::string> duplicates;
   std::string error;
   ASSERT_EQ(MibIndexInputs({dir}, &modules, &duplicates, &error), 1) << error;
   std::map<std::string, std::string> found;
   for (const MibModuleFile &m : modules)
      found[m.module] = fs::path(m.path).filename().string();
   // Files in name order: lldp.mib comes before sub/, so it defines LLDP-MIB.
   EXPECT_EQ(found, (std::map<std::string, std::string>{
                       {"LLDP-MIB", "lldp.mib"}, {"A-MIB", "two.txt"}, {"B-MIB", "two.txt"}}));
   ASSERT_EQ(duplicates.size(), 1u);
   EXPECT_NE(duplicates[0].find("again.my"), std::string::npos);

   EXPECT_EQ(MibIndexInputs({dir + "/missing"}, &modules, &duplicates, &error), 0);
   EXPECT_NE(error.find("missing"), std::string::npos);
}

// Files are scanned on several threads but taken in order: of many files
// that name the same module, the first in name order holds it, and the
// others are reported in order.
TEST(MibModuleIndex, ManyFilesTakenInOrder)
{
   std::string dir = TempDir();
   for (int i = 0; i < 64; i++)
   {
      char name[32];
      snprintf(name, sizeof(name), "/m%02d.txt", i);
      WriteFileText(dir + name, "SAME-MIB DEFINITIONS ::= BEGIN x" + std::to_string(i) +
                                   " OBJECT IDENTIFIER ::= { iso 3 } END\n");
   }
   std::vector<MibModuleFile> modules;
   std::vector<std::string> duplicates;
   std::string error;
   ASSERT_EQ(MibIndexInputs({dir}, &modules, &duplicates, &error), 1) << error;
   ASSERT_EQ(modules.size(), 1u);
   EXPECT_EQ(fs::path(modules[0].path).filename().string(), "m00.txt");
   EXPECT_EQ(modules[0].definitions, std::vector<std::string>{"x0"});
   ASSERT_EQ(duplicates.size(), 63u);
   for (int i = 1; i < 64; i++)
      EXPECT_NE(duplicates[i - 1].find("m" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt"),
                std::string::npos);
}

struct Compiled
{
   MibCompileResult result;
   int ok = 0;
};

// The repository's modules, compiled once for the tests that look at them.
const Compiled &RepositoryTree()
{
   static Compiled c;
   static bool done = false;
   if (!done)
   {
      done = true;
      MibCompileOptions options;
      options.descriptions = false;
      c.ok = MibCompile({kMibs + "/rfc", kMibs + "/net-snmp"}, options, &c.result);
   }
   return c;
}

// Walks a tree into OID text -> node.
std::map<std::string, SNMP_MIBObject *> ByOid(SNMP_MIBObject *root)
{
   std::map<std::string, SNMP_MIBObject *> out;
   std::vector<std::pair<SNMP_MIBObject *, std::string>> stack;
   for (SNMP_MIBObject *c = root->FirstChild(); c != nullptr; c = c->Next())
      stack.push_back({c, ""});
   while (!stack.empty())
   {
      auto [node, prefix] = stack.back();
      stack.pop_back();
      std::string oid = prefix + "." + std::to_string(node->OID());
      EXPECT_EQ(out.count(oid), 0u) << "two nodes for " << oid;
      out[oid] = node;
      for (SNMP_MIBObject *c = node->FirstChild(); c != nullptr; c = c->Next())
         stack.push_back({c, oid});
   }
   return out;
}

// At least 99.9 % of Net-SNMP's OIDs present, at least 99.9 % of the names
// on common OIDs agreeing (with one of Net-SNMP's where it has two), at most
// 0.1 % OIDs that Net-SNMP does not have, one node per OID.
TEST(MibCompiler, TreeAgreesWithNetSnmp)
{
   const Compiled &c = RepositoryTree();
   ASSERT_EQ(c.ok, 1) << c.result.error;
   EXPECT_EQ(c.result.modules.size(), 463u);
   EXPECT_TRUE(c.result.failed.empty());
   std::map<std::string, std::set<std::string>> theirs;
   std::ifstream in(std::string(ZBSNMP_TEST_DATA) + "/netsnmp-mib-tree-rfc.tsv");
   std::string line;
   while (std::getline(in, line))
   {
      if (line.empty() || line[0] == '#')
         continue;
      size_t tab = line.find('\t'), tab2 = line.find('\t', tab + 1);
      theirs[line.substr(0, tab)].insert(line.substr(tab + 1, tab2 - tab - 1));
   }
   ASSERT_GT(theirs.size(), 33000u);
   std::map<std::string, SNMP_MIBObject *> ours = ByOid(c.result.tree.get());
   EXPECT_EQ(ours.size(), c.result.nodes);
   size_t present = 0, agree = 0, extra = 0;
   std::vector<std::string> disagreeing;
   for (const auto &[oid, node] : ours)
   {
      auto it = theirs.find(oid);
      if (it == theirs.end())
      {
         extra++;
         continue;
      }
      present++;
      if (node->Name() != nullptr && it->second.count(node->Name()))
         agree++;
      else if (disagreeing.size() < 20)
         disagreeing.push_back(oid + " " + (node->Name() ? node->Name() : "(none)"));
   }
   double presentShare = (double)present / theirs.size();
   double agreeShare = (double)agree / present;
   double extraShare = (double)extra / ours.size();
   printf("Net-SNMP's OIDs present %.4f %%, names agreeing %.4f %%, OIDs Net-SNMP lacks %.4f %%\n",
          100 * presentShare, 100 * agreeShare, 100 * extraShare);
   EXPECT_GE(presentShare, 0.999);
   EXPECT_GE(agreeShare, 0.999) << testing::PrintToString(disagreeing);
   EXPECT_LE(extraShare, 0.001);
}

SNMP_MIBObject *Find(SNMP_MIBObject *root, const std::string &oid)
{
   std::vector<uint32_t> arcs;
   std::stringstream ss(oid.substr(1));
   std::string arc;
   SNMP_MIBObject *node = root;
   while (node != nullptr && std::getline(ss, arc, '.'))
      node = node->FindChildByID((uint32_t)std::stoul(arc));
   return node;
}

// What the tool's names and value printing rely on, for well-known objects.
TEST(MibCompiler, FieldsOfKnownObjects)
{
   const Compiled &c = RepositoryTree();
   ASSERT_EQ(c.ok, 1);
   SNMP_MIBObject *root = c.result.tree.get();
   struct Case
   {
      const char *oid, *name, *module;
      int type, access, status;
      const char *tc, *hint;
      uint32_t fixedLength;
   };
   const Case cases[] = {
      {".0", "ccitt", nullptr, MIB_TYPE_OTHER, -1, -1, nullptr, nullptr, 0},
      {".1", "iso", nullptr, MIB_TYPE_OTHER, -1, -1, nullptr, nullptr, 0},
      {".2", "joint-iso-ccitt", nullptr, MIB_TYPE_OTHER, -1, -1, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.1.1", "sysDescr", "SNMPv2-MIB", MIB_TYPE_DISPLAY_STRING, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, "DisplayString", "255a", 0},
      {".1.3.6.1.2.1.1.3", "sysUpTime", "SNMPv2-MIB", MIB_TYPE_TIMETICKS, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.2.2", "ifTable", "IF-MIB", MIB_TYPE_TABLE, MIB_ACCESS_NOT_ACCESSIBLE,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.2.2.1.1", "ifIndex", "IF-MIB", MIB_TYPE_INTERFACE_INDEX, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, "InterfaceIndex", "d", 0},
      {".1.3.6.1.2.1.2.2.1.6", "ifPhysAddress", "IF-MIB", MIB_TYPE_PHYS_ADDRESS, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, "PhysAddress", "1x:", 0},
      {".1.3.6.1.2.1.2.2.1.10", "ifInOctets", "IF-MIB", MIB_TYPE_COUNTER32, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.31.1.1.1.6", "ifHCInOctets", "IF-MIB", MIB_TYPE_COUNTER64, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.31.1.2.1.3", "ifStackStatus", "IF-MIB", MIB_TYPE_ROW_STATUS,
       MIB_ACCESS_READ_CREATE, MIB_STATUS_CURRENT, "RowStatus", nullptr, 0},
      {".1.3.6.1.2.1.17.4.3.1.1", "dot1dTpFdbAddress", "BRIDGE-MIB", MIB_TYPE_MAC_ADDRESS,
       MIB_ACCESS_READ_ONLY, MIB_STATUS_CURRENT, "MacAddress", "1x:", 6},
      {".1.3.6.1.4.1.2021.10.1.6", "laLoadFloat", "UCD-SNMP-MIB", MIB_TYPE_OPAQUE,
       MIB_ACCESS_READ_ONLY, MIB_STATUS_CURRENT, "Float", nullptr, 0},
      {".1.3.6.1.6.3.1.1.4.1", "snmpTrapOID", "SNMPv2-MIB", MIB_TYPE_OBJECT_ID,
       MIB_ACCESS_ACCESSIBLE_FOR_NOTIFY, MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.6.3.1.1.5.4", "linkUp", "IF-MIB", MIB_TYPE_NOTIFICATION_TYPE, -1,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.31", "ifMIB", "IF-MIB", MIB_TYPE_MODULE_IDENTITY, -1, -1, nullptr, nullptr, 0},
      {".1.3.6.1.2.1.4.20.1.1", "ipAdEntAddr", "IP-MIB", MIB_TYPE_IP_ADDRESS, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_DEPRECATED, nullptr, nullptr, 0},
      // The unnamed first records of MODULE-IDENTITY nodes take their module's name.
      {".1.3.6.1.2.1.10.94", "adslMIB", "ADSL-LINE-MIB", MIB_TYPE_MODULE_IDENTITY, -1, -1, nullptr,
       nullptr, 0},
      {".1.3.6.1.2.1.37.1", "atmMIBObjects", "ATM-MIB", MIB_TYPE_OTHER, -1, -1, nullptr, nullptr, 0},
      // Reached only through the RFC-1213 alias of RFC1213-MIB.
      {".1.3.6.1.2.1.32.1.1.1.1", "dnsServConfigImplementIdent", "DNS-SERVER-MIB",
       MIB_TYPE_DISPLAY_STRING, MIB_ACCESS_READ_ONLY, MIB_STATUS_CURRENT, "DisplayString", "255a",
       0},
      // Defined by SNMPv2-MIB and by the SMIv1 RFC1213-MIB: the current module names it.
      {".1.3.6.1.2.1.11.1", "snmpInPkts", "SNMPv2-MIB", MIB_TYPE_COUNTER32, MIB_ACCESS_READ_ONLY,
       MIB_STATUS_CURRENT, nullptr, nullptr, 0},
   };
   for (const Case &k : cases)
   {
      SCOPED_TRACE(k.oid);
      SNMP_MIBObject *n = Find(root, k.oid);
      ASSERT_NE(n, nullptr);
      EXPECT_STREQ(n->Name(), k.name);
      EXPECT_STREQ(n->Module(), k.module);
      EXPECT_EQ(n->Type(), k.type);
      EXPECT_EQ(n->Access(), k.access);
      if (k.type != MIB_TYPE_MODULE_IDENTITY)
         EXPECT_EQ(n->Status(), k.status);
      EXPECT_STREQ(n->TextualConvention(), k.tc);
      EXPECT_STREQ(n->DisplayHint(), k.hint);
      EXPECT_EQ(n->FixedLength(), k.fixedLength);
      EXPECT_EQ(n->Description(), nullptr);
   }

   SNMP_MIBObject *oper = Find(root, ".1.3.6.1.2.1.2.2.1.8");   // ifOperStatus
   ASSERT_NE(oper, nullptr);
   EXPECT_EQ(oper->Type(), MIB_TYPE_INTEGER);
   ASSERT_EQ(oper->EnumCount(), 7u);
   EXPECT_STREQ(oper->FindEnumLabel(1), "up");
   EXPECT_STREQ(oper->FindEnumLabel(7), "lowerLayerDown");
   SNMP_MIBObject *caps = Find(root, ".1.0.8802.1.1.1.1.1.2.1.3");   // dot1xPaePortCapabilities
   ASSERT_NE(caps, nullptr);
   EXPECT_EQ(caps->Type(), MIB_TYPE_BITS);
   EXPECT_STREQ(caps->FindEnumLabel(0), "dot1xPaePortAuthCapable");   // bit 0

   struct Row
   {
      const char *oid;
      std::vector<std::string> index;
      bool implied;
   };
   const Row rows[] = {
      {".1.3.6.1.2.1.2.2.1", {"ifIndex"}, false},                          // ifEntry
      {".1.3.6.1.2.1.31.1.1.1", {"ifIndex"}, false},                       // ifXEntry AUGMENTS ifEntry
      {".1.3.6.1.2.1.31.1.2.1", {"ifStackHigherLayer", "ifStackLowerLayer"}, false},
      {".1.3.6.1.6.3.12.1.2.1", {"snmpTargetAddrName"}, true},             // INDEX { IMPLIED ... }
   };
   for (const Row &r : rows)
   {
      SCOPED_TRACE(r.oid);
      SNMP_MIBObject *n = Find(root, r.oid);
      ASSERT_NE(n, nullptr);
      EXPECT_EQ(n->Type(), MIB_TYPE_ROW);
      std::vector<std::string> index;
      for (uint32_t i = 0; i < n->IndexCount(); i++)
         index.push_back(n->IndexName(i));
      EXPECT_EQ(index, r.index);
      EXPECT_EQ(n->IsIndexImplied(), r.implied);
   }
}

// The three SMI modules every SMIv2 module builds on, copied next to the
// modules under test.
std::string BaseModules()
{
   std::string dir = TempDir();
   for (const char *m : {"SNMPv2-SMI", "SNMPv2-TC", "SNMPv2-CONF", "SNMPv2-MIB", "IANAifType-MIB"})
      fs::copy_file(kMibs + "/rfc/" + m + ".txt", dir + "/" + m + ".txt");
   return dir;
}

// A syntax error inside one definition costs that definition (and at most
// its neighbour), not the module.
TEST(MibCompiler, SyntaxErrorCostsOnlyTheDefinitionsAroundIt)
{
   std::string base = BaseModules();
   std::string text = ReadFileText(kMibs + "/rfc/IF-MIB.txt");
   const std::string anchor = "ifMtu OBJECT-TYPE\n    SYNTAX      Integer32";
   size_t at = text.find(anchor);
   ASSERT_NE(at, std::string::npos);
   text.replace(at, anchor.size(), "ifMtu OBJECT-TYPE\n    SYNTAX      Integer32 ((((");
   size_t line = 1 + std::count(text.begin(), text.begin() + at, '\n');
   std::string dir = TempDir();
   WriteFileText(dir + "/IF-MIB.txt", text);
   MibCompileOptions options;
   MibCompileResult result;
   ASSERT_EQ(MibCompile({base, dir}, options, &result), 1) << result.error;
   SNMP_MIBObject *root = result.tree.get();
   EXPECT_EQ(Find(root, ".1.3.6.1.2.1.2.2.1.4"), nullptr);   // ifMtu
   for (const char *oid : {".1.3.6.1.2.1.2.2.1.1", ".1.3.6.1.2.1.2.2.1.2", ".1.3.6.1.2.1.2.2.1.3",
                           ".1.3.6.1.2.1.2.2.1.6", ".1.3.6.1.2.1.2.2.1.8", ".1.3.6.1.2.1.2.2.1.10",
                           ".1.3.6.1.2.1.31.1.1.1.6", ".1.3.6.1.2.1.31.1.2.1.3",
                           ".1.3.6.1.6.3.1.1.5.4"})
   {
      SCOPED_TRACE(oid);
      SNMP_MIBObject *n = Find(root, oid);
      ASSERT_NE(n, nullptr);
      EXPECT_STREQ(n->Module(), "IF-MIB");
      EXPECT_NE(n->Description(), nullptr);
   }
   // Reported against the module, its file and the line of the damage.
   bool reported = false;
   for (const MibCompileMessage &m : result.messages)
      if (m.module == "IF-MIB" && m.severity <= 1 && m.file == dir + "/IF-MIB.txt" &&
          m.line >= (int)line && m.line <= (int)line + 2)
         reported = true;
   EXPECT_TRUE(reported);
}

// Cut at many points and with a few hundred changed bytes, modules never
// crash or hang the compiler, and whatever tree it builds saves and loads.
TEST(MibCompiler, DamagedModulesNeverCrash)
{
   std::string base = BaseModules();
   struct Victim
   {
      const char *file;
      int cuts, changes;
   };
   const Victim victims[] = {
      {"rfc/IF-MIB.txt", 40, 80},          // SMIv2: tables, AUGMENTS, notifications
      {"rfc/RFC1213-MIB.txt", 30, 60},     // SMIv1
      {"rfc/SNMPv2-TC.txt", 20, 40},       // the conventions others build on
      {"rfc/SNMP-TARGET-MIB.txt", 20, 40}, // IMPLIED index, imports of a few modules
   };
   std::mt19937 rng(1213);
   std::string dir = TempDir();
   std::string treeFile = TempDir() + "/t";
   size_t compiles = 0;
   for (const Victim &v : victims)
   {
      std::string text = ReadFileText(kMibs + "/" + v.file);
      ASSERT_FALSE(text.empty());
      std::string name = fs::path(v.file).filename().string();
      std::vector<std::string> damaged;
      for (int i = 1; i <= v.cuts; i++)
         damaged.push_back(text.substr(0, text.size() * i / (v.cuts + 1)));
      const char bytes[] = "{}(),.;:=-\"\n 0x9AZaz|";
      for (int i = 0; i < v.changes; i++)
      {
         std::string t = text;
         for (int k = 1 + (int)(rng() % 4); k > 0; k--)
            t[rng() % t.size()] = bytes[rng() % (sizeof(bytes) - 1)];
         damaged.push_back(t);
      }
      for (size_t i = 0; i < damaged.size(); i++)
      {
         SCOPED_TRACE(std::string(v.file) + " case " + std::to_string(i));
         // The damaged copy stands in for the base modules' own copy.
         std::string victimDir = dir + "/" + std::to_string(compiles);
         fs::create_directories(victimDir);
         WriteFileText(victimDir + "/" + name, damaged[i]);
         MibCompileOptions options;
         options.descriptions = (i % 2) == 0;
         MibCompileResult result;
         ASSERT_EQ(MibCompile({victimDir, base, kMibs + "/rfc/SNMP-FRAMEWORK-MIB.txt"}, options,
                              &result),
                   1)
             << result.error;
         ASSERT_NE(result.tree, nullptr);
         ASSERT_EQ(SNMPSaveMIBTree(treeFile.c_str(), result.tree.get(), MIB_SAVE_COMPRESS), 0u);
         SNMP_MIBObject *loaded = nullptr;
         ASSERT_EQ(SNMPLoadMIBTree(treeFile.c_str(), &loaded), 0u);
         delete loaded;
         compiles++;
         fs::remove_all(victimDir);
      }
   }
   EXPECT_EQ(compiles, 330u);
}

TEST(MibCompiler, NothingToCompile)
{
   std::string dir = TempDir();
   WriteFileText(dir + "/README", "no modules\n");
   MibCompileOptions options;
   MibCompileResult result;
   EXPECT_EQ(MibCompile({dir}, options, &result), 0);
   EXPECT_NE(result.error.find("no MIB module"), std::string::npos);
   MibCompileResult missing;
   EXPECT_EQ(MibCompile({dir + "/nothing"}, options, &missing), 0);
   EXPECT_NE(missing.error.find("nothing"), std::string::npos);
}
}  // namespace
