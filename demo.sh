#!/usr/bin/env bash
# The libzbsnmp demo: installs what is missing, builds, and runs the zbsnmp
# tool against Net-SNMP's agent on a private loopback port.
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Installing missing packages (cmake, g++, zlib, GoogleTest, Net-SNMP agent and tools)"
scripts/deps.sh build peers

step "Building libzbsnmp and the zbsnmp tool"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" >/dev/null
Z=$root/build/tools/zbsnmp
echo "built $(ls build/libzbsnmp.so.*.*.*) and $Z"

work=$(mktemp -d)
agent_pid=""
cleanup() {
  [ -n "$agent_pid" ] && kill "$agent_pid" 2>/dev/null && wait "$agent_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  perl -MIO::Socket::INET -e 'my $s = IO::Socket::INET->new(Proto => "udp", LocalAddr => "127.0.0.1", LocalPort => 0) or die; print $s->sockport'
}
snmpd_bin=$(command -v snmpd || echo /usr/sbin/snmpd)
# snmpd listens on ::1 too where the machine has an IPv6 loopback.
have_ipv6() { grep -q '^00000000000000000000000000000001 ' /proc/net/if_inet6 2>/dev/null; }
export SNMP_PERSISTENT_DIR=$work SNMPCONFPATH=$work MIBS=

step "Starting Net-SNMP's snmpd on 127.0.0.1 (private state in $work)"
for attempt in 1 2 3 4 5; do
  port=$(free_port)
  listen="udp:127.0.0.1:$port"
  if have_ipv6; then listen="$listen,udp6:[::1]:$port"; fi
  "$snmpd_bin" -f -C -c "$root/tests/snmpd.conf,$root/tests/snmpd-v3.conf" -Lf "$work/snmpd.log" "$listen" &
  agent_pid=$!
  for i in $(seq 50); do
    if "$Z" get -t 200 -r 1 "127.0.0.1:$port" .1.3.6.1.2.1.1.5.0 >/dev/null 2>&1; then break 2; fi
    kill -0 "$agent_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$agent_pid" 2>/dev/null || true; wait "$agent_pid" 2>/dev/null || true; agent_pid=""
done
[ -n "$agent_pid" ] || { echo "snmpd did not start" >&2; exit 1; }
agent=127.0.0.1:$port
echo "snmpd (pid $agent_pid) answers on $agent"

step "GET sysDescr.0 (SNMPv2c, community public)"
(set -x; "$Z" get "$agent" .1.3.6.1.2.1.1.1.0)

step "GET sysDescr.0 with SNMPv3: user v3sha256_aes, authPriv, SHA-256 and AES-128"
(set -x; "$Z" get -v 3 -u v3sha256_aes -l authPriv -a SHA-256 -A authpass1234 -x AES -X privpass5678 \
  "$agent" .1.3.6.1.2.1.1.1.0)

step "Walking the system group with GETBULK (max-repetitions 25)"
(set -x; "$Z" walk "$agent" .1.3.6.1.2.1.1) >"$work/walk.txt"
head -12 "$work/walk.txt"
echo "... ($(wc -l <"$work/walk.txt") bindings in all)"

step "Walking the whole agent: GETBULK against GET-NEXT"
t0=$(date +%s.%N); "$Z" walk -Cr 50 "$agent" .1 >"$work/bulk.txt"; t1=$(date +%s.%N)
"$Z" walk --getnext "$agent" .1 >"$work/next.txt"; t2=$(date +%s.%N)
awk -v b="$(wc -l <"$work/bulk.txt")" -v n="$(wc -l <"$work/next.txt")" -v t0="$t0" -v t1="$t1" -v t2="$t2" \
  'BEGIN { printf "GETBULK: %d lines in %.2f s; GET-NEXT: %d lines in %.2f s\n", b, t1 - t0, n, t2 - t1 }'

if have_ipv6; then
  step "GET sysName.0 over IPv6 (udp6:[::1]:$port)"
  (set -x; "$Z" get "udp6:[::1]:$port" .1.3.6.1.2.1.1.5.0)
fi

step "SET sysLocation.0 with the write community, then GET it back over SNMPv1"
(set -x; "$Z" set -c private "$agent" .1.3.6.1.2.1.1.6.0 STRING "Demo rack 7")
(set -x; "$Z" get -v 1 "$agent" .1.3.6.1.2.1.1.6.0)

step "Receiving a v1 and a v2c linkUp trap sent by snmptrap"
tport=$(free_port)
"$Z" traps -p "$tport" -n 2 -t 10000 >"$work/traps.txt" 2>"$work/traps.err" &
listener=$!
for i in $(seq 50); do grep -q Listening "$work/traps.err" 2>/dev/null && break; sleep 0.1; done
snmptrap -v1 -c public "127.0.0.1:$tport" .1.3.6.1.4.1.8072.3.2.10 10.0.0.1 3 0 12345 \
  .1.3.6.1.2.1.2.2.1.1.2 i 2
sleep 0.2
snmptrap -v2c -c public "127.0.0.1:$tport" 12345 .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2
wait "$listener"
awk '/^Trap from/{n++} {print > (n == 1 ? "'"$work"'/v1.txt" : "'"$work"'/v2.txt")}' "$work/traps.txt"
echo "The same linkUp, normalised to one trap identifier and generic type:"
pr -m -t -w 150 "$work/v1.txt" "$work/v2.txt" | expand
v1=$(grep -o 'trap OID [^ ]*, generic [0-9]*' "$work/v1.txt")
v2=$(grep -o 'trap OID [^ ]*, generic [0-9]*' "$work/v2.txt")
[ "$v1" = "$v2" ] || { echo "the two traps differ: $v1 / $v2" >&2; exit 1; }
echo "v1 and v2c: $v1"

step "An inform sent by snmpinform, acknowledged by the listener"
iport=$(free_port)
"$Z" traps -p "$iport" -n 1 -t 10000 >"$work/inform.txt" 2>"$work/inform.err" &
listener=$!
for i in $(seq 50); do grep -q Listening "$work/inform.err" 2>/dev/null && break; sleep 0.1; done
(set -x; snmpinform -v2c -c public -t 2 -r 0 "127.0.0.1:$iport" '' .1.3.6.1.6.3.1.1.5.3 \
  .1.3.6.1.2.1.2.2.1.1.2 i 2) && echo "snmpinform: acknowledged (exit status 0)"
wait "$listener"
cat "$work/inform.txt"

step "An SNMPv3 inform and trap (authPriv) for the users of a file: the inform discovers the listener's engine and is acknowledged"
cat >"$work/users" <<'USERS'
# USER        ENGINEID                  AUTH     AUTHPASS      PRIV  PRIVPASS
v3sha256_aes  -                         SHA-256  authpass1234  AES   privpass5678
v3sha_aes     0x80001f880464656d6f      SHA      authpass1234  AES   privpass5678
USERS
"$Z" traps -p "$iport" -n 2 -t 10000 -U "$work/users" >"$work/v3.txt" 2>"$work/v3.err" &
listener=$!
for i in $(seq 50); do grep -q Listening "$work/v3.err" 2>/dev/null && break; sleep 0.1; done
(set -x; snmpinform -v3 -u v3sha256_aes -l authPriv -a SHA-256 -A authpass1234 -x AES -X privpass5678 \
  -t 2 -r 0 "127.0.0.1:$iport" '' .1.3.6.1.6.3.1.1.5.3 .1.3.6.1.2.1.2.2.1.1.2 i 2) &&
  echo "snmpinform -v3: acknowledged (exit status 0)"
(set -x; snmptrap -v3 -e 0x80001f880464656d6f -u v3sha_aes -l authPriv -a SHA -A authpass1234 -x AES \
  -X privpass5678 "127.0.0.1:$iport" '' .1.3.6.1.6.3.1.1.5.4 .1.3.6.1.2.1.2.2.1.1.2 i 2)
wait "$listener"
cat "$work/v3.txt"

step "Compiling the MIB modules of mibs/ (463 IETF, IANA and Net-SNMP modules) into a tree file"
echo "+ $Z mib compile -z -o $work/mibs.zbmib mibs   (the last lines of its report)"
"$Z" mib compile -z -o "$work/mibs.zbmib" mibs 2>&1 | tail -3
(set -x; "$Z" mib info "$work/mibs.zbmib")
echo "The interfaces table as the compiled tree has it (mib export: OID, name, type, access, status, module):"
(set -x; "$Z" mib export "$work/mibs.zbmib") >"$work/tree.tsv"
grep -P '^\.1\.3\.6\.1\.2\.1\.2\.2\.1\.[0-9]\t' "$work/tree.tsv" | expand -t 28,44,60,74,86
echo "... ($(($(wc -l <"$work/tree.tsv") - 1)) nodes in all)"

step "Speaking in names with the compiled tree (-m FILE, or ZBSNMP_MIBS)"
(set -x; "$Z" get -m "$work/mibs.zbmib" "$agent" sysName.0 IF-MIB::ifOperStatus.1)
(set -x; "$Z" walk -m "$work/mibs.zbmib" "$agent" IF-MIB::ifTable) >"$work/named.txt"
head -8 "$work/named.txt"; echo "... ($(wc -l <"$work/named.txt") lines)"

step "Polling a list of agents at once over one socket (zbsnmp poll; the last one never answers)"
{
  echo "# HOST[:PORT] [COMMUNITY]"
  for i in 1 2 3; do echo "$agent public"; done
  echo "127.0.0.1:$(free_port) public"
} >"$work/agents.txt"
cat "$work/agents.txt"
(set -x; "$Z" poll -m "$work/mibs.zbmib" -f "$work/agents.txt" -t 500 -r 2 sysName.0 sysUpTime.0) || true
(set -x; "$Z" poll -f "$work/agents.txt" -t 500 -r 1 -o json --walk -Cr 25 .1.3.6.1.2.1.1) >"$work/poll.json" || true
head -3 "$work/poll.json"; echo "... ($(wc -l <"$work/poll.json") JSON lines)"

step "Stopping snmpd (pid $agent_pid)"
kill "$agent_pid"; wait "$agent_pid" 2>/dev/null || true; agent_pid=""

printf '\n\033[1;32mDemo completed successfully.\033[0m\n'
