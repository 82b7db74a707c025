// The zbsnmp tool with SNMPv3: get, walk and set with Net-SNMP's -v3
// options for every user of tests/snmpd-v3.conf beside snmpget and
// snmpbulkwalk, what each mistake prints, and 'traps' with a users file
// taking snmptrap -v3 and snmpinform -v3 at every level.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "peer_util.h"
#include "test_util.h"
#include "traps_tool.h"
#include "v3_users.h"

namespace
{
class ToolV3Test : public V3AgentSuite
{
protected:
   // Net-SNMP's tool and ours with the same options: their output lines.
   std::vector<std::string> Theirs(const std::string &tool, const std::string &options,
                                   const std::string &args)
   {
      int status = -1;
      std::string cmd = tool + " -On " + options + " " + Agent()->Address() + " " + args;
      std::string out = RunPeerCommand(cmd, &status);
      EXPECT_EQ(status, 0) << cmd << ": " << out;
      return PeerLines(out);
   }
   std::vector<std::string> Ours(const std::string &command, const std::string &options,
                                 const std::string &args)
   {
      Result r = Tool(command + " " + options + " " + Agent()->Address() + " " + args);
      EXPECT_EQ(r.status, 0) << command << " " << options << ": " << r.out;
      return PeerLines(r.out);
   }
};
}  // namespace

TEST_F(ToolV3Test, EveryUserGetWalkAndSetLikeNetSnmp)
{
   REQUIRE_PEER(HaveProgram("snmpbulkwalk"), "snmpbulkwalk");
   for (const V3User &u : AllV3Users())
   {
      SCOPED_TRACE(u.name);
      std::string o = V3Options(u);
      EXPECT_EQ(Ours("get", o, ".1.3.6.1.2.1.1.1.0 .1.3.6.1.2.1.1.5.0"),
                Theirs("snmpget", o, ".1.3.6.1.2.1.1.1.0 .1.3.6.1.2.1.1.5.0"));
      std::vector<std::string> walked = Ours("walk -Cr4", o, ".1.3.6.1.2.1.1.9");
      EXPECT_GT(walked.size(), 8u);
      EXPECT_EQ(walked, Theirs("snmpbulkwalk -Cr4", o, ".1.3.6.1.2.1.1.9"));
      std::string location = "tool rack of " + u.name;
      std::vector<std::string> set = Ours("set", o, ".1.3.6.1.2.1.1.6.0 STRING '" + location + "'");
      std::vector<std::string> expected = {".1.3.6.1.2.1.1.6.0 = STRING: \"" + location + "\""};
      EXPECT_EQ(set, expected);
      EXPECT_EQ(Theirs("snmpget", o, ".1.3.6.1.2.1.1.6.0"), expected);
   }
}

// Net-SNMP's other spellings, the level the passwords make, and the
// engine ID given instead of discovered.
TEST_F(ToolV3Test, OptionFormsAndDefaults)
{
   const std::string sysName = ".1.3.6.1.2.1.1.5.0";
   std::vector<std::string> expected =
       Theirs("snmpget", V3Options(FindV3User("v3sha256_aes256")), sysName);
   const char *forms[] = {
      "-v 3 -u v3sha256_aes256 -l authPriv -a SHA-256 -A authpass1234 -x AES-256 -X privpass5678",
      "-v3 -u v3sha256_aes256 -l ap -a sha256 -A authpass1234 -x aes256 -X privpass5678",
      "-u v3sha256_aes256 -l AUTHPRIV -a Sha-256 -A authpass1234 -x Aes-256 -X privpass5678",
      // No -l: authPriv, as both passwords are given.
      "-u v3sha256_aes256 -a SHA-256 -A authpass1234 -x AES-256 -X privpass5678",
   };
   for (const char *f : forms)
   {
      SCOPED_TRACE(f);
      EXPECT_EQ(Ours("get", f, sysName), expected);
   }
   // MD5 and DES unless told otherwise, as Net-SNMP's tools.
   EXPECT_EQ(Ours("get", "-u v3md5_des -A authpass1234 -X privpass5678", sysName), expected);
   // The agent's engine ID, as snmpd reports it: no discovery needed.
   // (snmpEngineID.0, a Hex-STRING over one or more lines).
   std::string hex;
   for (const std::string &line :
        Theirs("snmpget", "-v2c -c public -Oqv", ".1.3.6.1.6.3.10.2.1.1.0"))
      for (char c : line)
         if (isxdigit((unsigned char)c))
            hex += c;
   ASSERT_GE(hex.size(), 10u);
   EXPECT_EQ(Ours("get", "-u v3sha -a SHA -A authpass1234 -e 0x" + hex, sysName), expected);
}

TEST_F(ToolV3Test, MistakesPrintTheirReasons)
{
   struct Case
   {
      const char *options;
      int status;
      const char *message;
   };
   const Case cases[] = {
      {"-u v3sha_aes -a SHA -A wrongpass1234 -x AES -X privpass5678", 1,
       "Wrong digest (authentication failed)"},
      {"-u nosuchuser -a SHA -A authpass1234", 1, "Unknown user name"},
      {"-u v3sha -l authPriv -a SHA -A authpass1234 -x AES -X privpass5678", 1,
       "Unsupported security level"},
      {"-u v3sha_aes -l authNoPriv -a SHA -A authpass1234", 1,
       "agent error: authorizationError"},
      {"-t 300 -r 1 -u v3sha_aes -a SHA -A authpass1234 -x AES -X wrongpriv5678", 1,
       "Encrypted request unanswered (wrong privacy password or method?)"},
      // Usage errors.
      {"-v 2c -u v3sha", 2, "are for SNMPv3 (-v 3)"},
      {"-v 3", 2, "SNMPv3 needs a user (-u USER)"},
      {"-u v3sha -l authNoPriv", 2, "authNoPriv needs an authentication password (-A)"},
      {"-u v3sha -l authPriv -A authpass1234", 2, "authPriv needs a privacy password (-X)"},
      {"-u v3sha -l secret", 2, "invalid security level 'secret'"},
      {"-u v3sha -a SHA-3 -A authpass1234", 2, "invalid authentication protocol 'SHA-3'"},
      {"-u v3sha -x 3DES -X privpass5678", 2, "invalid privacy protocol '3DES'"},
      {"-u v3sha -e 0x80001f", 2, "invalid engine ID '0x80001f'"},
      {"-u v3sha -e 0x80001f88zz", 2, "invalid engine ID"},
      {"-u 123456789012345678901234567890123", 2, "longer than 32 octets"},
      {"-v 4", 2, "invalid version '4' (use 1, 2c or 3)"},
   };
   for (const Case &c : cases)
   {
      SCOPED_TRACE(c.options);
      Result r = Tool(std::string("get ") + c.options + " " + Agent()->Address() + " .1.3.6.1.2.1.1.1.0");
      EXPECT_EQ(r.status, c.status) << r.out;
      EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
   }
}

// ---- traps with a users file ----

TEST(ToolV3Traps, UsersFileTakesTrapsAndInformsAtEveryLevel)
{
   if (!SNMPIsSecurityAvailable())
      GTEST_SKIP() << "built without libcrypto";
   REQUIRE_PEER(HaveProgram("snmptrap") && HaveProgram("snmpinform"), "snmptrap, snmpinform");
   struct Sender
   {
      const char *user;
      const char *engine;  // NULL: an inform
   };
   const Sender senders[] = {
      {"v3none", "0x80001f8804747261703a30"},  {"v3sha256", "0x80001f8804747261703a31"},
      {"v3md5_des", "0x80001f8804747261703a32"}, {"v3sha512_aes256", "0x80001f8804747261703a33"},
      {"v3none", nullptr},                     {"v3sha384", nullptr},
      {"v3sha_aes", nullptr},                  {"v3sha224_aes192c", nullptr},
   };
   std::string file = TempDir() + "/users";
   std::string text = "# the listener's SNMPv3 users\n";
   for (const Sender &s : senders)
   {
      V3User u = FindV3User(s.user);
      text += u.name + "  " + (s.engine != nullptr ? s.engine : "-");
      if (u.auth)
         text += std::string("  ") + u.auth->name + " " + kV3AuthPass;
      if (u.priv)
         text += std::string("  ") + u.priv->name + " " + kV3PrivPass;
      text += "   # " + std::string(V3LevelName(u.level)) + "\n";
   }
   WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end()));

   uint16_t port = FreeUdpPort();
   const size_t count = sizeof(senders) / sizeof(senders[0]);
   TrapsTool tool("-p " + std::to_string(port) + " -a 127.0.0.1 -n " + std::to_string(count) +
                  " -t 8000 -U " + file);
   ASSERT_TRUE(tool.WaitListening());
   std::string to = "127.0.0.1:" + std::to_string(port);
   for (const Sender &s : senders)
   {
      SCOPED_TRACE(s.user);
      std::string o = V3Options(FindV3User(s.user));
      std::string cmd = s.engine != nullptr
                            ? "snmptrap " + o + " -e " + s.engine + " " + to
                            : "snmpinform -t 2 -r 1 " + o + " " + to;
      int status = -1;
      std::string out = RunPeerCommand(
          cmd + " 777 .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.7 i 7", &status);
      EXPECT_EQ(status, 0) << cmd << ": " << out;  // snmpinform: 0 only when acknowledged
   }
   tool.Join();
   EXPECT_EQ(tool.result.status, 0) << tool.result.out;
   const std::string &out = tool.result.out;
   EXPECT_NE(out.find("SNMPv3: 8 user(s); informs to engine ID 0x8000000005"), std::string::npos)
       << out;
   for (const Sender &s : senders)
   {
      V3User u = FindV3User(s.user);
      std::string head = std::string(s.engine ? "Trap" : "Inform") + " from 127.0.0.1:";
      std::string facts = ": version 3, user \"" + u.name + "\", " + V3LevelName(u.level) +
                          ", engine ID " + (s.engine ? s.engine : "0x8000000005");
      size_t at = out.find(facts);
      ASSERT_NE(at, std::string::npos) << facts << "\n" << out;
      EXPECT_EQ(out.rfind(head, at), out.rfind('\n', at) + 1) << out;
      EXPECT_NE(out.find("  trap OID .1.3.6.1.6.3.1.1.5.3, generic 2 (linkDown), specific 0", at),
                std::string::npos);
   }
   EXPECT_NE(out.find("  .1.3.6.1.2.1.2.2.1.1.7 = INTEGER: 7"), std::string::npos);
   EXPECT_EQ(out.find("dropped"), std::string::npos) << out;
}

// What the listener refuses, it says; a users file it cannot read stops it.
TEST(ToolV3Traps, RefusedMessagesAndBadUsersFiles)
{
   if (!SNMPIsSecurityAvailable())
      GTEST_SKIP() << "built without libcrypto";
   REQUIRE_PEER(HaveProgram("snmptrap"), "snmptrap");
   std::string dir = TempDir();
   std::string file = dir + "/users";
   std::string text = "v3sha_aes 0x80001f88047a62 SHA authpass1234 AES privpass5678\n";
   WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
   uint16_t port = FreeUdpPort();
   TrapsTool tool("-p " + std::to_string(port) + " -a 127.0.0.1 -t 1500 -U " + file);
   ASSERT_TRUE(tool.WaitListening());
   std::string to = "127.0.0.1:" + std::to_string(port) + " 1 .1.3.6.1.6.3.1.1.5.1";
   RunPeerCommand("snmptrap -v3 -u v3sha_aes -l authPriv -a SHA -A wrongpass1234 -x AES -X "
                  "privpass5678 -e 0x80001f88047a62 " + to);
   RunPeerCommand("snmptrap -v3 -u v3sha_aes -l authNoPriv -a SHA -A authpass1234 -e 0x80001f88047a62 " + to);
   RunPeerCommand("snmptrap -v3 -u v3sha_aes -l authPriv -a SHA -A authpass1234 -x AES -X "
                  "privpass5678 -e 0x80001f8804ffff " + to);
   RunPeerCommand("snmptrap -v3 -u stranger -l noAuthNoPriv -e 0x80001f88047a62 " + to);
   tool.Join();
   const std::string &out = tool.result.out;
   EXPECT_EQ(tool.result.status, 1) << out;  // the time-out: nothing was shown
   for (const char *reason : {"Wrong digest (authentication failed)", "Unsupported security level",
                              "Unknown SNMP engine ID", "Unknown user name"})
      EXPECT_NE(out.find(std::string("dropped: ") + reason), std::string::npos) << reason << "\n" << out;

   struct Bad
   {
      const char *line, *message;
   };
   const Bad bad[] = {
      {"alice", "expected USER ENGINEID [AUTH AUTHPASS [PRIV PRIVPASS]]"},
      {"alice - SHA", "expected USER ENGINEID"},
      {"alice nothex", "invalid engine ID 'nothex'"},
      {"alice - SHA-3 pass12345678", "invalid authentication protocol 'SHA-3'"},
      {"alice - SHA pass12345678 RC4 pass12345678", "invalid privacy protocol 'RC4'"},
   };
   for (const Bad &b : bad)
   {
      SCOPED_TRACE(b.line);
      std::string content = "# comment\n\n" + std::string(b.line) + "\n";
      WriteFileBytes(file, std::vector<uint8_t>(content.begin(), content.end()));
      Result r = Tool("traps -p " + std::to_string(FreeUdpPort()) + " -n 1 -U " + file);
      EXPECT_EQ(r.status, 2) << r.out;
      EXPECT_NE(r.out.find(file + ":3: " + b.message), std::string::npos) << r.out;
   }
   Result missing = Tool("traps -n 1 -U " + dir + "/no-such-file");
   EXPECT_EQ(missing.status, 1);
   EXPECT_NE(missing.out.find("cannot read users file"), std::string::npos) << missing.out;
}
