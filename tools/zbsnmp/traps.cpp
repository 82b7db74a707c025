// traps: a listener that prints every trap and inform it receives (SNMP v1,
// v2c, and v3 for the users of a users file), and acknowledges every inform
// to its sender.
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"

static const char *GenericTrapName(int type)
{
   static const char *const names[] = {"coldStart", "warmStart", "linkDown", "linkUp",
                                       "authenticationFailure", "egpNeighborLoss",
                                       "enterpriseSpecific"};
   return (type >= 0 && type <= 6) ? names[type] : "unknown";
}

// "192.0.2.7:162", "[2001:db8::7]:162"; an IPv4 sender of a dual-stack socket
// (::ffff:192.0.2.7) as IPv4.
static std::string SenderText(const struct sockaddr_storage &from, socklen_t len)
{
   char host[INET6_ADDRSTRLEN] = "?";
   char port[8] = "?";
   if (getnameinfo((const struct sockaddr *)&from, len, host, sizeof(host), port, sizeof(port),
                   NI_NUMERICHOST | NI_NUMERICSERV) != 0)
      return "?";
   std::string h = host;
   if (from.ss_family != AF_INET6)
      return h + ":" + port;
   if (h.rfind("::ffff:", 0) == 0 && h.find('.') != std::string::npos)
      return h.substr(7) + ":" + port;
   return "[" + h + "]:" + port;
}

// A UDP socket of the family bound to the port of the local address (NULL:
// every address); dual-stack: an IPv6 socket that takes IPv4 too. -1 with
// errno set on failure.
static int BindUdp(int family, const char *address, uint16_t port, bool dualStack)
{
   struct addrinfo hints;
   memset(&hints, 0, sizeof(hints));
   hints.ai_family = family;
   hints.ai_socktype = SOCK_DGRAM;
   hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
   struct addrinfo *ai = nullptr;
   if (getaddrinfo(address, std::to_string(port).c_str(), &hints, &ai) != 0 || ai == nullptr)
   {
      errno = EAFNOSUPPORT;
      return -1;
   }
   int s = socket(ai->ai_family, SOCK_DGRAM, 0);
   if (s >= 0 && dualStack)
   {
      int off = 0;
      setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
   }
   if (s >= 0 && bind(s, ai->ai_addr, ai->ai_addrlen) != 0)
   {
      int err = errno;
      close(s);
      errno = err;
      s = -1;
   }
   freeaddrinfo(ai);
   return s;
}

// The listening socket: on the given local address, or on every local
// address, IPv6 and IPv4 on one dual-stack socket (IPv4 alone where the
// system has no IPv6).
static int ListenSocket(const std::string &address, uint16_t port, std::string *where)
{
   std::string p = std::to_string(port);
   if (!address.empty())
   {
      *where = (address.find(':') != std::string::npos ? "[" + address + "]" : address) + ":" + p;
      return BindUdp(AF_UNSPEC, address.c_str(), port, false);
   }
   *where = "UDP port " + p + " (IPv6 and IPv4)";
   int s = BindUdp(AF_INET6, nullptr, port, true);
   if (s >= 0 || (errno != EAFNOSUPPORT && errno != EADDRNOTAVAIL))
      return s;
   *where = "UDP port " + p;
   return BindUdp(AF_INET, nullptr, port, false);
}

int CmdTraps(int argc, char **argv)
{
   uint64_t port = 162, count = 0, timeout = 0xFFFFFFFF;
   std::string mibFile;
   bool numericOids = false;
   std::string address;
   std::string usersFile;
   for (int i = 0; i < argc; i++)
   {
      std::string a = argv[i];
      if (a == "-On")
      {
         numericOids = true;
         continue;
      }
      if (i + 1 >= argc)
         return UsageError(a[0] == '-' ? "option " + a + " needs a value" : "unexpected argument '" + a + "'",
                           "traps");
      const char *value = argv[++i];
      if (a == "-p")
      {
         if (!ParseUnsigned(value, 65535, &port) || port == 0)
            return UsageError("invalid port '" + std::string(value) + "'", "traps");
      }
      else if (a == "-a")
      {
         // An address of this machine: IPv4, or IPv6 with or without brackets.
         address = value;
         if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
         struct in_addr a4;
         std::string error;
         if (inet_pton(AF_INET, address.c_str(), &a4) != 1 &&
             !CheckIpv6Text(address, value, &error))
            return UsageError(address.find(':') != std::string::npos || address.find('%') != std::string::npos
                                  ? error
                                  : "invalid address '" + std::string(value) + "'",
                              "traps");
      }
      else if (a == "-n")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFFu, &count) || count == 0)
            return UsageError("invalid count '" + std::string(value) + "'", "traps");
      }
      else if (a == "-t")
      {
         if (!ParseUnsigned(value, 0xFFFFFFFEu, &timeout) || timeout == 0)
            return UsageError("invalid time-out '" + std::string(value) + "'", "traps");
      }
      else if (a == "-m")
      {
         mibFile = value;
      }
      else if (a == "-U")
      {
         usersFile = value;
      }
      else
      {
         return UsageError("unknown option " + a, "traps");
      }
   }
   int loaded = LoadMibTree(mibFile, numericOids);
   if (loaded != EXIT_OK)
      return loaded;
   std::vector<std::unique_ptr<SNMP_USMIdentity>> users;
   if (!usersFile.empty() && (loaded = LoadUsersFile(usersFile, &users)) != EXIT_OK)
      return loaded;
   std::string where;
   int s = ListenSocket(address, (uint16_t)port, &where);
   if (s < 0)
   {
      fprintf(stderr, "zbsnmp: cannot listen on %s: %s\n", where.c_str(), strerror(errno));
      return EXIT_FAILURE_SNMP;
   }
   SNMP_UDPTransport listener(s);
   for (auto &user : users)
      listener.AddUser(user.get());
   if (!users.empty())
   {
      // Informs are sent to this engine: a new one each run (senders discover it).
      uint32_t length = 0;
      const uint8_t *engine = listener.GetLocalEngineId(&length);
      fprintf(stderr, "SNMPv3: %zu user(s); informs to engine ID %s\n", users.size(),
              EngineIdText(engine, length).c_str());
   }
   fprintf(stderr, "Listening for traps on %s\n", where.c_str());
   fflush(stderr);
   uint64_t received = 0;
   /* The time-out runs from the start and from each trap shown, on the
      monotonic clock: a datagram that is dropped or no trap does not end
      the wait, nor does it extend it. */
   const bool limited = timeout != 0xFFFFFFFF;
   auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
   while (count == 0 || received < count)
   {
      uint32_t wait = 0xFFFFFFFF;
      if (limited)
      {
         auto left = std::chrono::ceil<std::chrono::milliseconds>(
             deadline - std::chrono::steady_clock::now());
         if (left.count() <= 0)
         {
            fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(SNMP_RC_TIMEOUT));
            return EXIT_FAILURE_SNMP;
         }
         wait = (uint32_t)left.count();
      }
      SNMP_PDU *pdu = nullptr;
      struct sockaddr_storage from;
      socklen_t fromLen = sizeof(from);
      int n = listener.Read(&pdu, wait, (struct sockaddr *)&from, &fromLen);
      if (n < 0)
      {
         fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(SNMP_RC_COMM_ERROR));
         return EXIT_FAILURE_SNMP;
      }
      uint32_t security = listener.GetSecurityStatus();
      // A time-window Report is how a v3 sender learns this engine's time: routine.
      if (n == 0 && security != SNMP_RC_SUCCESS && security != SNMP_RC_NOT_IN_TIME_WINDOW)
         fprintf(stderr, "zbsnmp: SNMPv3 message from %s dropped: %s\n",
                 SenderText(from, fromLen).c_str(), SNMPGetErrorText(security));
      if (n == 0)
         continue;  // nothing came in time, or a datagram that is no message
      std::unique_ptr<SNMP_PDU> trap(pdu);
      std::string sender = SenderText(from, fromLen);
      if (!trap)
      {
         fprintf(stderr, "zbsnmp: %s (%d bytes from %s)\n", SNMPGetErrorText(SNMP_RC_PARSE_ERROR),
                 n, sender.c_str());
         continue;
      }
      bool inform = trap->GetCommand() == SNMP_CMD_INFORM_REQUEST;
      if (trap->GetCommand() != SNMP_CMD_TRAP && !inform)
         continue;  // not a notification: requests and responses are not ours to show
      // The sender waits for the acknowledgement: answer before printing.
      if (inform && listener.AcknowledgeInform(trap.get(), (struct sockaddr *)&from, fromLen) <= 0)
         fprintf(stderr, "zbsnmp: could not acknowledge the inform from %s: %s\n", sender.c_str(),
                 strerror(errno));
      received++;
      if (limited)
         deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
      if (trap->GetVersion() == SNMP_VERSION_3)
      {
         uint32_t length = 0;
         const uint8_t *engine = trap->GetEngineId(&length);
         printf("%s from %s: version 3, user \"%s\", %s, engine ID %s, context \"%s\"\n",
                inform ? "Inform" : "Trap", sender.c_str(), trap->GetUser(),
                SecurityLevelName(trap->GetSecurityLevel()), EngineIdText(engine, length).c_str(),
                trap->GetContextName());
      }
      else
         printf("%s from %s: version %s, community \"%s\"\n", inform ? "Inform" : "Trap",
                sender.c_str(), trap->GetVersion() == SNMP_VERSION_1 ? "1" : "2c",
                trap->GetCommunity());
      printf("  trap OID %s, generic %d (%s), specific %d\n", OidName(trap->GetTrapId()).c_str(),
             trap->GetTrapType(), GenericTrapName(trap->GetTrapType()), trap->GetSpecificTrapType());
      for (uint32_t i = 0; i < trap->GetNumVariables(); i++)
      {
         printf("  ");
         PrintBinding(trap->GetVariable(i));
      }
      fflush(stdout);
   }
   return EXIT_OK;
}
