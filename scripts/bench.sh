#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them all, printing each figure as a
# ratio measured within one run. Extra arguments go to the Google Benchmark
# binary (e.g. --benchmark_repetitions=3).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD_DIR:-build-bench}
jobs=${BENCH_JOBS:-2}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTK571_BENCH=ON -DTK571_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target tk571_bench tk571_line_bench

# The driver writes its run log below the working directory: keep it out of
# the source tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== $(date) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo
"$root/$build/bench/tk571_bench" "$@"
echo
"$root/$build/bench/tk571_line_bench"
