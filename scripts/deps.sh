#!/usr/bin/env bash
# Installs the Debian packages a part of the project needs, when missing.
# usage: scripts/deps.sh GROUP...   (build, peers, valgrind, fuzz, bench, windows)
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    build)    packages+=(cmake make g++ pkg-config libgtest-dev zlib1g-dev libssl-dev perl libsmi2-dev) ;;
    peers)    packages+=(snmpd snmp snmptrapd) ;;
    valgrind) packages+=(valgrind) ;;
    fuzz)     packages+=(clang-14 libclang-rt-14-dev) ;;
    bench)    packages+=(libbenchmark-dev libsnmp-dev golang-go golang-github-gosnmp-gosnmp-dev) ;;
    *) echo "deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  case "$p" in *-) continue ;; esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps.sh: need root (or sudo) to install ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
