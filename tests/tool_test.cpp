// The zbsnmp tool end to end: output lines and exit statuses against snmpd
// and snmptrap, and its usage errors.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "internal.h"
#include "mib_tree_util.h"
#include "peer_util.h"
#include "socket_util.h"
#include "test_util.h"

namespace
{
Result RunPeerCommandStatus(const std::string &command)
{
   Result r;
   r.out = RunPeerCommand(command, &r.status);
   return r;
}

class ToolTest : public AgentSuite
{
protected:
   std::string Address() { return Agent()->Address(); }
};

// snmpget's output without the notes its first run makes about its state
// directory.
std::string Snmpget(const std::string &args)
{
   std::istringstream in(RunPeerCommand("snmpget -v2c -c public -On -t 2 -r 0 " + args));
   std::string out, line;
   while (std::getline(in, line))
      if (line.rfind("Created directory:", 0) != 0)
         out += line + "\n";
   return out;
}

// An agent of our own on a loopback port, for values that snmpd never sends:
// a GET of .1.3.6.1.4.1.99999.N.0 is answered with the N-th value element
// given, and a SET with the bindings it carried, so that what went over the
// wire shows in the reply.
const uint32_t kCraftedPrefix[] = {1, 3, 6, 1, 4, 1, 99999};

class CraftedAgent
{
public:
   explicit CraftedAgent(std::vector<std::string> values) : m_values(std::move(values))
   {
      m_socket = BoundSocket(&m_port);
      m_thread = std::thread([this] { Serve(); });
   }
   ~CraftedAgent()
   {
      m_stop = true;
      m_thread.join();
   }
   std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }
   static std::string Oid(size_t n) { return ".1.3.6.1.4.1.99999." + std::to_string(n) + ".0"; }

private:
   // A binding of the name with the value element (whole, header included).
   static SNMP_Variable *Binding(SNMP_ObjectId *name, const std::vector<uint8_t> &value)
   {
      std::vector<uint8_t> b(16 + name->Length() * 5);
      uint32_t n = BerWriteElement(ASN_TYPE_OBJECT_ID, name->GetValue(), name->Length() * 4,
                                   b.data(), (uint32_t)b.size());
      b.resize(n);
      b.insert(b.end(), value.begin(), value.end());
      SNMP_Variable *v = new SNMP_Variable();
      EXPECT_EQ(v->Parse(b.data(), (uint32_t)b.size()), 1);
      return v;
   }

   SNMP_Variable *Answer(SNMP_Variable *asked, uint32_t command)
   {
      SNMP_ObjectId *name = asked->GetName();
      if (command == SNMP_CMD_SET_REQUEST)
      {
         uint8_t buf[1024];
         uint32_t n = asked->Encode(buf, sizeof(buf));
         uint32_t type, length, header;
         const uint8_t *content;
         EXPECT_EQ(BerReadHeader(buf, n, &type, &length, &content, &header), 1);
         SNMP_Variable *echo = new SNMP_Variable();
         EXPECT_EQ(echo->Parse(content, length), 1);
         return echo;
      }
      uint32_t index = 0;
      bool ours = name->Length() == 9 && name->Compare(kCraftedPrefix, 7) == OID_CMP_LONGER &&
                  (index = name->GetValue()[7]) < m_values.size();
      return Binding(name, Hex(ours ? m_values[index] : "80 00"));
   }

   void Serve()
   {
      SNMP_UDPTransport transport(m_socket);
      while (!m_stop)
      {
         SNMP_PDU *request = nullptr;
         struct sockaddr_in from;
         socklen_t fromLen = sizeof(from);
         if (transport.Read(&request, 50, (struct sockaddr *)&from, &fromLen) <= 0 ||
             request == nullptr)
            continue;
         SNMP_PDU response(SNMP_CMD_RESPONSE, request->GetCommunity(), request->GetRequestId(),
                           request->GetVersion());
         for (uint32_t i = 0; i < request->GetNumVariables(); i++)
            response.BindVariable(Answer(request->GetVariable(i), request->GetCommand()));
         uint8_t *out = nullptr;
         uint32_t n = response.Encode(&out);
         if (n > 0)
            sendto(transport.GetSocket(), (const char *)out, (int)n, 0, (struct sockaddr *)&from,
                   fromLen);
         free(out);
         delete request;
      }
   }

   std::vector<std::string> m_values;
   SNMP_SOCKET m_socket;
   uint16_t m_port = 0;
   std::atomic<bool> m_stop{false};
   std::thread m_thread;
};
}  // namespace

// Values as snmpget prints them, so that scripts written for it keep working;
// where snmpget prints nothing (it drops the whole response), the tool still
// shows the octets.
TEST(ToolOutput, ValuesAsSnmpgetPrintsThem)
{
   struct Case
   {
      const char *value;  // the value element
      const char *text;
      bool snmpgetPrints;
   };
   const Case cases[] = {
      // Opaque: a wrapped float, double or 64-bit number, else its octets
      {"44 07 9F 78 04 40 0E EE 00", "Opaque: Float: 2.233276", true},
      {"44 07 9F 78 04 C7 C3 50 00", "Opaque: Float: -100000.000000", true},
      {"44 07 9F 78 04 7F 80 00 00", "Opaque: Float: inf", true},
      {"44 0B 9F 79 08 3F D5 55 55 55 55 55 55", "Opaque: Float: 0.333333", true},
      {"44 0B 9F 76 08 00 00 00 01 00 00 00 02", "Opaque: Counter64: 4294967298", true},
      {"44 04 9F 76 01 FF", "Opaque: Counter64: 255", true},
      {"44 0C 9F 7B 09 00 FF FF FF FF FF FF FF FF", "Opaque: UInt64: 18446744073709551615", true},
      {"44 04 9F 7A 01 FF", "Opaque: Int64: -1", true},
      {"44 03 9F 7A 00", "Opaque: Int64: 0", true},
      {"44 03 01 02 03", "OPAQUE: 01 02 03 ", true},
      {"44 00", "OPAQUE: ", true},
      {"44 05 9F 70 02 01 02", "OPAQUE: 9F 70 02 01 02 ", true},
      {"44 02 9F 78", "OPAQUE: 9F 78 ", true},
      {"44 14 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13",
       "OPAQUE: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 11 12 13 ", true},
      {"44 06 9F 78 03 40 0E EE", "OPAQUE: 9F 78 03 40 0E EE ", false},
      {"44 08 9F 78 04 40 0E EE 00 00", "OPAQUE: 9F 78 04 40 0E EE 00 00 ", false},
      // SNMPv2 exceptions
      {"80 00", "No Such Object available on this agent at this OID", true},
      {"81 00", "No Such Instance currently exists at this OID", true},
      {"82 00", "No more variables left in this MIB View (It is past the end of the MIB tree)", true},
      // Octet strings: quoted text, else octets sixteen to a line
      {"04 05 68 65 6C 6C 6F", "STRING: \"hello\"", true},
      {"04 02 22 5C", "STRING: \"\\\"\\\\\"", true},
      {"04 03 61 0A 62", "STRING: \"a\nb\"", true},
      {"04 01 0B", "STRING: \"\x0B\"", true},
      {"04 00", "\"\"", true},
      {"04 03 01 02 03", "Hex-STRING: 01 02 03 ", true},
      {"04 06 68 65 6C 6C 6F 00", "Hex-STRING: 68 65 6C 6C 6F 00 ", true},
      {"04 02 C3 A9", "Hex-STRING: C3 A9 ", true},
      {"04 10 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
       "Hex-STRING: 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F ", true},
      // Numbers, addresses, identifiers
      {"02 04 80 00 00 00", "INTEGER: -2147483648", true},
      {"41 05 00 FF FF FF FF", "Counter32: 4294967295", true},
      {"42 01 05", "Gauge32: 5", true},
      {"47 01 05", "5", true},
      {"46 01 05", "Counter64: 5", true},
      {"43 04 00 83 D6 00", "Timeticks: (8640000) 1 day, 0:00:00.00", true},
      {"43 04 7F FF FF FF", "Timeticks: (2147483647) 248 days, 13:13:56.47", true},
      {"40 04 C0 A8 01 01", "IpAddress: 192.168.1.1", true},
      {"06 03 2B 06 01", "OID: .1.3.6.1", true},
      {"06 03 88 37 01", "OID: .2.999.1", true},
      {"06 00", "OID: .0", true},
      {"05 00", "NULL", true},
      {"40 03 C0 A8 01", "Wrong Type (should be IpAddress): Hex-STRING: C0 A8 01 ", false},
   };
   std::vector<std::string> values;
   for (const Case &c : cases)
      values.push_back(c.value);
   CraftedAgent agent(values);
   bool snmpget = HaveProgram("snmpget");
   for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
   {
      const Case &c = cases[i];
      SCOPED_TRACE(c.value);
      std::string expected = CraftedAgent::Oid(i) + " = " + c.text + "\n";
      Result r = Tool("get -t 2000 " + agent.Address() + " " + CraftedAgent::Oid(i));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, expected);
      if (snmpget && c.snmpgetPrints)
         EXPECT_EQ(Snmpget(agent.Address() + " " + CraftedAgent::Oid(i)), expected);
   }
   REQUIRE_PEER(snmpget, "snmpget");
}

// Numbers are read in decimal, as snmpset reads them: the agent echoes what
// arrived on the wire.
TEST(ToolSet, NumbersAreDecimal)
{
   CraftedAgent agent({});
   const char *oid = ".1.3.6.1.4.1.99999.1.0";
   struct Case
   {
      const char *type, *value, *shown;
   };
   const Case cases[] = {
      {"INTEGER", "010", "INTEGER: 10"},
      {"INTEGER", "08", "INTEGER: 8"},
      {"INTEGER", "-010", "INTEGER: -10"},
      {"INTEGER", "+5", "INTEGER: 5"},
      {"GAUGE32", "010", "Gauge32: 10"},
      {"COUNTER32", "0099", "Counter32: 99"},
      {"TIMETICKS", "0100", "Timeticks: (100) 0:00:01.00"},
      {"COUNTER64", "018446744073709551615", "Counter64: 18446744073709551615"},
      {"UINT32", "07", "7"},
      {"STRING", "010", "STRING: \"010\""},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(std::string(c.type) + " " + c.value);
      Result r = Tool(std::string("set -c private ") + agent.Address() + " " + oid + " " + c.type +
                      " " + c.value);
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(r.out, std::string(oid) + " = " + c.shown + "\n");
   }
   // No C prefixes: hexadecimal is no number for these types, as for snmpset.
   for (const char *type : {"INTEGER", "GAUGE32", "COUNTER64"})
   {
      Result r = Tool(std::string("set ") + agent.Address() + " " + oid + " " + type + " 0x10");
      EXPECT_EQ(r.status, 2) << type;
      EXPECT_NE(r.out.find("invalid value '0x10'"), std::string::npos) << r.out;
   }
}

// nsCacheDefaultTimeout (NET-SNMP-AGENT-MIB) is a writable INTEGER: what
// the agent keeps shows which number arrived.
TEST_F(ToolTest, SetSendsLeadingZeroNumbersInDecimal)
{
   const std::string oid = ".1.3.6.1.4.1.8072.1.5.1.0";
   Result before = Tool("get " + Address() + " " + oid);
   ASSERT_EQ(before.out.rfind(oid + " = INTEGER: ", 0), 0u) << before.out;
   for (const char *text : {"010", "08", "0012"})
   {
      SCOPED_TRACE(text);
      std::string shown = oid + " = INTEGER: " + std::to_string(std::stoi(text, nullptr, 10)) + "\n";
      Result r = Tool("set -c private " + Address() + " " + oid + " INTEGER " + text);
      EXPECT_EQ(r.status, 0) << r.out;
      EXPECT_EQ(r.out, shown);
      EXPECT_EQ(Tool("get " + Address() + " " + oid).out, shown);
   }
   int old = std::stoi(before.out.substr(oid.size() + 12));
   EXPECT_EQ(Tool("set -c private " + Address() + " " + oid + " INTEGER " + std::to_string(old)).status,
             0);
}

// laLoadFloat (UCD-SNMP-MIB) is an Opaque Float: printed as snmpget prints it.
TEST_F(ToolTest, OpaqueFloatMatchesSnmpget)
{
   REQUIRE_PEER(HaveProgram("snmpget"), "snmpget");
   const std::string oid = ".1.3.6.1.4.1.2021.10.1.6.1";
   std::string ours, theirs;
   // The load average moves: try again until both tools saw the same value.
   for (int attempt = 0; attempt < 5; attempt++)
   {
      ours = Tool("get " + Address() + " " + oid).out;
      theirs = Snmpget(Address() + " " + oid);
      if (ours == theirs)
         break;
   }
   EXPECT_EQ(ours, theirs);
   EXPECT_EQ(ours.rfind(oid + " = Opaque: Float: ", 0), 0u) << ours;
}

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
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.99.0 = No Such Object available on this agent at this OID\n"
                    ".1.3.6.1.2.1.1.1.1 = No Such Instance currently exists at this OID\n");
   r = Tool("next " + Address() + " .1.4");
   EXPECT_EQ(r.out, ".1.4 = No more variables left in this MIB View (It is past the end of the MIB "
                    "tree)\n");
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

// Datagrams that are no SNMP message (a plain string, a short header) sent
// to the listener's port every 100 ms, up to count of them or until *stop.
static void SendJunk(uint16_t port, int count, const std::atomic<bool> *stop)
{
   uint16_t own;
   SNMP_SOCKET s = BoundSocket(&own);
   const std::vector<uint8_t> junk[] = {{0x04, 0x03, 'a', 'b', 'c'}, {0x30, 0x40, 0x02, 0x01}};
   for (int i = 0; i < count && !*stop; i++)
   {
      SendTo(s, port, junk[i % 2].data(), junk[i % 2].size());
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
   }
   CloseSock(s);
}

// A datagram that is no trap neither ends the listener's wait nor extends it.
TEST(ToolTraps, JunkDatagramsDoNotEndTheWait)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   {
      SCOPED_TRACE("junk, then a trap within the time-out");
      uint16_t port = FreeUdpPort();
      Result listener;
      std::thread t([&] { listener = Tool("traps -p " + std::to_string(port) + " -n 1 -t 5000"); });
      std::atomic<bool> stop(false);
      SendJunk(port, 10, &stop);  // a second of junk
      RunPeerCommand("snmptrap -v2c -c public 127.0.0.1:" + std::to_string(port) +
                     " 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2");
      t.join();
      EXPECT_EQ(listener.status, 0) << listener.out;
      EXPECT_NE(listener.out.find("trap OID .1.3.6.1.6.3.1.1.5.4, generic 3 (linkUp)"),
                std::string::npos)
          << listener.out;
   }
   {
      SCOPED_TRACE("junk all along: the time-out still ends the wait");
      uint16_t port = FreeUdpPort();
      Result listener;
      std::atomic<bool> stop(false);
      std::chrono::steady_clock::duration took{};
      std::thread t([&] {
         auto start = std::chrono::steady_clock::now();
         listener = Tool("traps -p " + std::to_string(port) + " -t 1000");
         took = std::chrono::steady_clock::now() - start;
         stop = true;
      });
      SendJunk(port, 40, &stop);
      t.join();
      EXPECT_EQ(listener.status, 1);
      EXPECT_NE(listener.out.find("Request timed out"), std::string::npos) << listener.out;
      EXPECT_GE(took, std::chrono::milliseconds(950));
      EXPECT_LT(took, std::chrono::milliseconds(3000));
   }
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
      {"get -v 4 127.0.0.1 1.3", "invalid version '4'"},
      {"get -t abc 127.0.0.1 1.3", "invalid time-out 'abc'"},
      {"get -r 0 127.0.0.1 1.3", "invalid number of attempts '0'"},
      {"get no-such-host.invalid 1.3", "Invalid hostname or IP address: 'no-such-host.invalid'"},
      {"set 127.0.0.1 1.3 BOGUS 1", "invalid type 'BOGUS'"},
      {"set 127.0.0.1 1.3 INTEGER 12x", "invalid value '12x'"},
      {"set 127.0.0.1 1.3 INTEGER 0x10", "invalid value '0x10'"},
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
   std::string dir = TempDir();
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

// ---- MIB names ----

namespace
{
// Net-SNMP's tree of the shipped modules in a MIB tree file, and whether
// the file keeps the nodes' modules (format version 2).
struct TreeFile
{
   std::string path;
   bool modules = false;
};

const TreeFile &TsvTree()
{
   static TreeFile file;
   if (file.path.empty())
   {
      file.path = TempDir() + "/netsnmp-tree.zbmib";
      SNMP_MIBObject *root =
          BuildMibTreeFromTsv(std::string(ZBSNMP_TEST_DATA) + "/netsnmp-mib-tree-rfc.tsv");
      EXPECT_EQ(SNMP_RC_SUCCESS, SNMPSaveMIBTree(file.path.c_str(), root, MIB_SAVE_COMPRESS));
      delete root;
      SNMP_MIBTranslator names;
      EXPECT_EQ(SNMP_RC_SUCCESS, names.LoadTree(file.path.c_str()));
      SNMP_MIBObject *node = names.FindNodeByName("sysDescr");
      file.modules = node != nullptr && node->Module() != nullptr;
   }
   return file;
}

// Bindings of a walk's output by name ("name = value", hex continued on
// further lines).
std::map<std::string, std::string> Bindings(const std::string &text, std::vector<std::string> *order)
{
   std::map<std::string, std::string> out;
   std::istringstream in(text);
   std::string line, last;
   while (std::getline(in, line))
   {
      size_t eq = line.find(" = ");
      if (eq != std::string::npos && line.substr(0, eq).find(' ') == std::string::npos)
      {
         last = line.substr(0, eq);
         out[last] = line.substr(eq + 3);
         if (order)
            order->push_back(last);
      }
      else if (!last.empty())
      {
         out[last] += "\n" + line;
      }
   }
   return out;
}
}  // namespace

class ToolNamesTest : public AgentSuite
{
protected:
   std::string Address() { return Agent()->Address(); }
};

TEST_F(ToolNamesTest, NamesInNamesOut)
{
   const TreeFile &tree = TsvTree();
   std::string sys = tree.modules ? "SNMPv2-MIB::" : "", ifm = tree.modules ? "IF-MIB::" : "";
   Result r = Tool("get -m " + tree.path + " " + Address() + " sysName.0 " + ifm + "ifIndex.1 .1.3.6.1.2.1.1.7.0");
   EXPECT_EQ(r.status, 0) << r.out;
   EXPECT_EQ(r.out, sys + "sysName.0 = STRING: \"zbsnmp-test-agent\"\n" + ifm +
                        "ifIndex.1 = INTEGER: 1\n" + sys + "sysServices.0 = INTEGER: 72\n");
   // -On keeps the numbers; the names still work as input.
   r = Tool("get -On -m " + tree.path + " " + Address() + " sysName.0");
   EXPECT_EQ(r.out, ".1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\"\n");
   // The tree from the environment; a walk from a name.
   r = Tool("walk " + Address() + " system");
   EXPECT_EQ(r.out.find("sysName.0"), std::string::npos);   // no tree: numbers
   r = RunPeerCommandStatus("env ZBSNMP_MIBS=" + tree.path + " " + ZBSNMP_TOOL + " walk " + Address() +
                            " system");
   EXPECT_EQ(r.status, 0);
   EXPECT_EQ(r.out.rfind(sys + "sysDescr.0 = STRING: \"zbsnmp test agent", 0), 0u) << r.out;
   EXPECT_NE(r.out.find(sys + "sysObjectID.0 = OID: " + (tree.modules ? "NET-SNMP-TC::" : "") + "linux\n"),
             std::string::npos);
   // set with a name, an OID value given as a name is sent as its numbers.
   r = Tool("set -c private -m " + tree.path + " " + Address() + " sysLocation.0 STRING \"Lab 7\"");
   EXPECT_EQ(r.out, sys + "sysLocation.0 = STRING: \"Lab 7\"\n");
   // Errors: a name the tree does not hold, a tree that does not load.
   r = Tool("get -m " + tree.path + " " + Address() + " noSuchName.0");
   EXPECT_EQ(r.status, 2);
   EXPECT_NE(r.out.find("invalid OID 'noSuchName.0'"), std::string::npos);
   r = Tool("get -m " + TempDir() + "/missing.zbmib " + Address() + " sysName.0");
   EXPECT_EQ(r.status, 1);
   EXPECT_NE(r.out.find("File I/O error"), std::string::npos) << r.out;
   r = Tool("get -Ox " + Address() + " sysName.0");
   EXPECT_EQ(r.status, 2);
}

TEST(ToolNames, TrapsShowTrapNames)
{
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   const TreeFile &tree = TsvTree();
   uint16_t port = FreeUdpPort();
   Result listener;
   std::thread t([&] {
      listener = Tool("traps -m " + tree.path + " -p " + std::to_string(port) + " -n 1 -t 5000");
   });
   std::this_thread::sleep_for(std::chrono::milliseconds(300));
   RunPeerCommand("snmptrap -v2c -c public 127.0.0.1:" + std::to_string(port) +
                  " 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2");
   t.join();
   std::string ifm = tree.modules ? "IF-MIB::" : "";
   EXPECT_EQ(listener.status, 0) << listener.out;
   EXPECT_NE(listener.out.find("trap OID " + ifm + "linkUp, generic 3 (linkUp), specific 0"),
             std::string::npos)
       << listener.out;
   EXPECT_NE(listener.out.find("  " + ifm + "ifIndex.2 = INTEGER: 2"), std::string::npos);
}

// With the tree compiled from mibs/, a walk of the agent reads as snmpwalk's
// with the same modules loaded (MIBS=ALL), and names typed in Net-SNMP's forms
// mean the OIDs snmptranslate gives. Values that change between two runs of
// snmpwalk (one before ours, one after) are left out of the count.
class ToolCompiledTreeTest : public AgentSuite
{
protected:
   static std::string NetSnmpEnv()
   {
      std::string mibs = std::string(ZBSNMP_SOURCE_DIR) + "/mibs";
      return "env MIBS=ALL MIBDIRS=" + mibs + "/rfc:" + mibs + "/net-snmp ";
   }
   std::string Address() { return Agent()->Address(); }

   // Compiles mibs/ once; skips when this build's tool has no compiler.
   void SetUp() override
   {
      AgentSuite::SetUp();
      if (HasFatalFailure() || IsSkipped())
         return;
      static std::string tree, failure;
      static bool tried = false;
      if (!tried)
      {
         tried = true;
         std::string path = TempDir() + "/compiled.zbmib";
         std::string mibs = std::string(ZBSNMP_SOURCE_DIR) + "/mibs";
         Result r = Tool("mib compile -z --no-descriptions -o " + path + " " + mibs + "/rfc " + mibs +
                         "/net-snmp");
         if (r.out.find("unknown mib command") != std::string::npos)
            failure = "skip";
         else if (r.status != 0 && access(path.c_str(), R_OK) != 0)
            failure = "mib compile failed: " + r.out.substr(0, 2000);
         else
            tree = path;
      }
      if (failure == "skip")
         GTEST_SKIP() << "this build's zbsnmp has no 'mib compile' (libsmi missing)";
      ASSERT_TRUE(failure.empty()) << failure;
      m_tree = tree;
   }

   std::string m_tree;
};

TEST_F(ToolCompiledTreeTest, WalkReadsAsSnmpwalk)
{
   REQUIRE_PEER(HaveProgram("snmpwalk"), "snmpwalk");
   struct Walk
   {
      const char *ours;     // our root, as a name
      const char *theirs;   // snmpwalk's
      double share;         // of the stable lines that must be identical
   };
   const Walk walks[] = {
      {"SNMPv2-MIB::system", "SNMPv2-MIB::system", 1.0},
      {"IF-MIB::interfaces", "IF-MIB::interfaces", 1.0},
      {"IF-MIB::ifXTable", "IF-MIB::ifXTable", 1.0},
      {".1", ".1", 0.95},
   };
   for (const Walk &w : walks)
   {
      SCOPED_TRACE(w.ours);
      // (RunPeerCommand adds 2>&1: Net-SNMP's warnings are left out inside.)
      std::string snmpwalk = "(" + NetSnmpEnv() + "snmpwalk -v2c -c public " + Address() + " " +
                             w.theirs + " 2>/dev/null)";
      std::vector<std::string> order;
      auto before = Bindings(RunPeerCommand(snmpwalk), &order);
      Result r = Tool("walk -m " + m_tree + " " + Address() + " " + w.ours);
      ASSERT_EQ(r.status, 0) << r.out.substr(0, 2000);
      auto ours = Bindings(r.out, nullptr);
      auto after = Bindings(RunPeerCommand(snmpwalk), nullptr);
      size_t stable = 0, same = 0;
      std::string differences;
      for (const std::string &name : order)
      {
         auto later = after.find(name);
         if (later == after.end() || later->second != before[name] ||
             before[name].rfind("No more variables", 0) == 0)
            continue;
         stable++;
         auto mine = ours.find(name);
         if (mine != ours.end() && mine->second == before[name])
            same++;
         else if (differences.size() < 3000)
            differences += name + " = " + before[name] + "\n   ours: " +
                           (mine != ours.end() ? mine->second : "(missing)") + "\n";
      }
      ASSERT_GT(stable, 5u);
      printf("walk of %s: %zu of %zu stable lines identical to snmpwalk's\n", w.ours, same, stable);
      EXPECT_GE(same, (size_t)(w.share * stable)) << same << " of " << stable << " lines identical\n"
                                                  << differences;
   }
}

TEST_F(ToolCompiledTreeTest, NamesResolveAsSnmptranslate)
{
   REQUIRE_PEER(HaveProgram("snmptranslate"), "snmptranslate");
   SNMP_MIBTranslator names;
   ASSERT_EQ(SNMP_RC_SUCCESS, names.LoadTree(m_tree.c_str()));
   const char *forms[] = {
      "SNMPv2-MIB::sysDescr.0",
      "iso.3.6.1.2.1.1.1.0",
      ".iso.org.dod.internet.mgmt.mib-2.system.sysDescr.0",
      "1.3.6.1.2.1.1.1.0",
      "IF-MIB::ifDescr.3",
      "IF-MIB::ifEntry.ifDescr.3",
      "IF-MIB::ifDescr.0x10",
      "SNMPv2-SMI::mib-2.1.1.0",
      "SNMP-VIEW-BASED-ACM-MIB::vacmAccessStatus.\"group\".\"\".3.noAuthNoPriv",
      "SNMP-VIEW-BASED-ACM-MIB::vacmGroupName.1.\"comm1\"",
      "DISMAN-EVENT-MIB::mteEventComment.\"_snmpd\".'_linkDown'",
      "IP-MIB::ipAddressIfIndex.ipv4.\"127.0.0.1\"",
      "IP-MIB::ipAddressIfIndex.1.4.127.0.0.1",
      "IP-MIB::ipSystemStatsInReceives.ipv4",
      "IP-MIB::ipAdEntAddr.127.0.0.1",
      "BRIDGE-MIB::dot1dTpFdbAddress.0.1.2.3.4.5",
      "NET-SNMP-AGENT-MIB::nsCacheTimeout.1.3.6.1.2.1.2.2",
      "NET-SNMP-AGENT-MIB::nsModuleName.\"\".1.0.0",
      "NET-SNMP-AGENT-MIB::nsLogType.debug.'/tmp/x'",
      "HOST-RESOURCES-MIB::hrSWRunName.1",
      "UCD-SNMP-MIB::laLoadFloat.1",
      "SNMPv2-MIB::sysDescr.\"ab\"",
      "SNMPv2-MIB::sysDescr.'ab'",
   };
   // (Rows with an OID in their index, such as inetCidrRouteTable's, are left
   // out: snmptranslate refuses the names it prints for them itself.)
   // snmptranslate reads a bare name only with -IR (as snmpget does when the
   // name is no path from a root).
   const char *bare[] = {"sysDescr.0", "ifDescr.3", "ifOperStatus.2", "vacmAccessStatus.\"g\".\"\".3.authPriv",
                         "hrSWRunName.1", "linkUp", "mib-2.1.1.0"};
   auto check = [&](const std::string &text, const std::string &options) {
      SCOPED_TRACE(text);
      std::string quoted;
      for (char c : text)
         quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
      std::string theirs = RunPeerCommand("(" + NetSnmpEnv() + "snmptranslate " + options + " '" +
                                          quoted + "' 2>/dev/null)");
      uint32_t ids[256];
      uint32_t n = names.TextToOID(text.c_str(), ids, 256);
      char ours[2048] = "";
      if (n > 0)
         SNMPConvertOIDToText(n, ids, ours, sizeof(ours));
      EXPECT_EQ(theirs, n > 0 ? std::string(ours) + "\n" : std::string());
   };
   for (const char *f : forms)
      check(f, "-On");
   for (const char *f : bare)
      check(f, "-IR -On");
}
// ---- mib export, build and compile ----

// Net-SNMP's table goes through a tree file and comes back line for line,
// but for the second name Net-SNMP gives 81 of its OIDs (the first one wins).
TEST(ToolMibTable, NetSnmpTreeRoundTrips)
{
   std::string dir = TempDir();
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
   std::string dir = TempDir();
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
   std::string dir = TempDir();
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
   std::string dir = TempDir();
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
