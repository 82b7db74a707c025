// The zbsnmp tool's GETBULK walks, bulkget, informs and IPv6 addresses,
// against snmpd, snmpbulkwalk, snmpbulkget, snmptrap and snmpinform.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "peer_util.h"
#include "test_util.h"
#include "traps_tool.h"

namespace
{
// A Net-SNMP tool's output without the note about its private state directory.
std::string WithoutNotes(const std::string &text)
{
   std::string out, line;
   std::istringstream in(text);
   while (std::getline(in, line))
      if (line.rfind("Created directory", 0) != 0)
         out += line + "\n";
   return out;
}

// Output of a -On walk as OID -> the rest of its line; a Hex-STRING's
// continuation lines (Net-SNMP breaks them every 16 octets) stay with it.
struct Lines
{
   std::vector<std::string> order;
   std::map<std::string, std::string> value;
};

Lines Split(const std::string &text)
{
   Lines out;
   std::istringstream in(text);
   std::string line;
   while (std::getline(in, line))
   {
      if (line.rfind(".", 0) != 0 || line.find(" = ") == std::string::npos)
      {
         if (!out.order.empty())
            out.value[out.order.back()] += "\n" + line;  // continuation
         continue;
      }
      // snmpbulkwalk prints the endOfMibView that ends a walk of the whole
      // tree, under the last name; zbsnmp ends the walk there without a line.
      if (line.find(" = No more variables left in this MIB View") != std::string::npos)
         continue;
      std::string oid = line.substr(0, line.find(" = "));
      out.order.push_back(oid);
      out.value[oid] = line.substr(line.find(" = ") + 3);
   }
   return out;
}

// Values that move by themselves while an agent is walked: time, counters,
// gauges, and laLoadFloat's load averages (Opaque).
bool Moving(const std::string &value)
{
   for (const char *type : {"Timeticks:", "Counter32:", "Counter64:", "Gauge32:", "Opaque:"})
      if (value.rfind(type, 0) == 0)
         return true;
   return false;
}

// Tables whose rows come and go between two walks: processes (hrSWRun,
// hrSWRunPerf) and the UDP and TCP endpoints of the walking tools themselves.
bool MovingRow(const std::string &oid)
{
   for (const char *prefix : {".1.3.6.1.2.1.25.4.", ".1.3.6.1.2.1.25.5.", ".1.3.6.1.2.1.7.5.",
                              ".1.3.6.1.2.1.7.7.", ".1.3.6.1.2.1.6.13.", ".1.3.6.1.2.1.6.19.",
                              ".1.3.6.1.2.1.6.20."})
      if (oid.rfind(prefix, 0) == 0)
         return true;
   return false;
}


class ToolProtocolTest : public AgentSuite
{
};

class ToolIpv6Test : public Ipv6AgentSuite
{
};
}  // namespace

// zbsnmp walk (GETBULK, max-repetitions 10) of the whole agent prints what
// snmpbulkwalk -v2c -On -Cr10 prints, apart from values that move between
// runs: Net-SNMP walks before and after ours, and whatever differs between
// its two walks counts as moving.
TEST_F(ToolProtocolTest, WholeAgentWalkEqualsSnmpbulkwalk)
{
   REQUIRE_PEER(HaveProgram("snmpbulkwalk"), "snmpbulkwalk");
   std::string theirsCmd = "snmpbulkwalk -v2c -c public -On -Cr10 " + Agent()->Address() + " .1";
   Lines before = Split(RunPeerCommand(theirsCmd));
   Result ours = Tool("walk -Cr 10 -t 3000 " + Agent()->Address() + " .1");
   Lines after = Split(RunPeerCommand(theirsCmd));
   ASSERT_EQ(ours.status, 0) << ours.out.substr(0, 2000);
   Lines walked = Split(ours.out);
   ASSERT_GT(walked.order.size(), 1000u);

   std::vector<std::string> ourRows, theirRows;
   for (const std::string &oid : walked.order)
      if (!MovingRow(oid))
         ourRows.push_back(oid);
   for (const std::string &oid : before.order)
      if (!MovingRow(oid))
         theirRows.push_back(oid);
   EXPECT_EQ(ourRows, theirRows);

   size_t compared = 0;
   for (const std::string &oid : theirRows)
   {
      const std::string &theirs = before.value[oid];
      if (Moving(theirs) || after.value.count(oid) == 0 || after.value[oid] != theirs ||
          walked.value.count(oid) == 0)
         continue;
      EXPECT_EQ(walked.value[oid], theirs) << oid;
      compared++;
   }
   EXPECT_GT(compared, walked.order.size() / 2);
}

TEST_F(ToolProtocolTest, GetNextWalkAndBulkWalkAgree)
{
   for (const char *subtree : {".1.3.6.1.2.1.1", ".1.3.6.1.2.1.2.2.1.2", ".1.3.6.1.6.3.15"})
   {
      SCOPED_TRACE(subtree);
      Result bulk = Tool("walk " + Agent()->Address() + " " + subtree);
      Result bulk1 = Tool("walk -Cr1 " + Agent()->Address() + " " + subtree);
      Result next = Tool("walk --getnext " + Agent()->Address() + " " + subtree);
      EXPECT_EQ(bulk.status, 0);
      EXPECT_EQ(Split(bulk.out).order, Split(next.out).order);
      EXPECT_EQ(Split(bulk1.out).order, Split(next.out).order);
      EXPECT_GT(Split(bulk.out).order.size(), 2u);
   }
}

TEST_F(ToolProtocolTest, BulkGetEqualsSnmpbulkget)
{
   REQUIRE_PEER(HaveProgram("snmpbulkget"), "snmpbulkget");
   const char *oids = " .1.3.6.1.2.1.1.4 .1.3.6.1.2.1.2.2.1.1 .1.3.6.1.2.1.2.2.1.2";
   Result ours = Tool("bulkget -Cn 1 -Cr 3 " + Agent()->Address() + oids);
   std::string theirs = WithoutNotes(
       RunPeerCommand("snmpbulkget -v2c -c public -On -Cn1 -Cr3 " + Agent()->Address() + oids));
   EXPECT_EQ(ours.status, 0);
   EXPECT_EQ(ours.out, theirs);
   EXPECT_EQ(Split(ours.out).order.size(), 7u);
   // -Cr0: only the non-repeaters are answered.
   ours = Tool("bulkget -Cn1 -Cr0 " + Agent()->Address() + oids);
   EXPECT_EQ(ours.out, ".1.3.6.1.2.1.1.4.0 = STRING: \"noc@zbsnmp.test\"\n");
}

TEST_F(ToolIpv6Test, GetWalkSetOverIpv6)
{
   std::string port = std::to_string(Agent()->Port());
   for (const std::string &target : {"[::1]:" + port, "udp6:[::1]:" + port, "UDP6:[::1]:" + port})
   {
      SCOPED_TRACE(target);
      Result r = Tool("get " + target + " .1.3.6.1.2.1.1.5.0");
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\"\n");
   }
   Result walk = Tool("walk [::1]:" + port + " .1.3.6.1.2.1.1");
   EXPECT_EQ(walk.status, 0);
   if (HaveProgram("snmpbulkwalk"))
      EXPECT_EQ(Split(walk.out).order,
                Split(RunPeerCommand("snmpbulkwalk -v2c -c public -On " + Agent()->Address() +
                                     " .1.3.6.1.2.1.1"))
                    .order);
   Result set = Tool("set -c private udp6:[::1]:" + port + " .1.3.6.1.2.1.1.6.0 STRING v6-lab");
   EXPECT_EQ(set.status, 0) << set.out;
   Result get = Tool("get -v 1 [::1]:" + port + " .1.3.6.1.2.1.1.6.0");
   EXPECT_EQ(get.out, ".1.3.6.1.2.1.1.6.0 = STRING: \"v6-lab\"\n");
   // No agent for IPv4 there: "udp:" asks for IPv4 only.
   Result v4 = Tool("get -t 200 -r 1 udp:localhost:" + port + " .1.3.6.1.2.1.1.5.0");
   EXPECT_EQ(v4.status, 1);
   EXPECT_NE(v4.out.find("(localhost:" + port + ")"), std::string::npos) << v4.out;
   // A plain IPv6 address takes the default port 161; failures name it.
   Result plain = Tool("get -t 100 -r 1 ::1 .1.3.6.1.2.1.1.5.0");
   EXPECT_NE(plain.out.find("([::1]:161)"), std::string::npos) << plain.out;
}

// `traps` listens on IPv6 and IPv4 at once by default, or on the address of -a.
TEST(ToolTrapsProtocol, Ipv6AndDualStackListeners)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   REQUIRE_IPV6_LOOPBACK();
   struct Case
   {
      const char *listen;      // -a, or "" for the default
      std::vector<const char *> to;
      std::vector<const char *> from;
   };
   const Case cases[] = {
      {"", {"udp6:[::1]", "127.0.0.1"}, {"Trap from [::1]:", "Trap from 127.0.0.1:"}},
      {"::1", {"udp6:[::1]"}, {"Trap from [::1]:"}},
      {"[::1]", {"udp6:[::1]"}, {"Trap from [::1]:"}},
      {"127.0.0.1", {"127.0.0.1"}, {"Trap from 127.0.0.1:"}},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.listen);
      uint16_t port = FreeUdpPort6();
      TrapsTool tool("-p " + std::to_string(port) + " -n " + std::to_string(c.to.size()) +
                     " -t 5000" + (*c.listen ? std::string(" -a ") + c.listen : ""));
      ASSERT_TRUE(tool.WaitListening());
      for (const char *to : c.to)
      {
         RunPeerCommand(std::string("snmptrap -v2c -c public ") + to + ":" + std::to_string(port) +
                        " 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2");
      }
      tool.Join();
      const Result &listener = tool.result;
      EXPECT_EQ(listener.status, 0) << listener.out;
      for (const char *from : c.from)
         EXPECT_NE(listener.out.find(from), std::string::npos) << listener.out;
      EXPECT_NE(listener.out.find("trap OID .1.3.6.1.6.3.1.1.5.4, generic 3 (linkUp), specific 0"),
                std::string::npos);
   }
}

// Every inform is acknowledged (snmpinform exits 0) and printed like the trap
// it carries.
TEST(ToolTrapsProtocol, InformsAreAcknowledgedAndPrinted)
{
   REQUIRE_PEER(HaveProgram("snmpinform"), "snmpinform");
   bool ipv6 = HaveIpv6Loopback();
   uint16_t port = ipv6 ? FreeUdpPort6() : FreeUdpPort();
   int count = ipv6 ? 3 : 2;
   TrapsTool tool("-p " + std::to_string(port) + " -n " + std::to_string(count) + " -t 8000");
   ASSERT_TRUE(tool.WaitListening());
   std::string p = std::to_string(port);
   std::vector<std::string> sends = {
      "snmpinform -v2c -c public -t 2 -r 0 127.0.0.1:" + p +
          " 12345 .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.2 i 2",
      "snmptrap -v2c -c public 127.0.0.1:" + p + " 12345 .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.2 i 2",
   };
   if (ipv6)
      sends.push_back("snmpinform -v2c -c public -t 2 -r 0 udp6:[::1]:" + p +
                      " 12345 .1.3.6.1.4.1.8072.2.3.0.5 .1.3.6.1.2.1.1.5.0 s peer");
   for (const std::string &cmd : sends)
   {
      int status = -1;
      std::string out = RunPeerCommand(cmd, &status);
      EXPECT_EQ(status, 0) << cmd << ": " << out;  // -r 0: exit 0 only when acknowledged
   }
   tool.Join();
   const Result &listener = tool.result;
   EXPECT_EQ(listener.status, 0) << listener.out;
   const std::string &out = listener.out;
   size_t inform = out.find("Inform from 127.0.0.1:");
   size_t trap = out.find("Trap from 127.0.0.1:");
   ASSERT_NE(inform, std::string::npos) << out;
   ASSERT_NE(trap, std::string::npos) << out;
   // The same notification as inform and as trap: the same lines below the first.
   auto body = [&](size_t at) {
      size_t start = out.find('\n', at) + 1;
      size_t end = std::min(out.find("\nInform from", start), out.find("\nTrap from", start));
      return out.substr(start, end == std::string::npos ? std::string::npos : end - start);
   };
   EXPECT_EQ(body(inform), body(trap));
   EXPECT_NE(body(inform).find("  trap OID .1.3.6.1.6.3.1.1.5.3, generic 2 (linkDown), specific 0\n"),
             std::string::npos) << out;
   EXPECT_NE(body(inform).find("  .1.3.6.1.2.1.2.2.1.1.2 = INTEGER: 2"), std::string::npos);
   EXPECT_NE(body(trap).find("  trap OID .1.3.6.1.6.3.1.1.5.3, generic 2 (linkDown), specific 0\n"),
             std::string::npos);
   if (ipv6)
   {
      EXPECT_NE(out.find("Inform from [::1]:"), std::string::npos) << out;
      EXPECT_NE(out.find("trap OID .1.3.6.1.4.1.8072.2.3.0.5, generic 6 (enterpriseSpecific), specific 5"),
                std::string::npos);
   }
}

TEST(ToolProtocolUsage, BadAddressesAndBulkOptions)
{
   struct Case
   {
      const char *args;
      const char *message;
   };
   const Case cases[] = {
      {"get fe80::1%eth0 1.3", "IPv6 zones are not supported: 'fe80::1%eth0'"},
      {"get [fe80::1%eth0]:161 1.3", "IPv6 zones are not supported"},
      {"get host%eth0 1.3", "IPv6 zones are not supported"},
      {"get [::1 1.3", "no ']' after the IPv6 address"},
      {"get [::1]x 1.3", "expected ':PORT' after ']'"},
      {"get [::1]:0 1.3", "invalid port in '[::1]:0'"},
      {"get [::1]:99999 1.3", "invalid port"},
      {"get [127.0.0.1]:161 1.3", "invalid IPv6 address '127.0.0.1'"},
      {"get []:161 1.3", "invalid host '[]:161'"},
      {"get ::1::2 1.3", "invalid IPv6 address '::1::2'"},
      {"get 1:2:3 1.3", "invalid IPv6 address '1:2:3'"},
      {"get udp:[::1]:161 1.3", "'udp:' is for IPv4"},
      {"get udp6: 1.3", "invalid host 'udp6:'"},
      {"get udp6:127.0.0.1 1.3", "Invalid hostname or IP address: '127.0.0.1'"},
      {"get -C r5 127.0.0.1 1.3", "option -C is for walk and bulkget"},
      {"get --getnext 127.0.0.1 1.3", "option --getnext is for walk"},
      {"walk -Cr 0 127.0.0.1", "invalid max-repetitions '0' (1 to 2147483647)"},
      {"walk -Cr2147483648 127.0.0.1", "invalid max-repetitions '2147483648'"},
      {"walk -Cr -1 127.0.0.1", "invalid max-repetitions '-1'"},
      {"walk -Cr", "option -Cr needs a value"},
      {"walk -Cn 1 127.0.0.1", "unknown option -Cn"},
      {"walk -Cx 127.0.0.1", "unknown option -Cx"},
      {"bulkget -Cn 2147483648 127.0.0.1 1.3", "invalid non-repeaters '2147483648'"},
      {"bulkget -v 1 127.0.0.1 1.3", "GETBULK needs SNMPv2c"},
      {"bulkget 127.0.0.1", "missing OID"},
      {"traps -a bogus", "invalid address 'bogus'"},
      {"traps -a fe80::1%eth0", "IPv6 zones are not supported"},
      {"traps -a ::g", "invalid IPv6 address"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.args);
      Result r = Tool(c.args);
      EXPECT_EQ(r.status, 2);
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
   }
   Result help = Tool("bulkget --help");
   EXPECT_EQ(help.status, 0);
   EXPECT_NE(help.out.find("usage: zbsnmp bulkget"), std::string::npos);
}
