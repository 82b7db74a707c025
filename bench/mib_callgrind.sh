#!/usr/bin/env bash
# Instructions executed by one MIB tree load and by Net-SNMP's parse of the
# same modules, counted by callgrind: unlike times, the counts do not change
# with the load of a shared machine. Only the load (SNMPLoadMIBTree) and the
# parse (read_all_mibs) are counted, each in a fresh process.
# usage: bench/mib_callgrind.sh [BUILD_DIR]   (a build with -DZBSNMP_BENCH=ON; default build-bench)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
command -v valgrind >/dev/null || { echo "valgrind is needed (scripts/deps.sh valgrind)"; exit 1; }
for f in "$build/bench/zbsnmp_mib_load" "$build/bench/netsnmp_mib_parse" "$build/tools/zbsnmp"; do
  [ -x "$f" ] || { echo "missing $f: build with -DZBSNMP_BENCH=ON first"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/zbsnmp" mib compile -z --no-descriptions -o "$work/compiled.zbmib" mibs/rfc mibs/net-snmp >/dev/null 2>&1

count() {  # FUNCTION COMMAND...: instructions executed inside FUNCTION
  local fn=$1; shift
  valgrind --tool=callgrind --callgrind-out-file="$work/out" --toggle-collect="$fn" "$@" >/dev/null 2>&1
  sed -n 's/^summary: *//p' "$work/out"
}
ours=$(count 'SNMPLoadMIBTree*' "$build/bench/zbsnmp_mib_load" "$work/compiled.zbmib")
theirs=$(export SNMPCONFPATH="$work" SNMP_PERSISTENT_DIR="$work" HOME="$work"
         count read_all_mibs "$build/bench/netsnmp_mib_parse" mibs/rfc mibs/net-snmp)
echo "SNMPLoadMIBTree of the compiled tree ($(stat -c %s "$work/compiled.zbmib") bytes): $ours instructions"
echo "Net-SNMP read_all_mibs of the same modules: $theirs instructions"
awk -v a="$theirs" -v b="$ours" 'BEGIN { printf "ratio: %.1fx\n", a / b }'
