#!/usr/bin/env bash
# Builds the fuzz configuration (clang; every room of the driver with
# coverage, ASan and UBSan) and runs every fuzz target for the given time,
# one after the other, starting from its committed corpus. Prints per target
# the executions, the coverage (cov: edges, ft: features) and the findings;
# the inputs of findings are kept in build-fuzz/findings/<target>/. New
# corpus entries go to build-fuzz/corpus/<target>/ (merge them into
# fuzz/corpus/ by hand with -merge=1 when they are worth keeping).
#   scripts/fuzz.sh --seconds 1800 [target...]
# Exit status 1 when a target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --seconds)
      seconds=$2
      shift 2
      ;;
    *)
      targets+=("$1")
      shift
      ;;
  esac
done
[ ${#targets[@]} -gt 0 ] || targets=(tag_address parameter_block replies driver modbus_request)

build=build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B $build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK571_FUZZ=ON \
  -DTK571_QT=OFF "${launcher[@]}" >/dev/null
cmake --build $build -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}" >/dev/null

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
found=0
report=()
for target in "${targets[@]}"; do
  work=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/fuzz_$target.log
  mkdir -p "$work" "$findings"
  set +e
  "$build/fuzz/fuzz_$target" "$work" "fuzz/corpus/$target" -max_total_time="$seconds" \
    -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    >"$log" 2>&1
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  hits=$(find "$findings" -type f | wc -l)
  [ "$hits" -eq 0 ] || found=1
  report+=("$(printf '%-16s %8s s %12s %8s %8s %8s' "$target" "$seconds" "${execs:-?}" \
    "${cov:-?}" "${ft:-?}" "$hits")")
done

printf '%-16s %10s %12s %8s %8s %8s\n' target time executions cov ft findings
printf '%s\n' "${report[@]}"
if [ $found -ne 0 ]; then
  echo "findings in $build/findings/ (logs: $build/fuzz_<target>.log)"
fi
exit $found
