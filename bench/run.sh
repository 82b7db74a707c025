#!/usr/bin/env bash
# Builds and runs the benchmarks against Net-SNMP's libnetsnmp and snmpd.
# usage: bench/run.sh [--short]   (--short: a quick pass, numbers printed, not judged)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build peers bench
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BENCH=ON -DZBSNMP_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
build-bench/bench/zbsnmp_bench "$@" 2> >(grep -v -E '^(Running|Run on|CPU Caches|  L[0-9]|Load Average|\*\*\*)' >&2)
build-bench/bench/zbsnmp_v3_bench "$@" 2> >(grep -v -E '^(Running|Run on|CPU Caches|  L[0-9]|Load Average|\*\*\*)' >&2)
