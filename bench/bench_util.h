// Shared by the benchmark programs: running the registered benchmarks
// (short or full mode) and collecting their times per operation.
#ifndef ZBSNMP_BENCH_UTIL_H
#define ZBSNMP_BENCH_UTIL_H

#include <benchmark/benchmark.h>

#include <map>
#include <string>
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

#endif
