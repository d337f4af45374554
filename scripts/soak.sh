#!/usr/bin/env bash
# A long run of the driver through its entry points against simulated
# controllers, with line faults cycling (silence, garbage, split answers,
# noise, late answers, lost line ends, the adapter unplugged and replugged)
# and a recipe every minute; heap, resident memory and descriptors are
# sampled, and every action write must end answered or failed: a lost write
# fails the run. The driver's run log is written to a scratch directory.
#   scripts/soak.sh --minutes 10 [--controllers 3] [--build build]
# The build directory is configured when it does not exist yet; a sanitized
# build (-DTK571_SANITIZE=ON) soaks under ASan and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

minutes=10
controllers=3
build=build
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=$2 ;;
    --controllers) controllers=$2 ;;
    --build) build=$2 ;;
    *)
      echo "usage: $0 --minutes N [--controllers 1..9] [--build DIR]" >&2
      exit 2
      ;;
  esac
  shift 2
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${JOBS:-2}" --target tk571_soak >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
(cd "$work" && env -u KELDA_PATH "$root/$build/tests/tk571_soak" --minutes "$minutes" \
  --controllers "$controllers") || status=$?
if [ -d "$work/Debug" ]; then
  echo "run log files:"
  ls -l "$work/Debug" | tail -n +2
fi
exit $status
