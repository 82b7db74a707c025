#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs each for a bounded time.
# Fails when a target finds a crash, a property violation, a leak, a time-out
# or an out-of-memory; the input is kept in fuzz/regressions/<target>/ so that
# the normal test suite replays it from then on.
# usage: fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(pdu variable oid mib transport v3)
build=build-fuzz

CXX=${CXX_FUZZ:-clang++-14} cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++-14}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZBSNMP_FUZZ=ON -DZBSNMP_BUILD_TESTS=OFF -DZBSNMP_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

status=0
for t in "${targets[@]}"; do
  work=$build/run/$t
  rm -rf "$work"; mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/"$t"/* "$work/corpus/" 2>/dev/null || true
  cp fuzz/regressions/"$t"/* "$work/corpus/" 2>/dev/null || true
  echo "== fuzzing $t for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/${t}_fuzzer" "$work/corpus" -dict=fuzz/dict.txt \
       -max_total_time="$seconds" -timeout=5 -rss_limit_mb=1024 -print_final_stats=1 \
       -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1; then
    status=1
    echo "!! $t found a fault:"; grep -m 20 -E "ERROR|property failed|SUMMARY|Test unit written" "$work/log" || true
    for a in "$work"/artifacts/*; do
      [ -f "$a" ] && cp "$a" "fuzz/regressions/$t/$(basename "$a")" && echo "kept as fuzz/regressions/$t/$(basename "$a")"
    done
  fi
  grep -E "^#[0-9]+.*(DONE|pulse)|stat::number_of_executed_units|stat::average_exec_per_sec|stat::new_units_added|stat::peak_rss_mb" "$work/log" | tail -5
  grep -E "cov: [0-9]+" "$work/log" | tail -1 | sed -E 's/.*(cov: [0-9]+ ft: [0-9]+ corp: [^ ]+).*/final \1/'
done
exit $status
