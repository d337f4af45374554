#!/usr/bin/env bash
# Installs what is missing, checks the layout of the sources, then builds and
# runs every test three times: a normal build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer (then a two-minute soak of that build), and one
# with ThreadSanitizer (the line threads and the host's calls; without the Qt
# widgets, whose toolkit is not built for it), then the Windows build under
# wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

find src tools tests bench fuzz -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 |
  xargs -0 clang-format --dry-run -Werror

run() {
  local dir=$1
  shift
  cmake -S . -B "$dir" "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

run build -DCMAKE_BUILD_TYPE=RelWithDebInfo
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run build-asan -DCMAKE_BUILD_TYPE=Debug -DTK571_SANITIZE=ON
# Two minutes of line faults and recipes under the sanitizers: no write lost.
JOBS=$jobs scripts/soak.sh --minutes 2 --build build-asan
unset ASAN_OPTIONS UBSAN_OPTIONS
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK571_TSAN=ON -DTK571_QT=OFF
scripts/test-windows.sh build-win build
echo "all tests passed"
