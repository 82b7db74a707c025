// One side of the MIB load comparison, as a process of its own that links
// only its own library (no counting allocator, nothing else loaded), so that
// both sides start alike and are timed alike.
//
//   zbsnmp_mib_load FILE [N]      N loads of FILE (1: one, in a fresh process)
//   netsnmp_mib_parse DIR...      Net-SNMP's parse of the modules in DIRs
//
// Each load prints one line: wall and CPU microseconds of the load alone
// (CPU: this process's user and system time, page faults included), and the
// nodes of the tree. netsnmp_mib_parse adds the time of indexing the folders
// (add_mibdir), which is not part of the parse.
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vector>

static double Micros(clockid_t clock)
{
   struct timespec t;
   clock_gettime(clock, &t);
   return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

#ifdef NETSNMP_SIDE
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

int main(int argc, char **argv)
{
   setenv("MIBS", "", 1);
   setenv("MIBDIRS", "", 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
   netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
   netsnmp_init_mib_internals();
   double i0 = Micros(CLOCK_MONOTONIC);
   for (int i = 1; i < argc; i++)
      if (add_mibdir(argv[i]) <= 0)
         return 1;
   double w0 = Micros(CLOCK_MONOTONIC), c0 = Micros(CLOCK_PROCESS_CPUTIME_ID);
   struct tree *tree = read_all_mibs();
   double w1 = Micros(CLOCK_MONOTONIC), c1 = Micros(CLOCK_PROCESS_CPUTIME_ID);
   if (tree == nullptr)
      return 1;
   unsigned long nodes = 0;
   std::vector<struct tree *> stack = {tree};
   while (!stack.empty())
   {
      struct tree *t = stack.back();
      stack.pop_back();
      for (; t != nullptr; t = t->next_peer)
      {
         nodes++;
         if (t->child_list != nullptr)
            stack.push_back(t->child_list);
      }
   }
   printf("%.0f %.0f %lu %.0f\n", w1 - w0, c1 - c0, nodes, w0 - i0);
   return 0;
}
#else
#include "mib_tree_util.h"
#include "zbsnmp.h"

int main(int argc, char **argv)
{
   if (argc < 2)
      return 2;
   int loads = (argc > 2) ? atoi(argv[2]) : 1;
   for (int i = 0; i < loads; i++)
   {
      SNMP_MIBObject *tree = nullptr;
      double w0 = Micros(CLOCK_MONOTONIC), c0 = Micros(CLOCK_PROCESS_CPUTIME_ID);
      uint32_t rc = SNMPLoadMIBTree(argv[1], &tree);
      double w1 = Micros(CLOCK_MONOTONIC), c1 = Micros(CLOCK_PROCESS_CPUTIME_ID);
      if (rc != SNMP_RC_SUCCESS)
         return 1;
      printf("%.0f %.0f %llu\n", w1 - w0, c1 - c0, (unsigned long long)CountMibNodes(tree));
      delete tree;
   }
   return 0;
}
#endif
