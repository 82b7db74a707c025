// zbsnmp mib export, build and compile end to end.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "peer_util.h"

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

std::string ReadText(const std::string &path)
{
   std::ifstream in(path, std::ios::binary);
   std::stringstream ss;
   ss << in.rdbuf();
   return ss.str();
}

void WriteText(const std::string &path, const std::string &text)
{
   std::ofstream out(path, std::ios::binary);
   out << text;
}

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
   std::stringstream theirs(ReadText(tsv));
   std::string expected, line, lastOid;
   while (std::getline(theirs, line))
   {
      std::string oid = line.substr(0, line.find('\t'));
      if (oid == lastOid)
         continue;
      lastOid = oid;
      expected += line + "\n";
   }
   EXPECT_EQ(ReadText(out), expected);
}

// Net-SNMP's words: tables and rows are "other", conventions their base
// type, and only OBJECT-TYPEs show access and status.
TEST(ToolMibTable, ExportUsesNetSnmpWords)
{
   std::string dir = testing::TempDir();
   WriteText(dir + "/in.tsv",
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
      WriteText(dir + "/in.tsv", std::string("# header\n") + c.line + "\n");
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
}  // namespace
