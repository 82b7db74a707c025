#!/usr/bin/env bash
# Polling many agents at once: libzbsnmp's `zbsnmp poll`, Net-SNMP's
# asynchronous API and gosnmp, on the same loopback agents, measured and
# checked the same way (poll_measure), reported as a Markdown table.
#
# usage: bench/poll/run.sh [--short] [--agents "1000 10000"] [--dead PERCENT]
#                          [--reps N] [--runs N] [--clients "ours netsnmp gosnmp"] [--modes "get walk"]
#                          [--base 127.B] [--procs P] [--ours ZBSNMP] [--no-deps]
#   --short    300 agents, one run of each client (about a minute, for CI)
#   --agents   agent counts (default "1000 10000"), --dead the share of dead
#              agents in percent (10), --reps GETBULK max-repetitions (50, as gosnmp by default),
#              --runs runs of each client (1; with more, the median wall time's
#              run is shown), --base the loopback /16 the agents use (127.1),
#              --procs the snmpd processes serving them (one per core),
#              --ours another build's zbsnmp tool to measure instead of this tree's
# Every run is a GET of five system-group values from every agent, then a
# GETBULK walk of ifTable, with a 1 s time-out and 2 attempts. The exit status
# is 1 when a client that was built gave a wrong answer.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
here=$root/bench/poll

counts="1000 10000" dead=10 reps=50 runs=1 clients="ours netsnmp gosnmp" base=127.1 deps=1
procs=$(nproc) modes="get walk" ours=
timeout_ms=1000 attempts=2 limit=300  # a client still running after limit seconds is killed
while [ $# -gt 0 ]; do
  case "$1" in
    --short) counts=300; runs=1; limit=60; shift ;;
    --agents) counts=$2; shift 2 ;;
    --dead) dead=$2; shift 2 ;;
    --reps) reps=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --modes) modes=$2; shift 2 ;;
    --base) base=$2; shift 2 ;;
    --procs) procs=$2; shift 2 ;;
    --ours) ours=$2; shift 2 ;;
    --no-deps) deps=0; shift ;;
    *) echo "run.sh: unknown option '$1'" >&2; exit 2 ;;
  esac
done

[ $deps -eq 1 ] && scripts/deps.sh build peers bench
# The build of the other benchmarks (bench/run.sh), with the same options.
build=$root/build-bench
jobs=$(nproc)
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BENCH=ON -DZBSNMP_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target netsnmp_poll poll_measure zbsnmp_cli >/dev/null
measure=$build/bench/poll/poll_measure

# The clients' commands; a client that cannot be built is reported, not run.
declare -A cmd sub why
cmd[netsnmp]=$build/bench/poll/netsnmp_poll
gocode=/usr/share/gocode/src/github.com/gosnmp/gosnmp
if ! command -v go >/dev/null; then
  why[gosnmp]="not built: Go is missing (Debian: golang-go)"
elif [ ! -d "$gocode" ]; then
  why[gosnmp]="not built: gosnmp is missing (Debian: golang-github-gosnmp-gosnmp-dev)"
else
  # Offline, from Debian's Go packages: GOPATH mode over /usr/share/gocode.
  mkdir -p "$build/go"
  if GO111MODULE=off GOPROXY=off GOFLAGS= GOENV=off GOPATH=$build/go/path:/usr/share/gocode \
     GOCACHE=$build/go/cache go build -tags gosnmp_nodebug -o "$build/go/gosnmp_poll" \
     ./bench/poll/gosnmp_poll; then
    cmd[gosnmp]=$build/go/gosnmp_poll
  else
    why[gosnmp]="not built: go build failed"
  fi
fi
tool=${ours:-$build/tools/zbsnmp}
if [ -x "$tool" ] && "$tool" poll --help >/dev/null 2>&1; then
  cmd[ours]=$tool sub[ours]=poll
elif [ -n "$ours" ]; then
  why[ours]="not run: $ours has no poll command"
else
  why[ours]="not built: zbsnmp has no poll command yet"
fi
declare -A label=([ours]="libzbsnmp (zbsnmp poll)" [netsnmp]="Net-SNMP (async API)" [gosnmp]="gosnmp")

# The Net-SNMP and gosnmp clients need a descriptor per agent; so do the agents.
hard=$(ulimit -Hn)
[ "$hard" = unlimited ] && hard=$(cat /proc/sys/fs/nr_open)
ulimit -Sn "$hard" 2>/dev/null || true
for n in $counts; do
  [ "$(ulimit -Sn)" = unlimited ] || [ "$(ulimit -Sn)" -gt $((n + 64)) ] ||
    echo "run.sh: only $(ulimit -Sn) open files allowed: clients with a socket per agent will fail at $n agents" >&2
done

work=$(mktemp -d "${TMPDIR:-/tmp}/zbsnmp-poll-XXXXXX")
cleanup() {
  local d
  for d in "$work"/agents-*; do [ -d "$d" ] && "$here/agents.sh" stop "$d"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
mkdir -p "$work/netsnmp/cert_indexes"
export MIBS= SNMPCONFPATH=$work/netsnmp SNMP_PERSISTENT_DIR=$work/netsnmp

sys_oids=".1.3.6.1.2.1.1.1.0 .1.3.6.1.2.1.1.2.0 .1.3.6.1.2.1.1.3.0 .1.3.6.1.2.1.1.4.0 .1.3.6.1.2.1.1.5.0"
if_table=.1.3.6.1.2.1.2.2
floor=$(awk -v t="$timeout_ms" -v a="$attempts" 'BEGIN { printf "%.1f", t * a / 1000 }')
results=$work/results.txt
: >"$results"
failed=0
info=()

for n in $counts; do
  agents=$work/agents-$n
  echo "starting $n agents ($dead % dead)..." >&2
  "$here/agents.sh" start "$agents" "$n" "$dead" --base "$base" --procs "$procs" >/dev/null
  declare -A ai=()
  while IFS== read -r key value; do ai[$key]=$value; done <"$agents/agents.info"
  info+=("$n agents: ${ai[snmpd_processes]} snmpd processes answered on all ${ai[live]} live addresses ${ai[snmpd_ready_seconds]} s after their start, $((ai[snmpd_rss_kib] / 1024)) MiB resident in all; the ${ai[dead]} dead agents' sockets held by one process")
  # References: one agent of each snmpd, read with Net-SNMP's own tools.
  mkdir -p "$agents/refs"
  while read -r group agent; do
    snmpget -v2c -c public -On -Ox -t 2 -r 2 "$agent" $sys_oids >"$agents/refs/get-$group.txt"
    snmpbulkwalk -v2c -c public -On -Ox -Cr"$reps" -t 2 -r 2 "$agent" $if_table \
      >"$agents/refs/walk-$group.txt"
  done <"$agents/refs.tsv"
  for mode in $modes; do
    if [ $mode = get ]; then args=($sys_oids); else args=(--walk -Cr "$reps" $if_table); fi
    for ((run = 1; run <= runs; run++)); do
      # Each run starts with another client, so that none always goes first.
      order=($clients)
      for ((k = 0; k < (run - 1) % ${#order[@]}; k++)); do order=("${order[@]:1}" "${order[0]}"); done
      for c in "${order[@]}"; do
        if [ -z "${cmd[$c]:-}" ]; then
          [ $run -eq 1 ] && printf 'n=%s mode=%s client=%s skipped=1\n' "$n" "$mode" "$c" >>"$results"
          continue
        fi
        echo "  $c: $mode, run $run" >&2
        set +e
        line=$("$measure" --agents "$agents/agents.tsv" --refs "$agents/refs" --mode $mode \
          --reps "$reps" --snmpd-pids "$agents/snmpd.pids" --out "$work/out-$c.jsonl" --limit "$limit" -- \
          "${cmd[$c]}" ${sub[$c]:-} -f "$agents/targets.txt" -t "$timeout_ms" -r "$attempts" -o json "${args[@]}")
        rc=$?
        set -e
        [ $rc -eq 2 ] && { echo "run.sh: $c could not be measured" >&2; exit 2; }
        [ $rc -ne 0 ] && failed=1
        printf 'n=%s mode=%s client=%s ok=%s procs=%s %s\n' "$n" "$mode" "$c" $((rc == 0)) \
          "${ai[snmpd_processes]}" "$line" >>"$results"
        sleep 1
      done
    done
  done
  "$here/agents.sh" stop "$agents"
done

# The table: per agent count, mode and client, the run of median wall time.
echo
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //') ($(nproc) cores)," \
  "$(date +%F), $dead % of the agents dead, time-out ${timeout_ms} ms x $attempts attempts" \
  "(floor: the time-outs' ${floor} s, or the agents' snmpd CPU time over their processes when that is" \
  "longer), ifTable walk with max-repetitions $reps, $runs run(s) of each."
echo
echo "| agents | request | client | wall s | floor s | CPU s (user + sys) | CPU us / answered request | live agents: answered, correct (of) | dead agents timed out | descriptors (peak) | max RSS MiB | agents' snmpd CPU s | other processes' CPU s |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for n in $counts; do
  for mode in $modes; do
    for c in $clients; do
      row=$(awk -v n="$n" -v m="$mode" -v c="$c" '
        { delete f; for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] } }
        f["n"] == n && f["mode"] == m && f["client"] == c && ("wall" in f) { print f["wall"], $0 }' \
        "$results" | sort -n | awk '{ rows[NR] = $0 } END { if (NR) print rows[int((NR + 1) / 2)] }' |
        cut -d' ' -f2-)
      what=$([ $mode = get ] && echo "GET, 5 values" || echo "ifTable walk")
      if [ -z "$row" ]; then
        echo "| $n | $what | ${label[$c]} | ${why[$c]:-not built} | | | | | | | | | |"
        continue
      fi
      awk -v what="$what" -v name="${label[$c]}" -v floor="$floor" -v cores="$(nproc)" '
        { for (i = 1; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] } }
        END {
          cpu = f["user"] + f["sys"]
          # The agents cannot answer faster than their snmpd processes run.
          busy = f["snmpd_cpu"] / (f["procs"] < cores ? f["procs"] : cores)
          if (busy > floor) floor = busy
          per = f["requests"] > 0 ? sprintf("%.0f", cpu * 1e6 / f["requests"]) : "-"
          note = f["ok"] == 1 ? "" : " (wrong answers)"
          printf "| %s | %s | %s | %.2f | %.2f | %.2f (%.2f + %.2f) | %s | %s, %s (of %s)%s | %s / %s | %s | %.0f | %.2f | %.2f |\n",
            f["agents"], what, name, f["wall"], floor, cpu, f["user"], f["sys"], per,
            f["answered"], f["live_ok"], f["live"], note, f["dead_ok"], f["dead"], f["fds"], f["rss_kib"] / 1024,
            f["snmpd_cpu"], f["others_cpu"]
        }' <<<"$row"
    done
  done
done
echo
for l in "${info[@]}"; do echo "- $l"; done
exit $failed
