#!/usr/bin/env bash
# Runs libzbsnmp's test suite. Installs what is missing (apt-get), then runs
# each stage; with arguments, only the stages named.
#   unit      normal build, all tests (Net-SNMP peers included)
#   asan      build with AddressSanitizer and UBSan, all tests
#   options   every combination of the build options, with g++ and clang++-14,
#             configures or is refused with its reason; the fuzz build with
#             tests and tool links, and its smoke tests pass
#   install   cmake --install --prefix DIR, the tree then moved; the example
#             consumer built with find_package and with pkg-config, run
#             against snmpd
#   demo      the README's demo command
#   valgrind  the test suite under valgrind memcheck
#   fuzz      every libFuzzer target for a bounded time (clang-14)
#   windows   cross-built with MinGW-w64, tests under wine64
#   bench     the benchmarks in their short mode (numbers printed, not judged;
#             the polling benchmark fails on a wrong answer)
set -euo pipefail
cd "$(dirname "$0")"
root=$PWD
jobs=$(nproc)
all=(unit asan options install demo valgrind fuzz windows bench)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${all[@]}")

banner() { printf '\n\033[1m==== %s\033[0m\n' "$*"; }

build_and_test() {  # DIR [cmake args...]
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs")
}

stage_unit() {
  scripts/deps.sh build peers
  build_and_test build-test
}

stage_asan() {
  scripts/deps.sh build peers
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    build_and_test build-asan -DZBSNMP_SANITIZE=ON
}

stage_options() {
  scripts/deps.sh build fuzz bench
  local names=(ZBSNMP_BUILD_TESTS ZBSNMP_BUILD_TOOLS ZBSNMP_SANITIZE ZBSNMP_FUZZ ZBSNMP_BENCH)
  local dir=build-options configured=0 refused=0
  mkdir -p "$dir"
  for cxx in g++ clang++-14; do
    for mask in $(seq 0 31); do
      local args=() label=$cxx
      for i in "${!names[@]}"; do
        local v=OFF
        if (( (mask >> i) & 1 )); then v=ON; fi
        args+=("-D${names[$i]}=$v"); label+=" ${names[$i]#ZBSNMP_}=$v"
      done
      rm -rf "$dir/conf"
      if cmake -S . -B "$dir/conf" -DCMAKE_CXX_COMPILER="$cxx" "${args[@]}" >"$dir/log" 2>&1; then
        configured=$((configured + 1))
      elif grep -q '(message):' "$dir/log" && grep -q 'ZBSNMP_' "$dir/log"; then
        refused=$((refused + 1))   # refused at configure time, with the reason
      else
        echo "$label: configure failed without saying why:"; cat "$dir/log"; exit 1
      fi
    done
  done
  echo "option combinations: $configured configure, $refused refused with a reason"
  # Instrumented objects link with everything that uses them.
  cmake -S . -B "$dir/fuzz" -DCMAKE_CXX_COMPILER=clang++-14 -DZBSNMP_FUZZ=ON >/dev/null
  cmake --build "$dir/fuzz" -j "$jobs" >/dev/null
  "$dir/fuzz/tests/api_smoke_test" --gtest_brief=1
  "$dir/fuzz/tests/zbsnmp_tests" --gtest_brief=1 --gtest_filter='FuzzReplay.*:ZFile.*'
}

stage_install() {
  scripts/deps.sh build peers
  # The prefix is given at install time, not at configure time, and the
  # installed tree is then moved: the consumers must find it where it lies.
  local staged=$root/build-install/staged prefix=$root/build-install/prefix
  rm -rf build-install
  cmake -S . -B build-install/lib -DCMAKE_BUILD_TYPE=Release -DZBSNMP_BUILD_TESTS=OFF >/dev/null
  cmake --build build-install/lib -j "$jobs" >/dev/null
  cmake --install build-install/lib --prefix "$staged" >/dev/null
  mv "$staged" "$prefix"
  echo "installed:"; (cd "$prefix" && find . -type f -o -type l | sort)
  if grep -rIl -e "$staged" -e /usr/local "$prefix"; then echo "installed files name a fixed prefix"; exit 1; fi
  local dynamic
  dynamic=$(readelf -d "$prefix"/lib*/libzbsnmp.so)
  grep -q 'SONAME.*libzbsnmp.so.2' <<<"$dynamic" || { echo "no SONAME"; exit 1; }
  # With find_package
  cmake -S examples/consumer -B build-install/cmake -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build build-install/cmake >/dev/null
  # With pkg-config
  local pc
  pc=$(dirname "$(find "$prefix" -name zbsnmp.pc)")
  PKG_CONFIG_PATH=$pc g++ -std=c++17 -o build-install/get_sysdescr_pc examples/consumer/get_sysdescr.cpp \
    $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs zbsnmp) -Wl,-rpath,"$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir zbsnmp)"
  # Both against a real agent
  local work port pid
  work=$(mktemp -d)
  port=$(perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Proto=>"udp",LocalAddr=>"127.0.0.1",LocalPort=>0)->sockport')
  SNMP_PERSISTENT_DIR=$work SNMPCONFPATH=$work MIBS= "$(command -v snmpd || echo /usr/sbin/snmpd)" -f -C \
    -c tests/snmpd.conf -Lf "$work/log" "udp:127.0.0.1:$port" &
  pid=$!
  local ok=1
  for i in $(seq 50); do
    if build-install/cmake/get_sysdescr 127.0.0.1 "$port" >/dev/null 2>&1; then ok=0; break; fi
    sleep 0.1
  done
  local out1 out2 out3
  out1=$(build-install/cmake/get_sysdescr 127.0.0.1 "$port" || true)
  out2=$(build-install/get_sysdescr_pc 127.0.0.1 "$port" || true)
  out3=$("$prefix/bin/zbsnmp" get "127.0.0.1:$port" .1.3.6.1.2.1.1.1.0 2>&1 || true)
  kill "$pid"; wait "$pid" 2>/dev/null || true; rm -rf "$work"
  echo "find_package consumer: $out1"
  echo "pkg-config consumer:   $out2"
  echo "installed tool:        $out3"
  [ $ok -eq 0 ] && [ "$out1" = ".1.3.6.1.2.1.1.1.0 = zbsnmp test agent (loopback only)" ] && [ "$out1" = "$out2" ] &&
    [[ "$out3" == *"zbsnmp test agent (loopback only)"* ]]
}

stage_demo() {
  ./demo.sh
}

stage_valgrind() {
  scripts/deps.sh build peers valgrind
  cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=Debug >/dev/null
  cmake --build build-valgrind -j "$jobs" >/dev/null
  for t in build-valgrind/tests/zbsnmp_tests build-valgrind/tests/api_smoke_test \
           build-valgrind/tests/zbsnmp_interop_tests; do
    echo "valgrind $t"
    ZBSNMP_ENGINE_BURST=5000 valgrind --quiet --leak-check=full --errors-for-leak-kinds=definite,indirect,possible \
      --error-exitcode=1 "$t" --gtest_brief=1
  done
}

stage_fuzz() {
  if [ ! -f fuzz/CMakeLists.txt ]; then echo "no fuzz targets"; return 0; fi
  scripts/deps.sh build fuzz
  fuzz/run.sh "${ZBSNMP_FUZZ_SECONDS:-60}"
}

stage_windows() {
  if [ ! -f ci/windows.sh ]; then echo "no Windows build"; return 0; fi
  ci/windows.sh
}

stage_bench() {
  if [ ! -f bench/run.sh ]; then echo "no benchmarks"; return 0; fi
  bench/run.sh --short
  # bench/run.sh has installed what the polling benchmark needs and built it.
  if [ -f bench/poll/run.sh ]; then bench/poll/run.sh --short --no-deps; fi
}

for s in "${stages[@]}"; do
  banner "stage: $s"
  "stage_$s"
done
banner "all stages passed: ${stages[*]}"
