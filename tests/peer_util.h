// Net-SNMP peers for the interop tests: snmpd on a free loopback port, and
// the snmp command-line tools, each with private configuration and state.
#ifndef ZBSNMP_PEER_UTIL_H
#define ZBSNMP_PEER_UTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "snmpd_agent.h"
#include "socket_util.h"

// Skips the test when a peer program is missing, unless ZBSNMP_REQUIRE_PEERS
// is set (as in CI), where a missing peer is a failure.
#define REQUIRE_PEER(ok, what)                                              \
   do                                                                       \
   {                                                                        \
      if (!(ok))                                                            \
      {                                                                     \
         if (getenv("ZBSNMP_REQUIRE_PEERS") != nullptr)                      \
            FAIL() << what << " is required (ZBSNMP_REQUIRE_PEERS is set)"; \
         GTEST_SKIP() << what << " is not installed";                       \
      }                                                                     \
   } while (0)

bool HaveProgram(const char *name);
// Runs a shell command with the peers' private environment; returns its
// output, and its exit status in *status.
std::string RunPeerCommand(const std::string &command, int *status = nullptr);

// One request with one binding (with a value unless valueType is
// ASN_TYPE_NULL): the response (owned by the caller) or NULL, and DoRequest's
// code in *rc.
std::unique_ptr<SNMP_PDU> ExchangeOne(SNMP_Transport *transport, uint32_t command,
                                      const char *community, uint32_t version, uint32_t requestId,
                                      const char *oid, uint32_t *rc,
                                      uint32_t valueType = ASN_TYPE_NULL, const char *value = "",
                                      uint32_t attempts = 2);

// A Net-SNMP tool's (or zbsnmp's) output lines, without the empty ones and
// the tools' notes about their state directory.
std::vector<std::string> PeerLines(const std::string &output);

// A variable's value as GetValueAsString gives it.
inline std::string ValueText(SNMP_Variable *v)
{
   char buf[1024];
   return v->GetValueAsString(buf, sizeof(buf));
}

#ifdef ZBSNMP_TOOL
// The zbsnmp tool run with the peers' environment: its output (stdout and
// stderr) and exit status.
struct Result
{
   std::string out;
   int status;
};

inline Result Tool(const std::string &args)
{
   Result r;
   r.out = RunPeerCommand(std::string(ZBSNMP_TOOL) + " " + args, &r.status);
   return r;
}
#endif

// A test suite that shares one snmpd for all its tests.
class AgentSuite : public ::testing::Test
{
protected:
   static void SetUpTestSuite();
   static void TearDownTestSuite();
   // Skips or fails (see REQUIRE_PEER) when snmpd is missing or did not start.
   void SetUp() override;
   static SnmpdAgent *Agent() { return s_agent; }

   // snmpd on 127.0.0.1 (or ::1) with tests/snmpd.conf and the extra
   // configuration file, when given.
   static void StartAgent(bool ipv6, const std::string &extraConfig = std::string());

private:
   static SnmpdAgent *s_agent;
};

// The same with the SNMPv3 users of tests/snmpd-v3.conf, beside which the
// tests run snmpget; skips where the library was built without libcrypto.
class V3AgentSuite : public AgentSuite
{
protected:
   static void SetUpTestSuite();
   void SetUp() override;
};

// The same with snmpd listening on udp6:[::1]:PORT; skips (or, with
// ZBSNMP_REQUIRE_PEERS, fails) where the machine has no IPv6 loopback.
class Ipv6AgentSuite : public AgentSuite
{
protected:
   static void SetUpTestSuite();
   void SetUp() override;
};

#endif
