// Shared by the benchmark programs: running the registered benchmarks
// (short or full mode) and collecting their times per operation.
#ifndef ZBSNMP_BENCH_UTIL_H
#define ZBSNMP_BENCH_UTIL_H

#include <benchmark/benchmark.h>
#include <sched.h>
#include <stdio.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

// Google Benchmark's results: ns per operation, the median when repeated.
class Collector : public benchmark::ConsoleReporter
{
public:
   std::map<std::string, double> nsPerOp;  // median when repeated

   void ReportRuns(const std::vector<Run> &runs) override
   {
      for (const Run &run : runs)
      {
         std::string name = run.benchmark_name();
         bool median = run.aggregate_name == "median";
         if (run.run_type == Run::RT_Aggregate && !median)
            continue;
         if (median)
            name = name.substr(0, name.rfind("_median"));
         if (run.run_type == Run::RT_Iteration && nsPerOp.count(name) && !median)
            continue;  // a median comes later
         nsPerOp[name] = run.GetAdjustedRealTime();
      }
   }
};

// Runs every registered benchmark: --short takes a quick pass, else five
// repetitions of half a second each, reported by their medians.
inline void RunBenchmarks(const char *argv0, bool quick, Collector *collector)
{
   std::vector<std::string> bargs = {argv0, quick ? "--benchmark_min_time=0.05"
                                                  : "--benchmark_min_time=0.5"};
   if (!quick)
   {
      bargs.push_back("--benchmark_repetitions=5");
      bargs.push_back("--benchmark_report_aggregates_only=true");
   }
   std::vector<char *> bargv;
   for (auto &a : bargs)
      bargv.push_back((char *)a.c_str());
   int bargc = (int)bargv.size();
   benchmark::Initialize(&bargc, bargv.data());
   benchmark::RunSpecifiedBenchmarks(collector);
}

inline double Seconds(std::chrono::steady_clock::duration d)
{
   return std::chrono::duration<double>(d).count();
}

// Pins a process (0: this one) to one CPU, or (cpu < 0) lets it run on all.
inline void Pin(pid_t pid, int cpu)
{
   cpu_set_t set;
   CPU_ZERO(&set);
   if (cpu < 0)
   {
      for (int i = 0; i < CPU_SETSIZE && i < (int)std::thread::hardware_concurrency(); i++)
         CPU_SET(i, &set);
   }
   else
   {
      CPU_SET(cpu, &set);
   }
   sched_setaffinity(pid, sizeof(set), &set);
}

struct ExchangeResult
{
   uint32_t requests;
   double perSecond, medianUs;
};

inline ExchangeResult Summarise(std::vector<double> &latencies, double elapsed)
{
   std::sort(latencies.begin(), latencies.end());
   ExchangeResult r;
   r.requests = (uint32_t)latencies.size();
   r.perSecond = latencies.size() / elapsed;
   r.medianUs = latencies.empty() ? 0 : latencies[latencies.size() / 2] * 1e6;
   return r;
}

// One side of an exchange benchmark: up to count requests, each latency in
// seconds appended.
using ExchangeSide = std::function<void(uint32_t count, std::vector<double> *latencies)>;

// Alternating rounds of 500 requests of each side, so that both meet the
// same agent and machine state, up to maxRequests or maxSeconds each.
inline void AlternateRounds(const ExchangeSide &ours, const ExchangeSide &theirs,
                            uint32_t maxRequests, double maxSeconds, ExchangeResult *a,
                            ExchangeResult *b)
{
   std::vector<double> ourLat, theirLat;
   double ourTime = 0, theirTime = 0;
   for (uint32_t done = 0; done < maxRequests && ourTime + theirTime < 2 * maxSeconds; done += 500)
   {
      auto t0 = std::chrono::steady_clock::now();
      ours(500, &ourLat);
      auto t1 = std::chrono::steady_clock::now();
      theirs(500, &theirLat);
      ourTime += Seconds(t1 - t0);
      theirTime += Seconds(std::chrono::steady_clock::now() - t1);
   }
   *a = Summarise(ourLat, ourTime);
   *b = Summarise(theirLat, theirTime);
}

// The rows of a GET exchange benchmark: alternating rounds with this
// process pinned to the agent's CPU, then with both unpinned.
inline void ExchangeRows(pid_t agent, const ExchangeSide &ours, const ExchangeSide &theirs,
                         uint32_t maxRequests, double maxSeconds)
{
   for (int pinned = 1; pinned >= 0; pinned--)
   {
      Pin(0, pinned ? 0 : -1);
      Pin(agent, pinned ? 0 : -1);
      ExchangeResult a, b;
      AlternateRounds(ours, theirs, maxRequests, maxSeconds, &a, &b);
      printf("| GET sysDescr.0, %s: requests/s | %.0f (%u requests) | %.0f (%u requests) | %.2fx |\n",
             pinned ? "client pinned to the agent's CPU" : "unpinned", a.perSecond, a.requests,
             b.perSecond, b.requests, b.perSecond > 0 ? a.perSecond / b.perSecond : 0.0);
      printf("| GET sysDescr.0, %s: median latency | %.1f us | %.1f us | %.2fx |\n",
             pinned ? "pinned" : "unpinned", a.medianUs, b.medianUs,
             a.medianUs > 0 ? b.medianUs / a.medianUs : 0.0);
   }
   Pin(0, -1);
}

#endif
