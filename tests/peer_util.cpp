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
   std::string full = "env PATH=\"$PATH:/usr/sbin\" SNMP_PERSISTENT_DIR=" + PeerDir() +
                      " SNMPCONFPATH=" + PeerDir() + " MIBS= " + command + " 2>&1";
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

uint16_t FreeUdpPort()
{
   uint16_t port;
   SNMP_SOCKET s = BoundSocket(&port);
   CloseSock(s);
   return port;
}

bool SnmpdAgent::Start()
{
   m_dir = TempDir();
   for (int attempt = 0; attempt < 5; attempt++)
   {
      m_port = FreeUdpPort();
      std::string listen = "udp:127.0.0.1:" + std::to_string(m_port);
      std::string conf = std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd.conf";
      pid_t pid = fork();
      if (pid < 0)
         return false;
      if (pid == 0)
      {
         setenv("SNMP_PERSISTENT_DIR", m_dir.c_str(), 1);
         setenv("SNMPCONFPATH", m_dir.c_str(), 1);
         setenv("MIBS", "", 1);
         std::string log = m_dir + "/snmpd.log";
         const char *snmpd = access("/usr/sbin/snmpd", X_OK) == 0 ? "/usr/sbin/snmpd" : "snmpd";
         execlp(snmpd, snmpd, "-f", "-C", "-c", conf.c_str(), "-Lf", log.c_str(), listen.c_str(),
                (char *)nullptr);
         _exit(127);
      }
      m_pid = pid;
      // Wait until the agent answers a GET of sysName.0.
      for (int i = 0; i < 100; i++)
      {
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
         int status = 0;
         if (waitpid(m_pid, &status, WNOHANG) == m_pid)
         {
            m_pid = -1;
            break;  // it died (port taken?): try another port
         }
         SNMP_UDPTransport t;
         if (t.CreateUDPTransport("127.0.0.1", 0, m_port) != SNMP_RC_SUCCESS)
            continue;
         SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", 1, SNMP_VERSION_2C);
         req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.5.0"));
         SNMP_PDU *resp = nullptr;
         if (t.DoRequest(&req, &resp, 200, 1) == SNMP_RC_SUCCESS)
         {
            delete resp;
            return true;
         }
      }
      Stop();
   }
   return false;
}

void SnmpdAgent::Stop()
{
   if (m_pid > 0)
   {
      kill(m_pid, SIGTERM);
      int status;
      waitpid(m_pid, &status, 0);
      m_pid = -1;
   }
}

SnmpdAgent *AgentSuite::s_agent = nullptr;

void AgentSuite::SetUpTestSuite()
{
   if (!HaveProgram("snmpd"))
      return;
   s_agent = new SnmpdAgent();
   if (!s_agent->Start())
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
