#!/usr/bin/env bash
# Windows: cross-builds zbsnmp.dll and the tests with MinGW-w64 (x86-64), runs
# the tests under wine64, and checks that the 32-bit (i686) DLL builds and links.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev wine64 googletest cmake make)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_=(); [ "$(id -u)" -eq 0 ] || sudo_=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_[@]}" apt-get update -qq
  "${sudo_[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# What a DLL may import: Windows' own DLLs only (a MinGW runtime DLL, zlib1.dll
# or libcrypto beside it would make the library depend on files it does not ship).
system_dlls='^(KERNEL32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+|WS2_32|bcrypt)\.dll$'

# check_dll OBJDUMP DLL: the DLL imports system DLLs only and exports every
# class and function that include/zbsnmp.h declares with ZBSNMP_API.
check_dll() {
  local objdump=$1 dll=$2 dump names exports wrong=() n
  dump=$("$objdump" -p "$dll")
  names=$(awk '$1 == "DLL" && $2 == "Name:" {print $3}' <<<"$dump")
  for n in $names; do
    grep -qiE "$system_dlls" <<<"$n" || wrong+=("imports $n, which is no system DLL")
  done
  grep -qx "WS2_32.dll" <<<"$names" || wrong+=("does not import WS2_32.dll")
  # The export table's names, demangled: Class::Member(...) and functions.
  exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | "${objdump%objdump}c++filt" -n)
  for n in $(grep -oP 'class ZBSNMP_API \K\w+' include/zbsnmp.h); do
    grep -q "^$n::" <<<"$exports" || wrong+=("exports nothing of class $n")
  done
  for n in $(grep -oP '^\s*(extern\s+)?ZBSNMP_API\s[^(\[;]*?\K\w+(?=\s*[\(\[])' include/zbsnmp.h); do
    grep -qE "^$n(\(|$)" <<<"$exports" || wrong+=("does not export $n")
  done
  if [ ${#wrong[@]} -gt 0 ]; then
    printf "$dll: %s\n" "${wrong[@]}" >&2
    return 1
  fi
  echo "$dll: $(wc -l <<<"$exports") exports; imports: $(xargs <<<"$names")"
}

jobs=$(nproc)
echo "== x86-64: building zbsnmp.dll and the tests"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BUILD_TOOLS=OFF >/dev/null
cmake --build build-win64 -j "$jobs" >/dev/null
ls -l build-win64/bin/*.dll
check_dll x86_64-w64-mingw32-objdump build-win64/bin/libzbsnmp.dll

# Debian's wine64 keeps its programs in /usr/lib/wine.
export PATH="$PATH:/usr/lib/wine"
# Wine, headless, in a private prefix; its server started persistently so
# that ctest does not wait on it after each test.
export WINEPREFIX
WINEPREFIX=$(mktemp -d)
export WINEDEBUG=-all WINEARCH=win64
unset DISPLAY
cleanup() { wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT
wineserver -p
wine64 wineboot --init >/dev/null 2>&1 || true

echo "== x86-64: running the tests under wine64"
(cd build-win64 && ctest --output-on-failure --no-tests=error -j "$jobs" --timeout 300)

echo "== i686: building and linking the 32-bit DLL"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BUILD_TOOLS=OFF -DZBSNMP_BUILD_TESTS=OFF >/dev/null
cmake --build build-win32 -j "$jobs" >/dev/null
ls -l build-win32/bin/*.dll
check_dll i686-w64-mingw32-objdump build-win32/bin/libzbsnmp.dll
echo "Windows build and tests passed in ${SECONDS}s"
