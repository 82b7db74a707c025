#!/usr/bin/env bash
# Many SNMP agents on loopback for the polling benchmark.
#
#   agents.sh start DIR COUNT [DEAD_PERCENT] [--base 127.B] [--port PORT|auto] [--procs P]
#   agents.sh stop DIR
#
# start: COUNT agents, one loopback address each (127.B.x.y, y = 1..254), all on
# one UDP port; every agent whose index falls on the DEAD_PERCENT grid (10 by
# default: every tenth agent) is dead. Live addresses are served by P snmpd
# processes (one per core by default), dealt out in turn, each with private
# configuration and state under DIR. Dead addresses get a bound UDP socket that
# never answers, all held by one small process: an unbound loopback address
# would answer "port unreachable" at once, which a real dead device never does.
#
# Files written under DIR:
#   targets.txt   one agent a line, "HOST:PORT COMMUNITY" (the poll clients' input)
#   agents.tsv    "HOST:PORT<TAB>GROUP": GROUP is the snmpd index, or "dead"
#   refs.tsv      "GROUP<TAB>HOST:PORT": one live agent of each snmpd
#   pids          the PIDs of everything started (snmpd processes, then the holder)
#   snmpd.pids    the PIDs of the snmpd processes, the Nth serving group N-1
#   agents.info   KEY=VALUE lines: counts, port, time until every snmpd answers, their memory
# stop: stops every process of DIR/pids by its PID and removes DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
community=public

die() { echo "agents.sh: $*" >&2; exit 2; }

free_udp_port() {
  perl -MIO::Socket::INET -e \
    'print IO::Socket::INET->new(Proto=>"udp",LocalAddr=>"127.0.0.1",LocalPort=>0)->sockport'
}

# Raises the open-file limit of this shell (and what it starts) to at least $1,
# or as far as the hard limit allows.
raise_nofile() {
  local want=$1 hard
  hard=$(ulimit -Hn)
  if [ "$hard" != unlimited ] && [ "$hard" -lt "$want" ]; then
    ulimit -Hn "$want" 2>/dev/null || want=$hard
  fi
  ulimit -Sn "$want" 2>/dev/null || true
}

pid_alive() { kill -0 "$1" 2>/dev/null; }

# Stops one process by PID: TERM, up to 5 s of grace, then KILL.
stop_pid() {
  local pid=$1 i
  pid_alive "$pid" || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for i in $(seq 50); do
    pid_alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

snmpget_cmd() {  # AGENT OID... : one quick GET with Net-SNMP's snmpget
  local agent=$1; shift
  SNMPCONFPATH=$dir SNMP_PERSISTENT_DIR=$dir/tool MIBS= \
    snmpget -v2c -c "$community" -t 0.3 -r 0 -On "$agent" "$@"
}

cmd_stop() {
  dir=$1
  [ -d "$dir" ] || return 0
  if [ -f "$dir/pids" ]; then
    local pid
    while read -r pid; do
      [ -n "$pid" ] && stop_pid "$pid"
    done <"$dir/pids"
  fi
  rm -rf "$dir"
}

cmd_start() {
  dir=$1 count=$2 dead_pct=10
  shift 2
  if [ $# -gt 0 ] && [[ $1 != --* ]]; then dead_pct=$1; shift; fi
  local base=127.1 port=auto procs
  procs=$(nproc)
  while [ $# -gt 0 ]; do
    case "$1" in
      --base) base=$2; shift 2 ;;
      --port) port=$2; shift 2 ;;
      --procs) procs=$2; shift 2 ;;
      *) die "unknown option '$1'" ;;
    esac
  done
  [[ $count =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] && [ "$count" -le 65024 ] ||
    die "COUNT must be 1 to 65024"
  [[ $dead_pct =~ ^[0-9]+$ ]] && [ "$dead_pct" -le 100 ] || die "DEAD_PERCENT must be 0 to 100"
  [[ $base =~ ^127\.[0-9]+$ ]] || die "--base must be 127.B"
  [[ $procs =~ ^[0-9]+$ ]] && [ "$procs" -ge 1 ] || die "--procs must be at least 1"
  command -v snmpd >/dev/null || [ -x /usr/sbin/snmpd ] || die "snmpd not found (Debian: snmpd)"
  command -v snmpget >/dev/null || die "snmpget not found (Debian: snmp)"
  local snmpd
  snmpd=$(command -v snmpd || echo /usr/sbin/snmpd)
  [ "$port" = auto ] && port=$(free_udp_port)

  [ -e "$dir" ] && die "$dir exists"
  mkdir -p "$dir/tool"
  : >"$dir/pids"
  # Unless everything comes up, stop what was started.
  up=0
  trap '[ $up -eq 1 ] || cmd_stop "$dir"' EXIT

  # Addresses, live and dead, and each live agent's snmpd.
  local i live=0 a group
  local -a addrs=() dead=() groups=()
  : >"$dir/agents.tsv"; : >"$dir/targets.txt"
  for ((i = 0; i < count; i++)); do
    a="$base.$((i / 254)).$((i % 254 + 1)):$port"
    # Dead where the running count of dead agents steps up: evenly spread.
    if [ $(((i + 1) * dead_pct / 100)) -gt $((i * dead_pct / 100)) ]; then
      dead+=("$a"); group=dead
    else
      group=$((live % procs)); live=$((live + 1))
      addrs+=("$a"); groups+=("$group")
    fi
    printf '%s\t%s\n' "$a" "$group" >>"$dir/agents.tsv"
    printf '%s %s\n' "$a" "$community" >>"$dir/targets.txt"
  done
  [ "$procs" -gt "$live" ] && procs=$live

  # Each snmpd holds a socket per address, the holder one per dead agent.
  raise_nofile $((live / (procs > 0 ? procs : 1) + ${#dead[@]} + 256))

  cat >"$dir/snmpd.conf" <<EOF
# Agents of the polling benchmark: loopback only.
rocommunity $community 127.0.0.0/8
sysDescr zbsnmp polling benchmark agent
sysObjectID .1.3.6.1.4.1.8072.3.2.10
sysContact noc@zbsnmp.test
sysName zbsnmp-bench-agent
sysLocation loopback
EOF

  local t0 t1 k
  t0=$(date +%s.%N)
  local -a refs=()
  for ((k = 0; k < procs; k++)); do
    # This process's addresses, as arguments of at most 1,000 each (one
    # argument over 128 KiB is refused by the kernel).
    local -a args=() chunk=()
    for ((i = 0; i < live; i++)); do
      [ "${groups[i]}" = "$k" ] || continue
      [ ${#refs[@]} -gt "$k" ] || refs+=("${addrs[i]}")
      chunk+=("udp:${addrs[i]}")
      if [ ${#chunk[@]} -eq 1000 ]; then
        args+=("$(IFS=,; echo "${chunk[*]}")"); chunk=()
      fi
    done
    [ ${#chunk[@]} -gt 0 ] && args+=("$(IFS=,; echo "${chunk[*]}")")
    mkdir -p "$dir/snmpd-$k"
    SNMP_PERSISTENT_DIR=$dir/snmpd-$k SNMPCONFPATH=$dir/snmpd-$k MIBS= \
      setsid "$snmpd" -f -C -c "$dir/snmpd.conf" -Lf "$dir/snmpd-$k/log" "${args[@]}" \
      </dev/null >/dev/null 2>&1 &
    echo $! >>"$dir/pids"
  done
  cp "$dir/pids" "$dir/snmpd.pids"
  : >"$dir/refs.tsv"
  for ((k = 0; k < procs; k++)); do printf '%s\t%s\n' "$k" "${refs[k]}" >>"$dir/refs.tsv"; done

  # The dead agents' sockets: bound, never read.
  if [ ${#dead[@]} -gt 0 ]; then
    printf '%s\n' "${dead[@]}" >"$dir/dead.txt"
    setsid perl "$here/deadhold.pl" "$dir/dead.txt" "$dir/dead.ready" \
      </dev/null >/dev/null 2>"$dir/deadhold.log" &
    echo $! >>"$dir/pids"
  fi

  # Ready when the last address each snmpd was given answers, and the holder
  # has bound every socket.
  local deadline ok last n
  deadline=$(($(date +%s) + 120))
  for ((k = 0; k < procs; k++)); do
    last=$(awk -F'\t' -v g="$k" '$2 == g { a = $1 } END { print a }' "$dir/agents.tsv")
    ok=0
    while [ "$(date +%s)" -lt "$deadline" ]; do
      pid_alive "$(sed -n "$((k + 1))p" "$dir/pids")" || break
      if snmpget_cmd "$last" .1.3.6.1.2.1.1.5.0 >/dev/null 2>&1; then ok=1; break; fi
      sleep 0.2
    done
    [ $ok -eq 1 ] || { tail -5 "$dir/snmpd-$k/log" >&2 || true; die "snmpd $k did not come up"; }
  done
  t1=$(date +%s.%N)
  if [ ${#dead[@]} -gt 0 ]; then
    while [ ! -f "$dir/dead.ready" ]; do
      pid_alive "$(tail -1 "$dir/pids")" || { cat "$dir/deadhold.log" >&2; die "dead-agent holder failed"; }
      [ "$(date +%s)" -lt "$deadline" ] || die "dead-agent holder did not come up"
      sleep 0.1
    done
  fi

  local rss=0 r
  for ((k = 0; k < procs; k++)); do
    r=$(awk '/^VmRSS:/ { print $2 }' "/proc/$(sed -n "$((k + 1))p" "$dir/pids")/status")
    rss=$((rss + r))
  done
  n=${#dead[@]}
  {
    echo "agents=$count"; echo "live=$live"; echo "dead=$n"; echo "port=$port"
    echo "snmpd_processes=$procs"
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "snmpd_ready_seconds=%.2f\n", b - a }'
    echo "snmpd_rss_kib=$rss"
  } >"$dir/agents.info"
  up=1
  cat "$dir/agents.info"
}

case "${1:-}" in
  start) [ $# -ge 3 ] || die "usage: agents.sh start DIR COUNT [DEAD_PERCENT] [options]"
         shift; cmd_start "$@" ;;
  stop)  [ $# -eq 2 ] || die "usage: agents.sh stop DIR"
         cmd_stop "$2" ;;
  *) die "usage: agents.sh start DIR COUNT [DEAD_PERCENT] [--base 127.B] [--port PORT|auto] [--procs P] | stop DIR" ;;
esac
