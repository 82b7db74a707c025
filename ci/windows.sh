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

jobs=$(nproc)
echo "== x86-64: building zbsnmp.dll and the tests"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BUILD_TOOLS=OFF >/dev/null
cmake --build build-win64 -j "$jobs" >/dev/null
ls -l build-win64/bin/*.dll
x86_64-w64-mingw32-objdump -p build-win64/bin/libzbsnmp.dll | grep 'DLL Name' 

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
imports=$(i686-w64-mingw32-objdump -p build-win32/bin/libzbsnmp.dll)
grep -q "DLL Name: WS2_32.dll" <<<"$imports" || { echo "the i686 DLL does not import WS2_32.dll" >&2; exit 1; }
grep -q "SNMPParseOID" <<<"$imports" || { echo "the i686 DLL does not export the API" >&2; exit 1; }
echo "i686: libzbsnmp.dll links (imports: $(grep 'DLL Name' <<<"$imports" | awk '{print $3}' | xargs))"
