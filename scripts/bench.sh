#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them all, printing each figure as a
# ratio measured within one run. Extra arguments go to the Google Benchmark
# binary after the defaults below, so they can override them.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${BENCH_BUILD_DIR:-build-bench}
jobs=${BENCH_JOBS:-2}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTK571_BENCH=ON -DTK571_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target tk571_bench tk571_line_bench tk571_idle_bench

# The driver writes its run log below the working directory: keep it out of
# the source tree.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

echo "== $(date) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo
# Repetitions in random order, so that a baseline and the run it is compared
# with see the machine alike; each figure uses the medians.
"$root/$build/bench/tk571_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_min_time=0.1 --benchmark_report_aggregates_only=true "$@"
echo
"$root/$build/bench/tk571_line_bench"
"$root/$build/bench/tk571_idle_bench"
# The gateway's journal, when the gateway is built (it needs its packages).
if cmake --build "$build" -j"$jobs" --target tk571_journal_bench >/dev/null 2>&1; then
  echo
  "$root/$build/bench/tk571_journal_bench" --dir "$work"
fi
