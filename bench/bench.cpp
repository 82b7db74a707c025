// libzbsnmp and Net-SNMP's libnetsnmp side by side: the same work in the same
// process, alternating. Prints each pair and its ratio (> 1: libzbsnmp faster).
//   zbsnmp_bench [--short] [--walks] [--mib-only] [--fixtures DIR] [--mibs DIR]
//   (--walks: only the whole-agent walks; --mib-only: only the MIB tree rows)
#include <benchmark/benchmark.h>
#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench_util.h"
#include "mib_tree_util.h"
#include "snmpd_agent.h"
#include "socket_util.h"
#include "zbsnmp.h"

// ---- Counting allocator: every malloc of both libraries goes through here ----

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

static bool g_counting = false;
static uint64_t g_allocs = 0, g_bytes = 0;

extern "C" void *malloc(size_t n)
{
   if (g_counting)
   {
      g_allocs++;
      g_bytes += n;
   }
   return __libc_malloc(n);
}
extern "C" void *calloc(size_t a, size_t b)
{
   if (g_counting)
   {
      g_allocs++;
      g_bytes += a * b;
   }
   return __libc_calloc(a, b);
}
extern "C" void *realloc(void *p, size_t n)
{
   if (g_counting)
   {
      g_allocs++;
      g_bytes += n;
   }
   return __libc_realloc(p, n);
}
extern "C" void free(void *p)
{
   __libc_free(p);
}

using Clock = std::chrono::steady_clock;

static std::vector<uint8_t> Hex(const std::string &s)
{
   std::vector<uint8_t> out;
   for (size_t i = 0; i + 1 < s.size(); i += 2)
      out.push_back((uint8_t)strtoul(s.substr(i, 2).c_str(), nullptr, 16));
   return out;
}

struct Message
{
   std::string name;
   std::vector<uint8_t> bytes;
};

// ---- Net-SNMP side ----

static netsnmp_session g_session;

static void NetSnmpInit()
{
   setenv("MIBS", "", 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
   init_snmp("zbsnmpbench");
   snmp_sess_init(&g_session);
   /* Any version: a v2c session would refuse the v1 trap. */
   g_session.version = SNMP_DEFAULT_VERSION;
   g_session.community = (u_char *)"public";
   g_session.community_len = 6;
}

static netsnmp_pdu *NetSnmpParse(const Message &m)
{
   netsnmp_pdu *pdu = (netsnmp_pdu *)calloc(1, sizeof(netsnmp_pdu));
   pdu->transport_data = nullptr;
   std::vector<uint8_t> copy = m.bytes;  // snmp_parse may write into its input
   if (snmp_parse(nullptr, &g_session, pdu, copy.data(), copy.size()) != 0)
   {
      snmp_free_pdu(pdu);
      return nullptr;
   }
   return pdu;
}

// ---- Codec operations (one call = one operation) ----

static void OursDecode(const Message &m)
{
   SNMP_PDU *pdu = new SNMP_PDU();
   int ok = pdu->Parse(m.bytes.data(), (uint32_t)m.bytes.size());
   benchmark::DoNotOptimize(ok);
   delete pdu;
}

static void TheirsDecode(const Message &m)
{
   netsnmp_pdu *pdu = (netsnmp_pdu *)calloc(1, sizeof(netsnmp_pdu));
   int rc = snmp_parse(nullptr, &g_session, pdu, (u_char *)m.bytes.data(), m.bytes.size());
   benchmark::DoNotOptimize(rc);
   snmp_free_pdu(pdu);
}

static void OursEncode(SNMP_PDU *pdu)
{
   uint8_t *out = nullptr;
   uint32_t n = pdu->Encode(&out);
   benchmark::DoNotOptimize(n);
   free(out);
}

static void TheirsEncode(netsnmp_pdu *pdu)
{
   size_t len = 2048, offset = 0;
   u_char *buf = (u_char *)malloc(len);
   int rc = snmp_build(&buf, &len, &offset, &g_session, pdu);
   benchmark::DoNotOptimize(rc);
   free(buf);
}

// What a caller has to build a message from: names, types and values.
struct Binding
{
   std::vector<uint32_t> name;
   std::vector<oid> netName;
   uint32_t type;
   std::string text;                   // the value as text (our setter takes text)
   std::vector<uint8_t> raw;           // the value as Net-SNMP takes it
};

struct BuildRecipe
{
   uint32_t command, version, requestId;
   std::vector<Binding> bindings;
   bool trap;
};

static BuildRecipe Recipe(SNMP_PDU *pdu)
{
   BuildRecipe r;
   r.command = pdu->GetCommand();
   r.version = pdu->GetVersion();
   r.requestId = pdu->GetRequestId();
   r.trap = (pdu->GetCommand() == SNMP_CMD_TRAP);
   for (uint32_t i = 0; i < pdu->GetNumVariables(); i++)
   {
      SNMP_Variable *v = pdu->GetVariable(i);
      Binding b;
      b.name.assign(v->GetName()->GetValue(), v->GetName()->GetValue() + v->GetName()->Length());
      b.netName.assign(b.name.begin(), b.name.end());
      b.type = v->GetType();
      char buf[512];
      b.text = v->GetValueAsString(buf, sizeof(buf));
      if (b.type == ASN_TYPE_COUNTER64)
      {
         uint64_t x;
         memcpy(&x, v->GetValue(), 8);
         struct counter64 c = {(u_long)(x >> 32), (u_long)(x & 0xFFFFFFFF)};
         b.raw.assign((uint8_t *)&c, (uint8_t *)&c + sizeof(c));
      }
      else if (b.type == ASN_TYPE_OBJECT_ID)
      {
         std::vector<oid> o(v->GetValueLength() / 4);
         for (size_t k = 0; k < o.size(); k++)
            o[k] = ((const uint32_t *)v->GetValue())[k];
         b.raw.assign((uint8_t *)o.data(), (uint8_t *)(o.data() + o.size()));
      }
      else if (b.type == ASN_TYPE_INTEGER || b.type == ASN_TYPE_COUNTER32 ||
               b.type == ASN_TYPE_GAUGE32 || b.type == ASN_TYPE_TIMETICKS)
      {
         long x = (b.type == ASN_TYPE_INTEGER) ? (long)v->GetValueAsInt() : (long)v->GetValueAsUInt();
         b.raw.assign((uint8_t *)&x, (uint8_t *)&x + sizeof(x));
      }
      else if (v->GetValueLength() > 0)
      {
         b.raw.assign(v->GetValue(), v->GetValue() + v->GetValueLength());
      }
      r.bindings.push_back(b);
   }
   return r;
}

static void OursBuild(const BuildRecipe &r)
{
   SNMP_PDU pdu(r.command, "public", r.requestId, r.version);
   for (const Binding &b : r.bindings)
   {
      SNMP_Variable *v = new SNMP_Variable(b.name.data(), (uint32_t)b.name.size());
      if (b.type != ASN_TYPE_NULL)
         v->SetValueFromString(b.type, b.text.c_str());
      pdu.BindVariable(v);
   }
   uint8_t *out = nullptr;
   uint32_t n = pdu.Encode(&out);
   benchmark::DoNotOptimize(n);
   free(out);
}

static void TheirsBuild(const BuildRecipe &r)
{
   static const int kCommands[] = {SNMP_MSG_GET, SNMP_MSG_GETNEXT, SNMP_MSG_RESPONSE, SNMP_MSG_SET,
                                   SNMP_MSG_TRAP2};
   netsnmp_pdu *pdu = snmp_pdu_create(kCommands[r.command < 4 ? r.command : 4]);
   pdu->version = (r.version == SNMP_VERSION_1) ? SNMP_VERSION_1 : SNMP_VERSION_2c;
   pdu->reqid = r.requestId;
   for (const Binding &b : r.bindings)
      snmp_pdu_add_variable(pdu, b.netName.data(), b.netName.size(), (u_char)b.type,
                            b.raw.empty() ? nullptr : b.raw.data(), b.raw.size());
   size_t len = 2048, offset = 0;
   u_char *buf = (u_char *)malloc(len);
   int rc = snmp_build(&buf, &len, &offset, &g_session, pdu);
   benchmark::DoNotOptimize(rc);
   free(buf);
   snmp_free_pdu(pdu);
}

struct Allocs
{
   uint64_t count, bytes;
};

template <typename F> static Allocs CountAllocs(F f)
{
   f();  // warm up
   g_allocs = g_bytes = 0;
   g_counting = true;
   f();
   g_counting = false;
   return {g_allocs, g_bytes};
}

static std::string Fixed(double v, int digits = 2)
{
   char buf[64];
   snprintf(buf, sizeof(buf), "%.*f", digits, v);
   return buf;
}

// ---- snmpd for the exchange benchmarks ----

static void OursExchange(uint16_t port, uint32_t maxRequests, double maxSeconds,
                         std::vector<double> *latencies)
{
   SNMP_UDPTransport t;
   t.CreateUDPTransport("127.0.0.1", 0, port);
   std::vector<double> &lat = *latencies;
   auto start = Clock::now();
   for (uint32_t i = 0; i < maxRequests && Seconds(Clock::now() - start) < maxSeconds; i++)
   {
      auto t0 = Clock::now();
      SNMP_PDU req(SNMP_CMD_GET_REQUEST, "public", i + 1, SNMP_VERSION_2C);
      req.BindVariable(new SNMP_Variable(".1.3.6.1.2.1.1.1.0"));
      SNMP_PDU *resp = nullptr;
      if (t.DoRequest(&req, &resp, 1000, 3) != SNMP_RC_SUCCESS)
         break;
      delete resp;
      lat.push_back(Seconds(Clock::now() - t0));
   }
}

static void TheirsExchange(uint16_t port, uint32_t maxRequests, double maxSeconds,
                           std::vector<double> *latencies)
{
   netsnmp_session s;
   snmp_sess_init(&s);
   std::string peer = "udp:127.0.0.1:" + std::to_string(port);
   s.peername = (char *)peer.c_str();
   s.version = SNMP_VERSION_2c;
   s.community = (u_char *)"public";
   s.community_len = 6;
   s.timeout = 1000000;
   s.retries = 2;
   netsnmp_session *ss = snmp_open(&s);
   std::vector<double> &lat = *latencies;
   oid name[] = {1, 3, 6, 1, 2, 1, 1, 1, 0};
   auto start = Clock::now();
   for (uint32_t i = 0; ss && i < maxRequests && Seconds(Clock::now() - start) < maxSeconds; i++)
   {
      auto t0 = Clock::now();
      netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
      snmp_add_null_var(pdu, name, 9);
      netsnmp_pdu *resp = nullptr;
      if (snmp_synch_response(ss, pdu, &resp) != STAT_SUCCESS)
         break;
      snmp_free_pdu(resp);
      lat.push_back(Seconds(Clock::now() - t0));
   }
   if (ss)
      snmp_close(ss);
}

// Runs a command, counting its output lines; returns seconds.
static double TimeCommand(const std::string &cmd, size_t *lines)
{
   auto t0 = Clock::now();
   FILE *p = popen(cmd.c_str(), "r");
   *lines = 0;
   char buf[4096];
   while (p && fgets(buf, sizeof(buf), p))
      if (buf[0] == '.')
         (*lines)++;
   if (p)
      pclose(p);
   return Seconds(Clock::now() - t0);
}

static double MedianOf(std::vector<double> v);

// ---- Whole-agent walks ----

// Walks the whole agent in this process with SNMP_Walker (max-repetitions
// 0: GET-NEXT); the bindings, or 0.
static size_t WalkInProcess(uint16_t port, uint32_t maxRepetitions, uint32_t *requests)
{
   SNMP_UDPTransport t;
   if (t.ConnectUDPTransport("127.0.0.1", port) != SNMP_RC_SUCCESS)
      return 0;
   SNMP_Walker walker(&t, SNMP_VERSION_2C, "public");
   walker.SetGetNext(maxRepetitions == 0);
   if (maxRepetitions > 0)
      walker.SetMaxRepetitions(maxRepetitions);
   const uint32_t root[] = {1};
   uint32_t rc = walker.Start(root, 1);
   size_t bindings = 0;
   SNMP_Variable *v = nullptr;
   while (rc == SNMP_RC_SUCCESS && (rc = walker.Next(&v)) == SNMP_RC_SUCCESS && v != nullptr)
      bindings++;
   *requests = walker.GetRequestCount();
   return rc == SNMP_RC_SUCCESS ? bindings : 0;
}

// A UDP relay on 127.0.0.1 between one client and the agent that holds every
// datagram for half the round-trip time it is given, each way: the agent as
// if it were a network hop away. Stops when destroyed.
class DelayRelay
{
public:
   DelayRelay(uint16_t agentPort, double roundTripSeconds) : m_halfTrip(roundTripSeconds / 2)
   {
      m_front = BoundSocket(&m_port);
      uint16_t unused;
      m_back = BoundSocket(&unused);
      struct sockaddr_in agent;
      memset(&agent, 0, sizeof(agent));
      agent.sin_family = AF_INET;
      agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      agent.sin_port = htons(agentPort);
      connect(m_back, (struct sockaddr *)&agent, sizeof(agent));
      m_thread = std::thread([this] { Run(); });
   }
   ~DelayRelay()
   {
      m_stop = true;
      m_thread.join();
      close(m_front);
      close(m_back);
   }
   uint16_t Port() const { return m_port; }

private:
   struct Held
   {
      Clock::time_point due;
      bool toAgent;
      std::vector<uint8_t> bytes;
   };
   void Run()
   {
      std::deque<Held> held;  // in order of arrival, and so of due time
      struct sockaddr_in client;
      socklen_t clientLen = 0;
      uint8_t buf[65536];
      auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_halfTrip));
      while (!m_stop)
      {
         while (!held.empty() && held.front().due <= Clock::now())
         {
            Held &h = held.front();
            if (h.toAgent)
               send(m_back, h.bytes.data(), h.bytes.size(), 0);
            else if (clientLen > 0)
               sendto(m_front, h.bytes.data(), h.bytes.size(), 0, (struct sockaddr *)&client, clientLen);
            held.pop_front();
         }
         // Wait for a datagram or until the next held one is due (microseconds).
         Clock::duration wait = std::chrono::milliseconds(20);
         if (!held.empty())
            wait = std::max(Clock::duration(0), held.front().due - Clock::now());
         auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
         struct timespec ts = {(time_t)(ns / 1000000000), (long)(ns % 1000000000)};
         struct pollfd fds[2] = {{m_front, POLLIN, 0}, {m_back, POLLIN, 0}};
         if (ppoll(fds, 2, &ts, nullptr) <= 0)
            continue;
         if (fds[0].revents & POLLIN)
         {
            clientLen = sizeof(client);
            ssize_t n = recvfrom(m_front, buf, sizeof(buf), 0, (struct sockaddr *)&client, &clientLen);
            if (n > 0)
               held.push_back({Clock::now() + delay, true, std::vector<uint8_t>(buf, buf + n)});
         }
         if (fds[1].revents & POLLIN)
         {
            ssize_t n = recv(m_back, buf, sizeof(buf), 0);
            if (n > 0)
               held.push_back({Clock::now() + delay, false, std::vector<uint8_t>(buf, buf + n)});
         }
      }
   }
   double m_halfTrip;
   int m_front, m_back;
   uint16_t m_port = 0;
   std::atomic<bool> m_stop{false};
   std::thread m_thread;
};

// SNMP_Walker's whole-agent walks over a relay that makes the agent a
// network hop away (0.5 ms round trip, a LAN): GETBULK against GET-NEXT.
static void RelayWalkBench(const SnmpdAgent &agent, int rounds)
{
   DelayRelay relay(agent.Port(), 0.0005);
   printf("| whole-agent walk, SNMP_Walker, agent 0.5 ms round trip away | time | bindings | requests | speed-up over GET-NEXT |\n|---|---|---|---|---|\n");
   const uint32_t kRepetitions[] = {10, 25, 50, 0};
   std::vector<double> times[4];
   size_t bindings[4] = {0, 0, 0, 0};
   uint32_t requests[4] = {0, 0, 0, 0};
   for (int i = 0; i < rounds; i++)
      for (int k = 0; k < 4; k++)
      {
         auto t0 = Clock::now();
         bindings[k] = WalkInProcess(relay.Port(), kRepetitions[k], &requests[k]);
         times[k].push_back(Seconds(Clock::now() - t0));
      }
   for (int k = 0; k < 4; k++)
   {
      std::string name = kRepetitions[k] ? "GETBULK, max-repetitions " + std::to_string(kRepetitions[k])
                                         : std::string("GET-NEXT");
      printf("| %s | %.3f s | %zu | %u | %sx |\n", name.c_str(), MedianOf(times[k]), bindings[k],
             requests[k], Fixed(MedianOf(times[3]) / MedianOf(times[k])).c_str());
   }
   printf("\n");
}

// The whole agent walked by the tools (zbsnmp walk against snmpbulkwalk with
// the same max-repetitions, and both GET-NEXT walks) and in process, in
// alternating rounds; medians of the rounds. snmpd refreshes its caches
// (process and socket tables) now and then, which makes single walks vary.
// Pinned: the walkers (and their child processes) and the agent share one
// CPU, which keeps the figures steadier on a shared machine and makes each
// round trip cheaper than across CPUs.
static void WalkBench(const SnmpdAgent &agent, int rounds, bool pinned)
{
   Pin(0, pinned ? 0 : -1);
   Pin(agent.Pid(), pinned ? 0 : -1);
   const char *mode = pinned ? "pinned" : "unpinned";
   // A first walk fills the agent's caches (the installed-software table
   // reads the package database): it takes seconds, and is not timed.
   uint32_t warmRequests;
   WalkInProcess(agent.Port(), 50, &warmRequests);
   printf("| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
   std::string addr = agent.Address();
   std::string env = "env MIBS= SNMPCONFPATH=" + agent.Dir() + " SNMP_PERSISTENT_DIR=" + agent.Dir();
   const uint32_t kRepetitions[] = {10, 25, 50};
   struct Walk
   {
      uint32_t maxRepetitions;  // 0: GET-NEXT
      std::string ours, theirs;
      std::vector<double> ourTimes, theirTimes, inProcess;
      size_t ourLines = 0, theirLines = 0, bindings = 0;
      uint32_t requests = 0;
   };
   std::vector<Walk> walks;
   for (uint32_t n : kRepetitions)
      walks.push_back({n, std::string(ZBSNMP_TOOL) + " walk -Cr" + std::to_string(n) + " " + addr + " .1",
                       env + " snmpbulkwalk -v2c -c public -On -Cr" + std::to_string(n) + " " + addr +
                           " .1 2>/dev/null"});
   walks.push_back({0, std::string(ZBSNMP_TOOL) + " walk --getnext " + addr + " .1",
                    env + " snmpwalk -v2c -c public -On " + addr + " .1 2>/dev/null"});
   for (int i = 0; i < rounds; i++)
   {
      for (Walk &w : walks)
      {
         // Each side goes first in every other round.
         if (i % 2 == 0)
            w.ourTimes.push_back(TimeCommand(w.ours, &w.ourLines));
         w.theirTimes.push_back(TimeCommand(w.theirs, &w.theirLines));
         if (i % 2 == 1)
            w.ourTimes.push_back(TimeCommand(w.ours, &w.ourLines));
         auto t0 = Clock::now();
         w.bindings = WalkInProcess(agent.Port(), w.maxRepetitions, &w.requests);
         w.inProcess.push_back(Seconds(Clock::now() - t0));
      }
   }
   const Walk &next = walks.back();
   for (const Walk &w : walks)
   {
      double ours = MedianOf(w.ourTimes), theirs = MedianOf(w.theirTimes);
      if (w.maxRepetitions > 0)
         printf("| whole-agent walk, %s, GETBULK max-repetitions %u: zbsnmp walk vs snmpbulkwalk -v2c -On | %.3f s, %zu lines | %.3f s, %zu lines | %sx |\n",
                mode, w.maxRepetitions, ours, w.ourLines, theirs, w.theirLines, Fixed(theirs / ours).c_str());
      else
         printf("| whole-agent walk, %s, GET-NEXT: zbsnmp walk --getnext vs snmpwalk -v2c -On | %.3f s, %zu lines | %.3f s, %zu lines | %sx |\n",
                mode, ours, w.ourLines, theirs, w.theirLines, Fixed(theirs / ours).c_str());
   }
   printf("\n| zbsnmp walk of the whole agent, %s | tool | speed-up over GET-NEXT | SNMP_Walker in process | requests | speed-up over GET-NEXT |\n|---|---|---|---|---|---|\n",
          mode);
   for (const Walk &w : walks)
   {
      std::string name = w.maxRepetitions > 0 ? "GETBULK, max-repetitions " + std::to_string(w.maxRepetitions)
                                              : std::string("GET-NEXT");
      printf("| %s | %.3f s | %sx | %.3f s, %zu bindings | %u | %sx |\n", name.c_str(),
             MedianOf(w.ourTimes), Fixed(MedianOf(next.ourTimes) / MedianOf(w.ourTimes)).c_str(),
             MedianOf(w.inProcess), w.bindings, w.requests,
             Fixed(MedianOf(next.inProcess) / MedianOf(w.inProcess)).c_str());
   }
   printf("\n");
   Pin(0, -1);
   Pin(agent.Pid(), -1);
}

// ---- Trap intake ----

static void TrapIntake(const std::vector<uint8_t> &trap, uint32_t count)
{
   uint16_t port;
   int rx = BoundSocket(&port);
   int size = 16 << 20;
   setsockopt(rx, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
   SNMP_UDPTransport listener(rx);

   std::atomic<uint32_t> received{0};
   std::thread sender([&] {
      uint16_t unused;
      int tx = BoundSocket(&unused);
      for (uint32_t i = 0; i < count; i++)
      {
         // Keep at most ~2000 datagrams in flight so that the kernel drops none.
         while (i - received.load(std::memory_order_relaxed) > 2000)
            std::this_thread::yield();
         SendTo(tx, port, trap.data(), trap.size());
      }
      close(tx);
   });
   uint32_t parsed = 0, failed = 0;
   auto start = Clock::now();
   for (;;)
   {
      SNMP_PDU *pdu = nullptr;
      int n = listener.Read(&pdu, 1000, nullptr, nullptr);
      if (n <= 0)
         break;
      if (pdu != nullptr && pdu->GetCommand() == SNMP_CMD_TRAP)
         parsed++;
      else
         failed++;
      delete pdu;
      if (received.fetch_add(1, std::memory_order_relaxed) + 1 == count)
         break;
   }
   double elapsed = Seconds(Clock::now() - start);
   sender.join();
   printf("| trap intake (v2c linkDown, %u sent) | %u parsed, %u failed | %.0f traps/s |\n", count,
          parsed, failed, parsed / elapsed);
}

// ---- MIB trees ----

static double MedianOf(std::vector<double> v)
{
   std::sort(v.begin(), v.end());
   return v.empty() ? 0 : v[v.size() / 2];
}

static double BestOf(const std::vector<double> &v)
{
   return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

// One Net-SNMP load of the modules, in a process of this program (so with
// its counting allocator): the way this row was measured first, kept to be
// shown beside the lean children. Only read_all_mibs() is timed. Prints
// "parse cpu nodes index" as netsnmp_mib_parse does.
static int NetSnmpMibChild(int dirs, char **dir)
{
   setenv("MIBS", "", 1);
   setenv("MIBDIRS", "", 1);
   netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
   netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
   netsnmp_init_mib_internals();
   auto t0 = Clock::now();
   for (int i = 0; i < dirs; i++)
      if (add_mibdir(dir[i]) <= 0)
         return 1;
   auto t1 = Clock::now();
   struct timespec c0, c1;
   clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
   struct tree *tree = read_all_mibs();
   clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
   auto t2 = Clock::now();
   if (tree == nullptr)
      return 1;
   double cpu = (c1.tv_sec - c0.tv_sec) * 1e6 + (c1.tv_nsec - c0.tv_nsec) / 1e3;
   printf("%.0f %.0f 0 %.0f\n", Seconds(t2 - t1) * 1e6, cpu, Seconds(t1 - t0) * 1e6);
   return 0;
}

// One load of our file in a process of this program (counting allocator
// linked in); prints "wall cpu 0" in microseconds, as zbsnmp_mib_load does.
static int ZbsnmpMibChild(const char *file)
{
   SNMP_MIBObject *tree = nullptr;
   struct timespec c0, c1;
   clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c0);
   auto t0 = Clock::now();
   uint32_t rc = SNMPLoadMIBTree(file, &tree);
   double us = Seconds(Clock::now() - t0) * 1e6;
   clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &c1);
   printf("%.0f %.0f 0\n", us, (c1.tv_sec - c0.tv_sec) * 1e6 + (c1.tv_nsec - c0.tv_nsec) / 1e3);
   delete tree;
   return rc == SNMP_RC_SUCCESS ? 0 : 1;
}

// A command run as its own process: wall and CPU seconds, peak resident set.
struct ProcessCost
{
   double wall = 0, cpu = 0;
   long peakKiB = 0;
   bool ok = false;
};

static ProcessCost RunMeasured(const std::string &command)
{
   ProcessCost cost;
   auto t0 = Clock::now();
   pid_t pid = fork();
   if (pid == 0)
   {
      execl("/bin/sh", "sh", "-c", ("exec " + command + " 2>/dev/null").c_str(), (char *)nullptr);
      _exit(127);
   }
   int status = 0;
   struct rusage ru;
   if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
      return cost;
   cost.wall = Seconds(Clock::now() - t0);
   cost.cpu = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
              ru.ru_stime.tv_usec / 1e6;
   cost.peakKiB = ru.ru_maxrss;
   cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
   return cost;
}

// The lines a child prints, each as its numbers; empty when it failed.
static std::vector<std::vector<double>> ChildLines(const std::string &command)
{
   std::vector<std::vector<double>> lines;
   FILE *p = popen((command + " 2>/dev/null").c_str(), "r");
   if (p == nullptr)
      return lines;
   char buf[256];
   while (fgets(buf, sizeof(buf), p) != nullptr)
   {
      std::vector<double> numbers;
      char *s = buf, *end;
      for (double v = strtod(s, &end); end != s; v = strtod(s, &end))
      {
         numbers.push_back(v);
         s = end;
      }
      lines.push_back(numbers);
   }
   if (pclose(p) != 0)
      lines.clear();
   return lines;
}

// Wall and CPU microseconds of the loads of one side.
struct LoadSeries
{
   std::vector<double> wall, cpu;
   unsigned long nodes = 0;
   void Add(const std::vector<double> &line)
   {
      if (line.size() < 3)
         return;
      wall.push_back(line[0]);
      cpu.push_back(line[1]);
      nodes = (unsigned long)line[2];
   }
};

// The MIB load comparison, every load in a fresh process of a program that
// links only its side's library: rounds of one Net-SNMP parse of the modules
// followed by one load of each file, so that both sides see the machine in
// the same state. Release builds only give figures worth reading.
struct MibRounds
{
   LoadSeries theirs;
   std::vector<LoadSeries> ours;
   std::vector<double> index;   // Net-SNMP's add_mibdir, not counted

   // bench: this program, to run both sides through it instead (its
   // counting allocator linked into both), else the lean children.
   void Run(const std::string &dir, const std::string &mibs, const std::vector<std::string> &files,
            int rounds, const std::string &bench = "")
   {
      std::string netsnmp = "env SNMPCONFPATH=" + dir + " SNMP_PERSISTENT_DIR=" + dir + " HOME=" + dir +
                            " " + (bench.empty() ? NETSNMP_MIB_PARSE : bench + " --netsnmp-mib-load") +
                            " " + mibs + "/rfc " + mibs + "/net-snmp";
      std::string zbsnmp = bench.empty() ? ZBSNMP_MIB_LOAD : bench + " --zbsnmp-mib-load";
      ours.resize(files.size());
      for (int r = 0; r < rounds; r++)
      {
         auto lines = ChildLines(netsnmp);
         if (!lines.empty() && lines[0].size() >= 4)
         {
            theirs.Add(lines[0]);
            index.push_back(lines[0][3]);
         }
         for (size_t f = 0; f < files.size(); f++)
         {
            lines = ChildLines(zbsnmp + " " + files[f]);
            if (!lines.empty())
               ours[f].Add(lines[0]);
         }
      }
   }
};

// "median us (best b), CPU c us": a side's figures for a table cell.
static std::string Cell(const LoadSeries &s)
{
   char buf[128];
   snprintf(buf, sizeof(buf), "%.0f us (best %.0f), CPU %.0f us", MedianOf(s.wall), BestOf(s.wall),
            MedianOf(s.cpu));
   return buf;
}

static std::string Ratio(const LoadSeries &theirs, const LoadSeries &ours)
{
   char buf[128];
   double mw = MedianOf(ours.wall), bw = BestOf(ours.wall), mc = MedianOf(ours.cpu);
   snprintf(buf, sizeof(buf), "%.1fx (best %.1fx; CPU %.1fx)", mw > 0 ? MedianOf(theirs.wall) / mw : 0,
            bw > 0 ? BestOf(theirs.wall) / bw : 0, mc > 0 ? MedianOf(theirs.cpu) / mc : 0);
   return buf;
}

static long long FileSize(const std::string &p)
{
   std::ifstream f(p, std::ios::binary | std::ios::ate);
   return (long long)f.tellg();
}

// Loads of one file in a loop in one process: the heap (and, in this
// program, the counting allocator) warm. Median of the loads after the first.
static double InProcessLoads(const std::string &file, int loads)
{
   std::vector<double> us;
   for (int i = 0; i <= loads; i++)
   {
      SNMP_MIBObject *t = nullptr;
      auto t0 = Clock::now();
      SNMPLoadMIBTree(file.c_str(), &t);
      if (i > 0)
         us.push_back(Seconds(Clock::now() - t0) * 1e6);
      delete t;
   }
   return MedianOf(us);
}

// The same in the lean loader: loads 2 to loads + 1 of one process.
static double LeanInProcessLoads(const std::string &file, int loads)
{
   std::vector<double> us;
   auto lines = ChildLines(std::string(ZBSNMP_MIB_LOAD) + " " + file + " " + std::to_string(loads + 1));
   for (size_t i = 1; i < lines.size(); i++)
      if (!lines[i].empty())
         us.push_back(lines[i][0]);
   return MedianOf(us);
}

// zbsnmp mib compile of the modules, with and without descriptions, and the
// load of the compiled tree (compressed, without descriptions) against
// Net-SNMP's parse of the same modules.
static void MibCompileBench(const std::string &self, const std::string &dir,
                            const std::string &mibs, int rounds)
{
   std::string compiled = dir + "/compiled.zbmib";
   std::string inputs = " " + mibs + "/rfc " + mibs + "/net-snmp";
   std::string tool = std::string(ZBSNMP_TOOL) + " mib compile -z ";
   for (bool descriptions : {false, true})
   {
      std::vector<double> wall, cpu, peak;
      bool ok = true;
      for (int i = 0; i < rounds; i++)
      {
         ProcessCost c = RunMeasured(tool + (descriptions ? "" : "--no-descriptions ") + "-o " +
                                     compiled + inputs);
         ok = ok && c.ok;
         wall.push_back(c.wall);
         cpu.push_back(c.cpu);
         peak.push_back((double)c.peakKiB);
      }
      if (!ok)
      {
         printf("| MIB compile | failed (no libsmi in this build?) | | |\n");
         return;
      }
      printf("| MIB compile, 463 modules, %s descriptions (zbsnmp mib compile -z) | %.3f s wall, "
             "%.3f s CPU, %.1f MiB peak | | |\n",
             descriptions ? "with" : "without", MedianOf(wall), MedianOf(cpu),
             MedianOf(peak) / 1024);
   }
   // The file of the last round has descriptions: compile the one to load.
   if (!RunMeasured(tool + "--no-descriptions -o " + compiled + inputs).ok)
      return;
   MibRounds r;
   r.Run(dir, mibs, {compiled}, 2 * rounds + 1);
   printf("| MIB load, compiled tree, %lu nodes, compressed, no descriptions (%lld bytes), one load "
          "per process, median of %zu | %s | parsing the same modules (%lu nodes): %s | %s |\n",
          r.ours[0].nodes, FileSize(compiled), r.ours[0].wall.size(), Cell(r.ours[0]).c_str(),
          r.theirs.nodes, Cell(r.theirs).c_str(), Ratio(r.theirs, r.ours[0]).c_str());
   // The same comparison measured the earlier way, both sides in processes
   // of this program (its counting allocator linked in); and our load in a
   // loop in one process, the heap warm, in this program and in the lean one.
   MibRounds b;
   b.Run(dir, mibs, {compiled}, 2 * rounds + 1, self);
   printf("| the same, both sides run by zbsnmp_bench (counting allocator linked in) | %s | %s | %s |\n",
          Cell(b.ours[0]).c_str(), Cell(b.theirs).c_str(), Ratio(b.theirs, b.ours[0]).c_str());
   double theirs = MedianOf(r.theirs.wall);
   double loop = InProcessLoads(compiled, 4 * rounds), lean = LeanInProcessLoads(compiled, 4 * rounds);
   printf("| the same load in a loop in one process (after a first load): zbsnmp_bench / the lean "
          "loader | %.0f us / %.0f us | | %.1fx / %.1fx |\n",
          loop, lean, theirs / loop, theirs / lean);
}

static void MibBench(const std::string &self, const std::string &fixtures, const std::string &mibs,
                     int rounds)
{
   std::string tsv = fixtures + "/netsnmp-mib-tree-rfc.tsv";
   if (access(tsv.c_str(), R_OK) != 0 || access(mibs.c_str(), R_OK) != 0)
   {
      printf("| MIB trees | skipped: %s or %s missing |\n", tsv.c_str(), mibs.c_str());
      return;
   }
#ifndef NDEBUG
   printf("| (not a Release build: the MIB figures below are not comparable) | | | |\n");
#endif
   char tmpl[] = "/tmp/zbsnmp-bench-mib-XXXXXX";
   std::string dir = mkdtemp(tmpl);
   std::string plain = dir + "/plain.zbmib", comp = dir + "/compressed.zbmib";
   std::string build = std::string(ZBSNMP_TOOL) + " mib build --no-descriptions ";
   if (system((build + tsv + " " + plain).c_str()) != 0 ||
       system((build + "-z " + tsv + " " + comp).c_str()) != 0)
   {
      printf("| MIB trees | could not build the files |\n");
      return;
   }
   MibRounds r;
   r.Run(dir, mibs, {plain, comp}, 2 * rounds + 1);
   const char *kind[] = {"plain", "compressed"};
   const std::string files[] = {plain, comp};
   for (int i = 0; i < 2; i++)
      printf("| MIB load, %lu nodes, %s (%lld bytes), one load per process, median of %zu | %s | "
             "parsing the modules: %s | %s |\n",
             r.ours[i].nodes, kind[i], FileSize(files[i]), r.ours[i].wall.size(),
             Cell(r.ours[i]).c_str(), Cell(r.theirs).c_str(), Ratio(r.theirs, r.ours[i]).c_str());
   printf("| Net-SNMP: nodes of its parsed tree; indexing the module folders (add_mibdir, not "
          "counted above) | | %lu nodes; %.0f us | |\n",
          r.theirs.nodes, MedianOf(r.index));
   printf("| MIB load in a loop in one process (after a first load), plain / compressed | %.0f us / "
          "%.0f us | | |\n",
          InProcessLoads(plain, 4 * rounds), InProcessLoads(comp, 4 * rounds));

   SNMP_MIBObject *tree = nullptr;
   SNMPLoadMIBTree(plain.c_str(), &tree);
   uint64_t nodes = r.ours[0].nodes ? r.ours[0].nodes : 1;
   std::vector<double> savePlain, saveComp;
   for (int i = 0; tree != nullptr && i < rounds; i++)
      for (auto [flags, out] : {std::pair{0u, &savePlain}, std::pair{1u, &saveComp}})
      {
         auto t0 = Clock::now();
         SNMPSaveMIBTree((dir + "/again").c_str(), tree, MIB_SAVE_NO_DESCRIPTIONS | flags);
         out->push_back(Seconds(Clock::now() - t0) * 1e6);
      }
   delete tree;
   printf("| MIB save, plain / compressed | %.0f us / %.0f us (%.3f / %.3f us/node) | | |\n",
          MedianOf(savePlain), MedianOf(saveComp), MedianOf(savePlain) / nodes,
          MedianOf(saveComp) / nodes);
   MibCompileBench(self, dir, mibs, rounds);
   std::string rm = "rm -rf " + dir;
   if (system(rm.c_str()) != 0)
      fprintf(stderr, "could not remove %s\n", dir.c_str());
}

// ---- MIB names ----

/* Net-SNMP's tree of the shipped modules, indexed once for the translation
   rows; a 12-arc OID and its name. */
static SNMP_MIBTranslator *g_names = nullptr;
static const uint32_t kNameOid[] = {1, 3, 6, 1, 2, 1, 31, 1, 1, 1, 6, 3};   // ifHCInOctets.3
static char g_nameText[256];

static void OursOidToName(benchmark::State &s)
{
   char text[256];
   for (auto _ : s)
      benchmark::DoNotOptimize(g_names->OIDToText(kNameOid, 12, text, sizeof(text), 0));
}

static void OursNameToOid(benchmark::State &s)
{
   uint32_t ids[128];
   for (auto _ : s)
      benchmark::DoNotOptimize(g_names->TextToOID(g_nameText, ids, 128));
}

static void NamesSetup(const std::string &tsv)
{
   SNMP_MIBObject *root = BuildMibTreeFromTsv(tsv);
   if (root == nullptr)
      return;
   g_names = new SNMP_MIBTranslator();
   g_names->SetTree(root, true);
   g_names->OIDToText(kNameOid, 12, g_nameText, sizeof(g_nameText), 0);
   benchmark::RegisterBenchmark("names/oid_to_name/ours", OursOidToName);
   benchmark::RegisterBenchmark("names/name_to_oid/ours", OursNameToOid);
}

/* The tree file the tool loads: compiled from the modules when this build's
   tool can, else Net-SNMP's tree of them saved from the table (a stand-in
   with the same nodes). */
static std::string NamesTreeFile(const std::string &dir, const std::string &mibs,
                                 const std::string &tsv, std::string *kind)
{
   std::string file = dir + "/names.zbmib";
   std::string compile = std::string(ZBSNMP_TOOL) + " mib compile -z --no-descriptions -o " + file +
                         " " + mibs + "/rfc " + mibs + "/net-snmp >/dev/null 2>&1";
   if (system(compile.c_str()) == 0 || access(file.c_str(), R_OK) == 0)
   {
      *kind = "compiled from the modules";
      return file;
   }
   SNMP_MIBObject *root = BuildMibTreeFromTsv(tsv);
   if (root == nullptr)
      return "";
   SNMPSaveMIBTree(file.c_str(), root, MIB_SAVE_COMPRESS | MIB_SAVE_NO_DESCRIPTIONS);
   delete root;
   *kind = "Net-SNMP's tree from the table (stand-in)";
   return file;
}

static void NamesBench(const Collector &collector, const std::string &tsv, bool quick)
{
   printf("\n## MIB names\n\n| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
   if (g_names == nullptr)
   {
      printf("| MIB names | skipped: %s missing | | |\n", tsv.c_str());
      return;
   }
   uint32_t ids[128];
   uint32_t n = g_names->TextToOID(g_nameText, ids, 128);
   bool ok = n == 12 && memcmp(ids, kNameOid, sizeof(kNameOid)) == 0;
   for (const char *row : {"oid_to_name", "name_to_oid"})
   {
      auto it = collector.nsPerOp.find(std::string("names/") + row + "/ours");
      if (it != collector.nsPerOp.end())
         printf("| %s, 12 arcs (.1.3.6.1.2.1.31.1.1.1.6.3 %s %s)%s | %.0f ns | | |\n",
                !strcmp(row, "oid_to_name") ? "OID to name" : "name to OID",
                !strcmp(row, "oid_to_name") ? "->" : "<-", g_nameText,
                ok ? "" : " (round trip FAILED)", it->second);
   }
   std::string mibs = std::string(ZBSNMP_SOURCE_DIR) + "/mibs";
   char tmpl[] = "/tmp/zbsnmp-bench-names-XXXXXX";
   std::string dir = mkdtemp(tmpl);
   std::string kind;
   std::string file = NamesTreeFile(dir, mibs, tsv, &kind);
   std::vector<double> loads;
   for (int i = 0; i < (quick ? 3 : 11); i++)
   {
      SNMP_MIBTranslator t;
      auto t0 = Clock::now();
      t.LoadTree(file.c_str());
      loads.push_back(Seconds(Clock::now() - t0) * 1e6);
   }
   printf("| load and index the tree file (%s, compressed) | %.0f us | | |\n", kind.c_str(),
          MedianOf(loads));
   SnmpdAgent agent;
   if (!agent.Start())
   {
      printf("| zbsnmp get -m TREE | skipped: snmpd did not start | | |\n");
      return;
   }
   std::string ours = std::string(ZBSNMP_TOOL) + " get -m " + file + " " + agent.Address() +
                      " sysDescr.0 2>&1";
   std::string theirs = "env MIBS=ALL MIBDIRS=" + mibs + "/rfc:" + mibs + "/net-snmp SNMPCONFPATH=" +
                        dir + " SNMP_PERSISTENT_DIR=" + dir + " HOME=" + dir +
                        " snmpget -v2c -c public " + agent.Address() + " sysDescr.0 2>/dev/null";
   std::vector<double> a, b;
   std::string ourLine, theirLine;
   for (int i = 0; i < (quick ? 3 : 11); i++)
   {
      for (auto [cmd, times, line] : {std::tuple{&ours, &a, &ourLine}, std::tuple{&theirs, &b, &theirLine}})
      {
         auto t0 = Clock::now();
         FILE *p = popen(cmd->c_str(), "r");
         char buf[512] = "";
         if (p && fgets(buf, sizeof(buf), p))
            *line = buf;
         if (p)
            pclose(p);
         times->push_back(Seconds(Clock::now() - t0) * 1e3);
      }
   }
   double ma = MedianOf(a), mb = MedianOf(b);
   auto chomp = [](std::string s) { return s.substr(0, s.find('\n')); };
   printf("| `zbsnmp get -m TREE host sysDescr.0`, whole process (median of %zu; tree %s) | %.1f ms (%s) | snmpget, MIBS=ALL: %.1f ms (%s) | %.1fx |\n",
          a.size(), kind.c_str(), ma, chomp(ourLine).c_str(), mb, chomp(theirLine).c_str(), mb / ma);
   agent.Stop();
   std::string rm = "rm -rf " + dir;
   if (system(rm.c_str()) != 0)
      fprintf(stderr, "could not remove %s\n", dir.c_str());
}

int main(int argc, char **argv)
{
   if (argc >= 3 && !strcmp(argv[1], "--netsnmp-mib-load"))
      return NetSnmpMibChild(argc - 2, argv + 2);
   if (argc == 3 && !strcmp(argv[1], "--zbsnmp-mib-load"))
      return ZbsnmpMibChild(argv[2]);
   bool quick = false, walksOnly = false, mibOnly = false;
   std::string fixtures = std::string(ZBSNMP_SOURCE_DIR) + "/tests/data";
   std::string mibs = std::string(ZBSNMP_SOURCE_DIR) + "/mibs";
   std::string messagesFile = std::string(ZBSNMP_SOURCE_DIR) + "/bench/data/bench-messages.tsv";
   for (int i = 1; i < argc; i++)
   {
      if (!strcmp(argv[i], "--short"))
         quick = true;
      else if (!strcmp(argv[i], "--walks"))
         walksOnly = true;
      else if (!strcmp(argv[i], "--mib-only"))
         mibOnly = true;
      else if (!strcmp(argv[i], "--fixtures") && i + 1 < argc)
         fixtures = argv[++i];
      else if (!strcmp(argv[i], "--mibs") && i + 1 < argc)
         mibs = argv[++i];
   }
   if (mibOnly)
   {
      printf("## MIB trees\n\n| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
      MibBench(argv[0], fixtures, mibs, quick ? 1 : 5);
      return 0;
   }
   NetSnmpInit();
   if (walksOnly)
   {
      SnmpdAgent agent;
      if (!agent.Start())
         return 1;
      for (bool pinned : {false, true})
         WalkBench(agent, quick ? 1 : 7, pinned);
      RelayWalkBench(agent, quick ? 1 : 3);
      return 0;
   }

   std::vector<Message> messages;
   std::ifstream in(messagesFile);
   std::string line;
   while (std::getline(in, line))
   {
      if (line.empty() || line[0] == '#')
         continue;
      std::istringstream ss(line);
      Message m;
      std::string hex;
      std::getline(ss, m.name, '\t');
      std::getline(ss, hex, '\t');
      m.bytes = Hex(hex);
      messages.push_back(m);
   }

   // Parsed copies for the encode benchmarks, recipes for the build ones.
   std::vector<std::unique_ptr<SNMP_PDU>> ours;
   std::vector<netsnmp_pdu *> theirs;
   std::vector<BuildRecipe> recipes;
   for (const Message &m : messages)
   {
      auto p = std::make_unique<SNMP_PDU>();
      if (!p->Parse(m.bytes.data(), (uint32_t)m.bytes.size()))
      {
         fprintf(stderr, "%s does not parse\n", m.name.c_str());
         return 1;
      }
      recipes.push_back(Recipe(p.get()));
      ours.push_back(std::move(p));
      theirs.push_back(NetSnmpParse(m));
   }

   for (size_t i = 0; i < messages.size(); i++)
   {
      const Message *m = &messages[i];
      SNMP_PDU *o = ours[i].get();
      netsnmp_pdu *t = theirs[i];
      const BuildRecipe *r = &recipes[i];
      benchmark::RegisterBenchmark(("decode/" + m->name + "/ours").c_str(),
                                   [m](benchmark::State &s) { for (auto _ : s) OursDecode(*m); });
      benchmark::RegisterBenchmark(("decode/" + m->name + "/netsnmp").c_str(),
                                   [m](benchmark::State &s) { for (auto _ : s) TheirsDecode(*m); });
      benchmark::RegisterBenchmark(("encode/" + m->name + "/ours").c_str(),
                                   [o](benchmark::State &s) { for (auto _ : s) OursEncode(o); });
      if (t != nullptr)
         benchmark::RegisterBenchmark(("encode/" + m->name + "/netsnmp").c_str(),
                                      [t](benchmark::State &s) { for (auto _ : s) TheirsEncode(t); });
      if (!r->trap || r->version == SNMP_VERSION_2C)
      {
         benchmark::RegisterBenchmark(("build/" + m->name + "/ours").c_str(),
                                      [r](benchmark::State &s) { for (auto _ : s) OursBuild(*r); });
         benchmark::RegisterBenchmark(("build/" + m->name + "/netsnmp").c_str(),
                                      [r](benchmark::State &s) { for (auto _ : s) TheirsBuild(*r); });
      }
   }
   std::string namesTsv = std::string(ZBSNMP_SOURCE_DIR) + "/tests/data/netsnmp-mib-tree-rfc.tsv";
   NamesSetup(namesTsv);
   Collector collector;
   RunBenchmarks(argv[0], quick, &collector);

   printf("\n## Codec (ns per operation, medians; ratio = Net-SNMP / libzbsnmp)\n\n");
   printf("| operation | message | libzbsnmp ns | Net-SNMP ns | ratio | allocs (ours / theirs) | bytes (ours / theirs) |\n");
   printf("|---|---|---|---|---|---|---|\n");
   for (const char *op : {"decode", "encode", "build"})
   {
      for (size_t i = 0; i < messages.size(); i++)
      {
         std::string key = std::string(op) + "/" + messages[i].name;
         if (!collector.nsPerOp.count(key + "/ours") || !collector.nsPerOp.count(key + "/netsnmp"))
            continue;
         double a = collector.nsPerOp[key + "/ours"], b = collector.nsPerOp[key + "/netsnmp"];
         Allocs ao, at;
         if (!strcmp(op, "decode"))
         {
            ao = CountAllocs([&] { OursDecode(messages[i]); });
            at = CountAllocs([&] { TheirsDecode(messages[i]); });
         }
         else if (!strcmp(op, "encode"))
         {
            ao = CountAllocs([&] { OursEncode(ours[i].get()); });
            at = CountAllocs([&] { TheirsEncode(theirs[i]); });
         }
         else
         {
            ao = CountAllocs([&] { OursBuild(recipes[i]); });
            at = CountAllocs([&] { TheirsBuild(recipes[i]); });
         }
         printf("| %s | %s | %.0f | %.0f | %sx | %llu / %llu | %llu / %llu |\n", op,
                messages[i].name.c_str(), a, b, Fixed(b / a).c_str(), (unsigned long long)ao.count,
                (unsigned long long)at.count, (unsigned long long)ao.bytes,
                (unsigned long long)at.bytes);
      }
   }
   for (netsnmp_pdu *t : theirs)
      if (t)
         snmp_free_pdu(t);

   printf("\n## Exchanges and intake\n\n");
   printf("| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
   SnmpdAgent agent;
   if (agent.Start())
   {
      uint32_t maxRequests = quick ? 2000 : 20000;
      double maxSeconds = quick ? 2 : 10;
      ExchangeRows(
          agent.Pid(),
          [&](uint32_t n, std::vector<double> *lat) { OursExchange(agent.Port(), n, maxSeconds, lat); },
          [&](uint32_t n, std::vector<double> *lat) { TheirsExchange(agent.Port(), n, maxSeconds, lat); },
          maxRequests, maxSeconds);
      TrapIntake(messages.back().bytes, quick ? 20000 : 200000);
      printf("\n## Whole-agent walks\n\n");
      for (bool pinned : {false, true})
         WalkBench(agent, quick ? 1 : 7, pinned);
      RelayWalkBench(agent, quick ? 1 : 3);
      agent.Stop();
   }
   else
   {
      printf("| exchanges | skipped: snmpd did not start | | |\n");
      TrapIntake(messages.back().bytes, quick ? 20000 : 200000);
   }

   printf("\n## MIB trees\n\n| measurement | libzbsnmp | Net-SNMP | ratio |\n|---|---|---|---|\n");
   MibBench(argv[0], fixtures, mibs, quick ? 1 : 5);
   NamesBench(collector, namesTsv, quick);
   return 0;
}
