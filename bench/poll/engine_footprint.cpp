// The request engine's memory per outstanding request: N GETs of five
// system-group OIDs sent to one agent that never answers (a bound socket),
// all outstanding at once; the resident set before and after, and what is
// left once the engine is gone.
//   engine_footprint [N]   (default 1000000)
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "zbsnmp.h"

static long ResidentKiB()
{
   FILE *f = fopen("/proc/self/statm", "r");
   long pages = 0, resident = 0;
   if (f != nullptr)
   {
      if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
         resident = 0;
      fclose(f);
   }
   return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

static void Done(uint32_t, SNMP_PDU *response, void *)
{
   delete response;
}

int main(int argc, char **argv)
{
   long n = (argc > 1) ? atol(argv[1]) : 1000000;
   int dead = socket(AF_INET, SOCK_DGRAM, 0);
   struct sockaddr_in sa;
   memset(&sa, 0, sizeof(sa));
   sa.sin_family = AF_INET;
   sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
   socklen_t len = sizeof(sa);
   if (dead < 0 || bind(dead, (struct sockaddr *)&sa, sizeof(sa)) != 0 ||
       getsockname(dead, (struct sockaddr *)&sa, &len) != 0)
   {
      perror("socket");
      return 1;
   }
   static const char *const oids[] = {".1.3.6.1.2.1.1.1.0", ".1.3.6.1.2.1.1.2.0", ".1.3.6.1.2.1.1.3.0",
                                      ".1.3.6.1.2.1.1.4.0", ".1.3.6.1.2.1.1.5.0"};
   long before = ResidentKiB();
   {
      SNMP_RequestEngine engine;
      engine.SetWindow((uint32_t)n);
      for (long i = 0; i < n; i++)
      {
         SNMP_PDU *pdu = new SNMP_PDU(SNMP_CMD_GET_REQUEST, "public", 0, SNMP_VERSION_2C);
         for (const char *oid : oids)
            pdu->BindVariable(new SNMP_Variable(oid));
         if (engine.Submit((struct sockaddr *)&sa, sizeof(sa), pdu, 60000, 1, 0, Done, nullptr) !=
             SNMP_RC_SUCCESS)
         {
            fprintf(stderr, "submit %ld failed\n", i);
            return 1;
         }
      }
      long queued = ResidentKiB();
      /* Send them all: the window holds every one. */
      while (engine.GetOutstandingCount() < (uint32_t)n)
         engine.Process();
      long outstanding = ResidentKiB();
      printf("| %ld GETs of 5 OIDs | queued: %.0f bytes each | outstanding: %.0f bytes each | %ld MiB in all |\n",
             n, (queued - before) * 1024.0 / n, (outstanding - before) * 1024.0 / n,
             (outstanding - before) / 1024);
   }
   malloc_trim(0); /* what was freed goes back to the system, so that it shows */
   printf("after the engine is gone: %ld KiB more than before\n", ResidentKiB() - before);
   close(dead);
   return 0;
}
