// zbsnmp poll end to end: a few hundred agents served by one snmpd on
// loopback addresses, and dead devices that never answer.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <memory>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "peer_util.h"
#include "socket_util.h"
#include "test_util.h"

namespace
{

// Sockets bound on loopback addresses that never answer: dead devices (with
// nothing bound, loopback would answer "port unreachable").
class DeadAgents
{
public:
   DeadAgents(uint32_t count, uint16_t port)
   {
      for (uint32_t i = 0; i < count; i++)
      {
         std::string address = "127.4.0." + std::to_string(i + 1);
         SNMP_SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
         struct sockaddr_in sa;
         memset(&sa, 0, sizeof(sa));
         sa.sin_family = AF_INET;
         sa.sin_port = htons(port);
         inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
         if (s != SNMP_INVALID_SOCKET && bind(s, (struct sockaddr *)&sa, sizeof(sa)) == 0)
         {
            m_sockets.push_back(s);
            m_addresses.push_back(address);
         }
         else if (s != SNMP_INVALID_SOCKET)
            CloseSock(s);
      }
   }
   ~DeadAgents()
   {
      for (SNMP_SOCKET s : m_sockets)
         CloseSock(s);
   }
   const std::vector<std::string> &Addresses() const { return m_addresses; }

private:
   std::vector<SNMP_SOCKET> m_sockets;
   std::vector<std::string> m_addresses;
};

struct PollRun
{
   std::vector<std::string> lines;  // standard output
   std::string summary;             // standard error
   int status = -1;
};

PollRun Poll(const std::string &args)
{
   PollRun r;
   std::string err = TempDir() + "/stderr";
   std::string out =
       RunPeerCommand("sh -c '" + std::string(ZBSNMP_TOOL) + " poll " + args + " 2>" + err + "'", &r.status);
   std::istringstream in(out);
   std::string line;
   while (std::getline(in, line))
      r.lines.push_back(line);
   std::vector<uint8_t> bytes = ReadFileBytes(err);
   r.summary.assign(bytes.begin(), bytes.end());
   return r;
}

class ToolPoll : public ::testing::Test
{
protected:
   void SetUp() override
   {
      REQUIRE_PEER(HaveProgram("snmpd"), "snmpd");
      ASSERT_TRUE(m_agent.Start(false, std::string(), kLive - 1)) << "snmpd did not start";
      m_dead.reset(new DeadAgents(kDead, m_agent.Port()));
      ASSERT_EQ(kDead, m_dead->Addresses().size());
      m_targets = TempDir() + "/targets";
      std::ofstream t(m_targets);
      t << "# agents of the test\n" << m_agent.Address() << " public\n";
      for (const std::string &a : m_agent.ExtraAddresses())
         t << a << ":" << m_agent.Port() << "\n";
      for (const std::string &a : m_dead->Addresses())
         t << a << ":" << m_agent.Port() << "   # never answers\n";
   }

   static constexpr uint32_t kLive = 300;
   static constexpr uint32_t kDead = 30;
   SnmpdAgent m_agent;
   std::unique_ptr<DeadAgents> m_dead;
   std::string m_targets;
};

TEST_F(ToolPoll, GetOfEveryAgentAsJsonLines)
{
   PollRun r = Poll("-f " + m_targets + " -t 500 -r 2 -o json .1.3.6.1.2.1.1.5.0 .1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(1, r.status) << r.summary;  // not every agent answered
   std::map<std::string, std::set<std::string>> answers;
   std::set<std::string> timedOut;
   for (const std::string &line : r.lines)
   {
      size_t a = line.find("{\"agent\":\"");
      ASSERT_EQ(0u, a) << line;
      std::string agent = line.substr(10, line.find('"', 10) - 10);
      if (line.find("\"error\":\"timeout\"") != std::string::npos)
         timedOut.insert(agent);
      else if (line.find("\"oid\":\".1.3.6.1.2.1.1.5.0\",\"type\":\"STRING\",\"value\":\"zbsnmp-test-agent\"") !=
                   std::string::npos ||
               line.find("\"oid\":\".1.3.6.1.2.1.1.1.0\",\"type\":\"STRING\",\"value\":\"zbsnmp test agent (loopback only)\"") !=
                   std::string::npos)
         answers[agent].insert(line);
      else
         ADD_FAILURE() << "unexpected line: " << line;
   }
   EXPECT_EQ(kLive, answers.size());
   for (auto &a : answers)
      EXPECT_EQ(2u, a.second.size()) << a.first;
   EXPECT_EQ(kDead, timedOut.size());
   for (const std::string &d : m_dead->Addresses())
      EXPECT_EQ(1u, timedOut.count(d + ":" + std::to_string(m_agent.Port()))) << d;
   EXPECT_NE(std::string::npos, r.summary.find("330 agents: 300 answered, 30 timed out, 0 errors"))
       << r.summary;
}

TEST_F(ToolPoll, TextLinesAndLimits)
{
   // A small window and a rate limit change how fast, not what.
   PollRun r = Poll("-f " + m_targets + " -t 300 -r 1 --window 16 --rate 5000 .1.3.6.1.2.1.1.5.0");
   EXPECT_EQ(1, r.status);
   size_t answered = 0, dead = 0;
   for (const std::string &line : r.lines)
   {
      if (line.find(" .1.3.6.1.2.1.1.5.0 = STRING: \"zbsnmp-test-agent\"") != std::string::npos)
         answered++;
      else if (line.find(": Request timed out") != std::string::npos)
         dead++;
      else
         ADD_FAILURE() << "unexpected line: " << line;
   }
   EXPECT_EQ(kLive, answered);
   EXPECT_EQ(kDead, dead);
   // Standard error is no terminal here: the summary only, no progress line.
   EXPECT_EQ(std::string::npos, r.summary.find('\r'));
   EXPECT_NE(std::string::npos, r.summary.find("300 answered, 30 timed out"));
}

// The ifTable of every agent at once with GETBULK: each live agent gives the
// OIDs a walk of one agent gives (values of counters move on), each dead one
// a time-out.
TEST_F(ToolPoll, WalkOfEveryAgent)
{
   const std::string ifTable = ".1.3.6.1.2.1.2.2";
   PollRun ref = Poll("-f " + m_targets + " --walk -Cr 50 -t 500 -r 2 -o json " + ifTable);
   std::map<std::string, std::vector<std::string>> oids;
   std::set<std::string> timedOut;
   for (const std::string &line : ref.lines)
   {
      std::string agent = line.substr(10, line.find('"', 10) - 10);
      size_t at = line.find("\"oid\":\"");
      if (line.find("\"error\":\"timeout\"") != std::string::npos)
         timedOut.insert(agent);
      else if (at != std::string::npos)
         oids[agent].push_back(line.substr(at + 7, line.find('"', at + 7) - at - 7));
      else
         ADD_FAILURE() << "unexpected line: " << line;
   }
   EXPECT_EQ(kDead, timedOut.size());
   ASSERT_EQ(kLive, oids.size()) << ref.summary;
   const std::vector<std::string> &first = oids.begin()->second;
   ASSERT_GT(first.size(), 10u);
   for (auto &a : oids)
   {
      EXPECT_EQ(first, a.second) << a.first;
      for (const std::string &oid : a.second)
         EXPECT_EQ(0u, oid.rfind(ifTable + ".1.", 0)) << oid;
   }
   EXPECT_NE(std::string::npos, ref.summary.find("300 answered, 30 timed out, 0 errors")) << ref.summary;
   // The same with GET-NEXT requests, in text lines.
   PollRun next = Poll("-f " + m_targets + " --walk --getnext -t 500 -r 2 " + ifTable);
   size_t lines = 0;
   for (const std::string &line : next.lines)
      lines += line.find(" " + ifTable + ".1.") != std::string::npos;
   EXPECT_EQ(kLive * first.size(), lines);
}

TEST_F(ToolPoll, UsageErrors)
{
   struct Case
   {
      const char *args;
      const char *message;
   } cases[] = {
      {".1.3.6.1.2.1.1.5.0", "missing -f TARGETS"},
      {"-f /nonexistent/targets .1.3", "cannot read"},
      {"-f TARGETS", "missing OID"},
      {"-f TARGETS --window 0 .1.3", "invalid window"},
      {"-f TARGETS -o xml .1.3", "invalid output format"},
      {"-f TARGETS 1.3.x", "invalid OID"},
      {"-f TARGETS --walk .1.3 .1.4", "--walk takes one OID"},
      {"-f TARGETS --walk -Cr 0 .1.3", "invalid max-repetitions"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.args);
      std::string args = c.args;
      size_t at = args.find("TARGETS");
      if (at != std::string::npos)
         args.replace(at, 7, m_targets);
      PollRun r = Poll(args);
      EXPECT_EQ(c.message[0] == 'c' ? 1 : 2, r.status);
      EXPECT_NE(std::string::npos, r.summary.find(c.message)) << r.summary;
   }
}

}  // namespace

// SNMPv3 for every agent of the list: the options' user for lines that name
// none, a line's own user from a users file, each agent's engine learnt by
// the engine.
TEST(ToolPollV3, UsersFromOptionsAndFile)
{
   REQUIRE_PEER(HaveProgram("snmpd"), "snmpd");
   if (!SNMPIsSecurityAvailable())
      GTEST_SKIP() << "built without libcrypto";
   SnmpdAgent agent;
   ASSERT_TRUE(agent.Start(false, std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd-v3.conf", 20));
   std::string dir = TempDir();
   std::string targets = dir + "/v3targets", users = dir + "/users";
   {
      std::ofstream t(targets);
      t << agent.Address() << "\n";   // the -u user
      for (const std::string &a : agent.ExtraAddresses())
         t << a << ":" << agent.Port() << (a.back() % 2 ? " v3sha_aes\n" : " v3md5_des\n");
      std::ofstream u(users);
      u << "# USER ENGINEID AUTH AUTHPASS PRIV PRIVPASS\n"
        << "v3sha_aes - SHA authpass1234 AES privpass5678\n"
        << "v3md5_des - MD5 authpass1234 DES privpass5678\n";
   }
   PollRun r = Poll("-v 3 -u v3sha256_aes -l authPriv -a SHA-256 -A authpass1234 -x AES -X privpass5678 -U " +
                    users + " -f " + targets + " -t 1000 -r 2 -o json .1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(0, r.status) << r.summary;
   size_t good = 0;
   for (const std::string &line : r.lines)
      good += line.find("\"value\":\"zbsnmp test agent (loopback only)\"") != std::string::npos;
   EXPECT_EQ(21u, good);
   EXPECT_NE(std::string::npos, r.summary.find("21 agents: 21 answered, 0 timed out, 0 errors")) << r.summary;
   // A walk of the system group the same way.
   r = Poll("-U " + users + " -u v3sha256_aes -a SHA-256 -A authpass1234 -x AES -X privpass5678 -f " +
            targets + " --walk -Cr 5 .1.3.6.1.2.1.1");
   EXPECT_EQ(0, r.status) << r.summary;
   // A user the file does not hold, with no -u to fall back on.
   r = Poll("-U " + users + " -f " + targets + " .1.3.6.1.2.1.1.1.0");
   EXPECT_EQ(2, r.status);
   EXPECT_NE(std::string::npos, r.summary.find("no user ''")) << r.summary;
}
