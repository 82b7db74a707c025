// Net-SNMP peers for the interop tests: snmpd on a free loopback port, and
// the snmp command-line tools, each with private configuration and state.
#ifndef ZBSNMP_PEER_UTIL_H
#define ZBSNMP_PEER_UTIL_H

#include <gtest/gtest.h>

#include <string>

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
uint16_t FreeUdpPort();

class SnmpdAgent
{
public:
   // Starts snmpd on 127.0.0.1 at a free port and waits until it answers.
   bool Start();
   void Stop();
   uint16_t Port() const { return m_port; }
   std::string Address() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
   int m_pid = -1;
   uint16_t m_port = 0;
   std::string m_dir;
};

// A test suite that shares one snmpd for all its tests.
class AgentSuite : public ::testing::Test
{
protected:
   static void SetUpTestSuite();
   static void TearDownTestSuite();
   // Skips or fails (see REQUIRE_PEER) when snmpd is missing or did not start.
   void SetUp() override;
   static SnmpdAgent *Agent() { return s_agent; }

private:
   static SnmpdAgent *s_agent;
};

#endif
