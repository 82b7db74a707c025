#include "snmpd_agent.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "socket_util.h"

uint16_t FreeUdpPort()
{
   uint16_t port;
   SNMP_SOCKET s = BoundSocket(&port);
   CloseSock(s);
   return port;
}

uint16_t FreeUdpPort6()
{
   uint16_t port = 0;
   SNMP_SOCKET s = BoundSocket6(&port);
   if (s == SNMP_INVALID_SOCKET)
      return 0;
   CloseSock(s);
   return port;
}

bool SnmpdAgent::Start(bool ipv6, const std::string &extraConfig, uint32_t extraAgents)
{
   m_ipv6 = ipv6;
   m_extra.clear();
   for (uint32_t i = 0; i < extraAgents && !ipv6; i++)
      m_extra.push_back("127.3." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
   std::string tmpl = (std::filesystem::temp_directory_path() / "zbsnmp-snmpd-XXXXXX").string();
   if (mkdtemp(&tmpl[0]) == nullptr)
      return false;
   m_dir = tmpl;
   for (int attempt = 0; attempt < 5; attempt++)
   {
      m_port = ipv6 ? FreeUdpPort6() : FreeUdpPort();
      if (m_port == 0)
         return false;
      std::string listen = (ipv6 ? "udp6:[::1]:" : "udp:127.0.0.1:") + std::to_string(m_port);
      for (const std::string &a : m_extra)
         listen += ",udp:" + a + ":" + std::to_string(m_port);
      std::string conf = std::string(ZBSNMP_SOURCE_DIR) + "/tests/snmpd.conf";
      if (!extraConfig.empty())
         conf += "," + extraConfig;
      std::string log = m_dir + "/snmpd.log";
      pid_t pid = fork();
      if (pid < 0)
         return false;
      if (pid == 0)
      {
         setenv("SNMP_PERSISTENT_DIR", m_dir.c_str(), 1);
         setenv("SNMPCONFPATH", m_dir.c_str(), 1);
         setenv("MIBS", "", 1);
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
         if (t.ConnectUDPTransport(Host(), m_port) != SNMP_RC_SUCCESS)
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
      if (m_pid > 0)
      {
         kill(m_pid, SIGTERM);
         waitpid(m_pid, nullptr, 0);
         m_pid = -1;
      }
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
   if (!m_dir.empty())
   {
      std::error_code ec;
      std::filesystem::remove_all(m_dir, ec);
      m_dir.clear();
   }
}
