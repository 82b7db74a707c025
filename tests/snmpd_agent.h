// Net-SNMP's snmpd on a free loopback port, with private configuration and
// state, for the interop tests, the tool tests and the benchmarks.
#ifndef ZBSNMP_SNMPD_AGENT_H
#define ZBSNMP_SNMPD_AGENT_H

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

// A free UDP port of 127.0.0.1.
uint16_t FreeUdpPort();
// A free UDP port of ::1; 0 where the machine has no IPv6 loopback.
uint16_t FreeUdpPort6();

class SnmpdAgent
{
public:
   ~SnmpdAgent() { Stop(); }
   // Starts snmpd on 127.0.0.1 (or, with ipv6, on ::1) at a free port with
   // tests/snmpd.conf (and the extra configuration file, when given) and
   // waits until it answers. With extraAgents, the same snmpd also serves
   // that many more loopback addresses (127.3.x.y) at the same port: one
   // agent each (IPv4 only).
   bool Start(bool ipv6 = false, const std::string &extraConfig = std::string(),
              uint32_t extraAgents = 0);
   // The addresses it serves besides 127.0.0.1 ("127.3.0.1", ...).
   const std::vector<std::string> &ExtraAddresses() const { return m_extra; }
   // Stops it by PID and removes its state directory.
   void Stop();
   uint16_t Port() const { return m_port; }
   pid_t Pid() const { return m_pid; }
   const std::string &Dir() const { return m_dir; }
   // The agent's address as the Net-SNMP tools and zbsnmp take it.
   std::string Address() const
   {
      return (m_ipv6 ? "udp6:[::1]:" : "127.0.0.1:") + std::to_string(m_port);
   }
   const char *Host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }

private:
   pid_t m_pid = -1;
   uint16_t m_port = 0;
   bool m_ipv6 = false;
   std::string m_dir;
   std::vector<std::string> m_extra;
};

#endif
