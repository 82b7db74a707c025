// The zbsnmp tool end to end: output lines and exit statuses against snmpd
// and snmptrap, and its usage errors.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <thread>

#include "peer_util.h"
#include "test_util.h"

namespace
{
struct Result
{
   std::string out;
   int status;
};

Result Tool(const std::string &args)
{
   Result r;
   r.out = RunPeerCommand(std::string(ZBSNMP_TOOL) + " " + args, &r.status);
   return r;
}

class ToolTest : public AgentSuite
{
protected:
   std::string Address() { return Agent()->Address(); }
};
}  // namespace

TEST_F(ToolTest, GetNextAndSet)
{
   Result r = Tool("get " + Address() + " .1.3.6.1.2.1.1.1.0 1.3.6.1.2.1.1.5.0");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.1.0 = STRING: \"zbsnmp test agent (loopback only)\"\n"
                    ".1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\"\n");
   r = Tool("next -v 1 " + Address() + " .1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.2.0 = OID: .1.3.6.1.4.1.8072.3.2.10\n");
   r = Tool("get " + Address() + " .1.3.6.1.2.1.1.7.0 .1.3.6.1.2.1.1.3.0");
   EXPECT_NE(r.out.find(".1.3.6.1.2.1.1.7.0 = INTEGER: 72\n"), std::string::npos);
   EXPECT_NE(r.out.find(".1.3.6.1.2.1.1.3.0 = Timeticks: ("), std::string::npos);

   r = Tool("set -c private " + Address() + " .1.3.6.1.2.1.1.6.0 STRING \"Lab 9\"");
   EXPECT_EQ(r.status, 0) << r.out;
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.6.0 = STRING: \"Lab 9\"\n");
   r = Tool("get -v1 " + Address() + " .1.3.6.1.2.1.1.6.0");
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.6.0 = STRING: \"Lab 9\"\n");
}

TEST_F(ToolTest, AgentErrorsAndExceptions)
{
   Result r = Tool("set -c private " + Address() + " .1.3.6.1.2.1.1.5.0 string renamed");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("notWritable (error index 1)"), std::string::npos) << r.out;
   r = Tool("get -v 1 " + Address() + " .1.3.6.1.2.1.1.99.0");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("noSuchName (error index 1)"), std::string::npos) << r.out;
   r = Tool("get " + Address() + " .1.3.6.1.2.1.1.99.0 .1.3.6.1.2.1.1.1.1");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.99.0 = noSuchObject\n.1.3.6.1.2.1.1.1.1 = noSuchInstance\n");
   r = Tool("next " + Address() + " .1.4");
   EXPECT_EQ(r.out, ".1.4 = endOfMibView\n");
   r = Tool("get -c wrong -t 200 -r 2 " + Address() + " .1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("Request timed out"), std::string::npos);
}

TEST_F(ToolTest, WalkMatchesSnmpwalk)
{
   REQUIRE_PEER(HaveProgram("snmpwalk"), "snmpwalk");
   for (const char *subtree : {".1.3.6.1.2.1.1", ".1.3.6.1.2.1.2", ".1.3.6.1.6.3"})
   {
      SCOPED_TRACE(subtree);
      Result ours = Tool("walk " + Address() + " " + subtree);
      EXPECT_EQ(ours.status, 0);
      std::string theirs = RunPeerCommand("snmpwalk -v2c -c public -On -Oe " + Address() + " " +
                                          subtree + " 2>/dev/null");
      // Time values move between the two walks: compare the OIDs and types only.
      auto shape = [](const std::string &text) {
         std::string out, line;
         std::istringstream in(text);
         while (std::getline(in, line))
         {
            if (line.rfind(".", 0) != 0 || line.find("No more variables") != std::string::npos)
               continue;
            size_t colon = line.find(": ");
            out += line.substr(0, colon == std::string::npos ? line.size() : colon) + "\n";
         }
         return out;
      };
      EXPECT_EQ(shape(ours.out), shape(theirs));
      EXPECT_GT(shape(ours.out).size(), 20u);
   }
   // A leaf as the walk's root gives that leaf.
   Result leaf = Tool("walk " + Address() + " .1.3.6.1.2.1.1.5.0");
   EXPECT_EQ(leaf.out, ".1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\"\n");
}

TEST(ToolTraps, ReceivesSnmptrap)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   uint16_t port = FreeUdpPort();
   Result listener;
   std::thread t([&] {
      listener = Tool("traps -p " + std::to_string(port) + " -n 2 -t 5000");
   });
   std::this_thread::sleep_for(std::chrono::milliseconds(300));
   std::string dest = "127.0.0.1:" + std::to_string(port);
   RunPeerCommand("snmptrap -v1 -c public " + dest +
                  " .1.3.6.1.4.1.8072.3.2.10 10.0.0.1 3 0 12345 .1.3.6.1.2.1.2.2.1.1.2 i 2");
   std::this_thread::sleep_for(std::chrono::milliseconds(100));
   RunPeerCommand("snmptrap -v2c -c public " + dest +
                  " 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2");
   t.join();
   EXPECT_EQ(listener.status, 0) << listener.out;
   EXPECT_NE(listener.out.find("version 1, community \"public\""), std::string::npos) << listener.out;
   EXPECT_NE(listener.out.find("version 2c, community \"public\""), std::string::npos);
   size_t first = listener.out.find("trap OID .1.3.6.1.6.3.1.1.5.4, generic 3 (linkUp), specific 0");
   ASSERT_NE(first, std::string::npos);
   EXPECT_NE(listener.out.find("trap OID .1.3.6.1.6.3.1.1.5.4, generic 3 (linkUp), specific 0",
                               first + 1),
             std::string::npos);
   EXPECT_NE(listener.out.find("  .1.3.6.1.2.1.2.2.1.1.2 = INTEGER: 2"), std::string::npos);
   EXPECT_NE(listener.out.find("Trap from 127.0.0.1:"), std::string::npos);
}

TEST(ToolUsage, BadArgumentsAreNamed)
{
   struct Case
   {
      const char *args;
      const char *message;
   };
   const Case cases[] = {
      {"", "missing command"},
      {"frobnicate", "unknown command 'frobnicate'"},
      {"get", "missing HOST"},
      {"get 127.0.0.1", "missing OID"},
      {"get 127.0.0.1 1.3.x", "invalid OID '1.3.x'"},
      {"get 127.0.0.1:0 1.3", "invalid port"},
      {"get 127.0.0.1:70000 1.3", "invalid port"},
      {"get -v 3 127.0.0.1 1.3", "invalid version '3'"},
      {"get -t abc 127.0.0.1 1.3", "invalid time-out 'abc'"},
      {"get -r 0 127.0.0.1 1.3", "invalid number of attempts '0'"},
      {"get no-such-host.invalid 1.3", "Invalid hostname or IP address: 'no-such-host.invalid'"},
      {"set 127.0.0.1 1.3 BOGUS 1", "invalid type 'BOGUS'"},
      {"set 127.0.0.1 1.3 INTEGER 12x", "invalid value '12x'"},
      {"set 127.0.0.1 1.3 IPADDR 300.1.1.1", "invalid value '300.1.1.1'"},
      {"set 127.0.0.1 1.3 COUNTER32 4294967296", "invalid value '4294967296'"},
      {"set 127.0.0.1 1.3 STRING", "expected OID TYPE VALUE triples"},
      {"traps -p 0", "invalid port '0'"},
      {"mib print", "mib print takes one FILE"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.args);
      Result r = Tool(c.args);
      EXPECT_EQ(r.status, 2);
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
   }
   for (const char *cmd : {"get", "next", "walk", "set", "traps", "mib"})
   {
      Result r = Tool(std::string(cmd) + " --help");
      EXPECT_EQ(r.status, 0);
      EXPECT_NE(r.out.find("usage: zbsnmp " + std::string(cmd)), std::string::npos);
   }
}

TEST(ToolMib, BuildInfoPrint)
{
   std::string dir = testing::TempDir();
   std::string tsv = dir + "/tree.tsv", file = dir + "/tree.zbmib";
   FILE *f = fopen(tsv.c_str(), "w");
   fputs("# oid\tname\ttype\taccess\tstatus\tmodule\n.1\tiso\tother\t-\t-\t-\n.1.3\torg\tother\t-\t-\t-\n"
         ".1.3.6.1.2.1.1.5\tsysName\tDisplayString\tread-write\tcurrent\tSNMPv2-MIB\n",
         f);
   fclose(f);
   Result r = Tool("mib build -z " + tsv + " " + file);
   ASSERT_EQ(r.status, 0) << r.out;
   r = Tool("mib print " + file);
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out, "[root]\n  iso(1)\n    org(3)\n      (null)(6)\n        (null)(1)\n"
                    "          (null)(2)\n            (null)(1)\n              (null)(1)\n"
                    "                sysName(5)\n");
   r = Tool("mib info " + file);
   EXPECT_EQ(r.status, 0);
   // The module column makes it a file with optional fields.
   EXPECT_NE(r.out.find("flags:     0x0005 compressed optional-fields"), std::string::npos) << r.out;
   EXPECT_NE(r.out.find("version:   2"), std::string::npos) << r.out;
   EXPECT_NE(r.out.find("nodes:     9"), std::string::npos);
   EXPECT_NE(r.out.find("depth:     9"), std::string::npos);
   EXPECT_NE(r.out.find("created:   20"), std::string::npos);
   r = Tool("mib info " + dir + "/missing");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("File I/O error"), std::string::npos);
}

// ---- mib export, build and compile ----

// Net-SNMP's table goes through a tree file and comes back line for line,
// but for the second name Net-SNMP gives 81 of its OIDs (the first one wins).
TEST(ToolMibTable, NetSnmpTreeRoundTrips)
{
   std::string dir = testing::TempDir();
   std::string tsv = std::string(ZBSNMP_TEST_DATA) + "/netsnmp-mib-tree-rfc.tsv";
   std::string file = dir + "/netsnmp.zbmib", out = dir + "/netsnmp.tsv";
   Result r = Tool("mib build -z --no-descriptions " + tsv + " " + file);
   ASSERT_EQ(r.status, 0) << r.out;
   r = Tool("mib export " + file + " >" + out);
   ASSERT_EQ(r.status, 0) << r.out;
   std::stringstream theirs(ReadFileText(tsv));
   std::string expected, line, lastOid;
   while (std::getline(theirs, line))
   {
      std::string oid = line.substr(0, line.find('\t'));
      if (oid == lastOid)
         continue;
      lastOid = oid;
      expected += line + "\n";
   }
   EXPECT_EQ(ReadFileText(out), expected);
}

// Net-SNMP's words: tables and rows are "other", conventions their base
// type, and only OBJECT-TYPEs show access and status.
TEST(ToolMibTable, ExportUsesNetSnmpWords)
{
   std::string dir = testing::TempDir();
   WriteFileText(dir + "/in.tsv",
             ".1\tiso\tother\t-\t-\t-\n"
             ".1.5\tt\tSEQUENCE OF\tnot-accessible\tcurrent\tM\n"
             ".1.5.1\te\tSEQUENCE\tnot-accessible\tcurrent\tM\n"
             ".1.5.1.1\tc\tDisplayString\tread-create\tdeprecated\tM\n"
             ".1.5.1.2\td\tInterfaceIndex\tread-only\tcurrent\tM\n"
             ".1.6\tm\tMODULE-IDENTITY\tread-only\tcurrent\tM\n"
             ".1.2\tb\tCounter64\twrite-only\tmandatory\tN\n"
             ".1.2\tdup\tOpaque\t-\t-\tN\n");
   Result r = Tool("mib build " + dir + "/in.tsv " + dir + "/t.zbmib");
   ASSERT_EQ(r.status, 0) << r.out;
   r = Tool("mib export " + dir + "/t.zbmib");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out, "# oid\tname\ttype\taccess\tstatus\tmodule\n"
                    ".1\tiso\tother\t-\t-\t-\n"
                    ".1.2\tb\tCounter64\twrite-only\tmandatory\tN\n"
                    ".1.5\tt\tother\tnot-accessible\tcurrent\tM\n"
                    ".1.5.1\te\tother\tnot-accessible\tcurrent\tM\n"
                    ".1.5.1.1\tc\tOCTET STRING\tread-create\tdeprecated\tM\n"
                    ".1.5.1.2\td\tInteger32\tread-only\tcurrent\tM\n"
                    ".1.6\tm\tMODULE-IDENTITY\t-\t-\tM\n");
}

TEST(ToolMibTable, BuildRejectsWordsOutsideTheVocabulary)
{
   std::string dir = testing::TempDir();
   struct Case
   {
      const char *line, *message;
   };
   const Case cases[] = {
      {".1.3\tx\tINTEGR\tread-only\tcurrent\tM", "in.tsv:2: unknown type 'INTEGR'"},
      {".1.3\tx\tINTEGER\tread-mostly\tcurrent\tM", "in.tsv:2: unknown access 'read-mostly'"},
      {".1.3\tx\tINTEGER\tread-only\tfine\tM", "in.tsv:2: unknown status 'fine'"},
      {"1.x\tx\tINTEGER\tread-only\tcurrent\tM", "in.tsv:2: invalid line"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.line);
      WriteFileText(dir + "/in.tsv", std::string("# header\n") + c.line + "\n");
      Result r = Tool("mib build " + dir + "/in.tsv " + dir + "/t.zbmib");
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
   }
}

#ifdef ZBSNMP_HAVE_MIB_COMPILER
// The repository's modules: a compressed tree without descriptions, with
// the optional fields, and Net-SNMP's words in the export.
TEST(ToolMibCompile, RepositoryModules)
{
   std::string dir = testing::TempDir();
   std::string file = dir + "/mibs.zbmib";
   Result r = Tool("mib compile -z --no-descriptions -o " + file + " " +
                   std::string(ZBSNMP_SOURCE_DIR) + "/mibs");
   ASSERT_EQ(r.status, 0) << r.out;
   EXPECT_NE(r.out.find("compiled 463 modules into " + file), std::string::npos) << r.out;
   // Broken definitions are reported with file, line and module.
   EXPECT_NE(r.out.find("/mibs/net-snmp/VELOCITY-MIB.txt:537: error: VELOCITY-MIB: syntax error"),
             std::string::npos)
       << r.out;
   r = Tool("mib info " + file);
   EXPECT_NE(r.out.find("version:   2"), std::string::npos) << r.out;
   EXPECT_NE(r.out.find("flags:     0x0007 compressed no-descriptions optional-fields"),
             std::string::npos)
       << r.out;
   r = Tool("mib export " + file);
   ASSERT_EQ(r.status, 0);
   for (const char *line : {"\n.1.3.6.1.2.1.2.2.1.2\tifDescr\tOCTET STRING\tread-only\tcurrent\tIF-MIB\n",
                            "\n.1.3.6.1.2.1.31.1.2.1.3\tifStackStatus\tINTEGER\tread-create\tcurrent\tIF-MIB\n",
                            "\n.1.3.6.1.6.3.1.1.5.4\tlinkUp\tNOTIFICATION-TYPE\t-\t-\tIF-MIB\n",
                            "\n.1.3.6.1.2.1.11.1\tsnmpInPkts\tCounter32\tread-only\tcurrent\tSNMPv2-MIB\n"})
      EXPECT_NE(r.out.find(line), std::string::npos) << line;
}

TEST(ToolMibCompile, UsageAndMissingInput)
{
   Result r = Tool("mib compile");
   EXPECT_EQ(r.status, 2);
   EXPECT_NE(r.out.find("mib compile takes at least one DIR or FILE"), std::string::npos);
   r = Tool("mib compile -o /dev/null /nonexistent/mibs");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("/nonexistent/mibs: no such file or folder"), std::string::npos) << r.out;
}
#endif
