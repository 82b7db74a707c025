// traps: a listener that prints every trap it receives.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>

#include "cli.h"

static const char *GenericTrapName(int type)
{
   static const char *const names[] = {"coldStart", "warmStart", "linkDown", "linkUp",
                                       "authenticationFailure", "egpNeighborLoss",
                                       "enterpriseSpecific"};
   return (type >= 0 && type <= 6) ? names[type] : "unknown";
}

int CmdTraps(int argc, char **argv)
{
   uint64_t port = 162, count = 0, timeout = 0xFFFFFFFF;
   std::string mibFile;
   bool numericOids = false;
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
      else
      {
         return UsageError("unknown option " + a, "traps");
      }
   }
   int loaded = LoadMibTree(mibFile, numericOids);
   if (loaded != EXIT_OK)
      return loaded;
   int s = socket(AF_INET, SOCK_DGRAM, 0);
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_ANY);
   sa.sin_port = htons((uint16_t)port);
   if (s < 0 || bind(s, (struct sockaddr *)&sa, sizeof(sa)) != 0)
   {
      fprintf(stderr, "zbsnmp: cannot listen on UDP port %u: %s\n", (unsigned)port, strerror(errno));
      if (s >= 0)
         close(s);
      return EXIT_FAILURE_SNMP;
   }
   SNMP_UDPTransport listener(s);
   fprintf(stderr, "Listening for traps on UDP port %u\n", (unsigned)port);
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
      struct sockaddr_in from;
      socklen_t fromLen = sizeof(from);
      int n = listener.Read(&pdu, wait, (struct sockaddr *)&from, &fromLen);
      if (n < 0)
      {
         fprintf(stderr, "zbsnmp: %s\n", SNMPGetErrorText(SNMP_RC_COMM_ERROR));
         return EXIT_FAILURE_SNMP;
      }
      if (n == 0)
         continue;  // nothing came in time, or a datagram that is no message
      std::unique_ptr<SNMP_PDU> trap(pdu);
      char addr[INET_ADDRSTRLEN] = "?";
      inet_ntop(AF_INET, &from.sin_addr, addr, sizeof(addr));
      if (!trap)
      {
         fprintf(stderr, "zbsnmp: %s (%d bytes from %s:%u)\n", SNMPGetErrorText(SNMP_RC_PARSE_ERROR),
                 n, addr, ntohs(from.sin_port));
         continue;
      }
      if (trap->GetCommand() != SNMP_CMD_TRAP)
         continue;  // not a trap: requests and responses are not ours to show
      received++;
      if (limited)
         deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
      printf("Trap from %s:%u: version %s, community \"%s\"\n", addr, ntohs(from.sin_port),
             trap->GetVersion() == SNMP_VERSION_1 ? "1" : "2c", trap->GetCommunity());
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
