#include "peer_util.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "socket_util.h"
#include "test_util.h"

static std::string PeerDir()
{
   static std::string dir = TempDir();
   return dir;
}

bool HaveProgram(const char *name)
{
   std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1 || test -x /usr/sbin/" +
                     name;
   return system(cmd.c_str()) == 0;
}

std::string RunPeerCommand(const std::string &command, int *status)
{
   // The command runs in a shell of its own, so that it may group, pipe and
   // redirect (its own 2>/dev/null wins over the 2>&1 around it).
   std::string quoted;
   for (char c : command)
      quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
   std::string full = "env PATH=\"$PATH:/usr/sbin\" SNMP_PERSISTENT_DIR=" + PeerDir() +
                      " SNMPCONFPATH=" + PeerDir() + " MIBS= sh -c '" + quoted + "' 2>&1";
   FILE *p = popen(full.c_str(), "r");
   std::string out;
   if (p == nullptr)
   {
      if (status)
         *status = -1;
      return out;
   }
   char buf[4096];
   size_t n;
   while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
      out.append(buf, n);
   int rc = pclose(p);
   if (status)
      *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
   return out;
}

std::unique_ptr<SNMP_PDU> ExchangeOne(SNMP_Transport *transport, uint32_t command,
                                      const char *community, uint32_t version, uint32_t requestId,
                                      const char *oid, uint32_t *rc, uint32_t valueType,
                                      const char *value, uint32_t attempts)
{
   SNMP_PDU req(command, community, requestId, version);
   SNMP_Variable *v = new SNMP_Variable(oid);
   if (valueType != ASN_TYPE_NULL)
      v->SetValueFromString(valueType, value);
   req.BindVariable(v);
   SNMP_PDU *resp = nullptr;
   *rc = transport->DoRequest(&req, &resp, 1000, attempts);
   return std::unique_ptr<SNMP_PDU>(resp);
}

SnmpdAgent *AgentSuite::s_agent = nullptr;

void AgentSuite::SetUpTestSuite()
{
   StartAgent(false);
}

void Ipv6AgentSuite::SetUpTestSuite()
{
   if (HaveIpv6Loopback())
      StartAgent(true);
}

void Ipv6AgentSuite::SetUp()
{
   REQUIRE_IPV6_LOOPBACK();
   AgentSuite::SetUp();
}

void AgentSuite::StartAgent(bool ipv6, const std::string &extraConfig)
{
   if (!HaveProgram("snmpd"))
      return;
   s_agent = new SnmpdAgent();
   if (!s_agent->Start(ipv6, extraConfig))
   {
      delete s_agent;
      s_agent = nullptr;
   }
}

void AgentSuite::TearDownTestSuite()
{
   if (s_agent != nullptr)
      s_agent->Stop();
   delete s_agent;
   s_agent = nullptr;
}

void AgentSuite::SetUp()
{
   REQUIRE_PEER(HaveProgram("snmpd"), "snmpd");
   ASSERT_NE(s_agent, nullptr) << "snmpd did not start";
}

void V3AgentSuite::SetUpTestSuite()
{
   if (SNMPIsSecurityAvailable())
      StartAgent(false, std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd-v3.conf");
}

void V3AgentSuite::SetUp()
{
   if (!SNMPIsSecurityAvailable())
      GTEST_SKIP() << "built without libcrypto";
   AgentSuite::SetUp();
   REQUIRE_PEER(HaveProgram("snmpget"), "snmpget");
}

std::vector<std::string> PeerLines(const std::string &output)
{
   std::vector<std::string> out;
   size_t start = 0;
   while (start < output.size())
   {
      size_t end = output.find('\n', start);
      if (end == std::string::npos)
         end = output.size();
      std::string line = output.substr(start, end - start);
      if (!line.empty() && line.rfind("Created directory", 0) != 0)
         out.push_back(line);
      start = end + 1;
   }
   return out;
}
