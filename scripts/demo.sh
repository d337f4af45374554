#!/usr/bin/env bash
# The driver at work, in one command: installs what is missing, builds the
# driver, the controller simulator and the reference host, puts two simulated
# TK571 controllers (devices 1 and 2) on a pseudo-terminal, and runs the host
# on them: live weights, link states, a recipe loaded into controller 1, a
# recipe read back from controller 2, two batches, and their final amounts.
#
#   scripts/demo.sh [--duration TIME] [--keep-running] [--no-install] [--mqtt] [--build DIR]
#
# It ends by itself after --duration (default 40s); with --keep-running it
# runs until Ctrl-C, and commands can be typed (write START_UP1:1 1, help).
# With --mqtt the same plant runs through tk571-gateway instead: a local
# mosquitto on a free port, the gateway publishing every tag, the recipe and
# the batches written through the broker, and mosquitto_sub showing it all.
# With --build it runs the programs of that build tree as they are built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
duration=40s
host_extra=()
install=1
mqtt=0
build=
while [ $# -gt 0 ]; do
  case $1 in
    --duration) duration=${2:?--duration needs a time such as 40s}; shift ;;
    --keep-running) host_extra+=(--keep-running) ;;
    --no-install) install=0 ;;
    --mqtt) mqtt=1 ;;
    --build) build=$(cd "${2:?--build needs a build directory}" && pwd); shift ;;
    -h | --help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh: unknown option $1 (try --help)" >&2; exit 2 ;;
  esac
  shift
done

[ "$install" -eq 1 ] && "$root/scripts/install-deps.sh"
if [ -z "$build" ]; then
  build=$root/build
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target tk571_485 tk571-sim tk571-host >/dev/null
  [ "$mqtt" -eq 1 ] && cmake --build "$build" -j"$(nproc)" --target tk571-gateway >/dev/null
fi

# The driver's default parameter block is Com1, 9600 baud, 7 data bits, even
# parity, 1 stop bit; the simulator paces its characters the same way.
work=$(mktemp -d /tmp/tk571-demo.XXXXXX)
"$build/tools/sim/tk571-sim" --controllers 1,2 --baud 9600 --data-bits 7 --parity even \
  --stop-bits 1 --link "$work/tty" --fast-rate 50 --slow-rate 5 --settle 500 --seed 571 \
  --recipe 2:120/12/2,80/8/1,60/6/1,40/4/1 >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
helpers=()
cleanup() {
  for pid in "${helpers[@]}" "$sim_pid"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${helpers[@]}" "$sim_pid"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

for _ in $(seq 100); do
  [ -s "$work/sim.out" ] && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.log" >&2; exit 1; }
  sleep 0.1
done
link=$(head -n 1 "$work/sim.out")
[ -n "$link" ] || { echo "demo.sh: the simulator did not start" >&2; exit 1; }

if [ "$mqtt" -eq 1 ]; then
  . "$root/scripts/demo_mqtt.sh"
  exit $status
fi

cat <<INTRO
TK571 demo: two simulated batching controllers (devices 1 and 2) on $link,
reached by the driver as Com1 (TK571_COM1). The reference host polls them for
$duration${host_extra:+ (keeps running until Ctrl-C)}; run log and files in $work.

INTRO

# The driver writes its run log below the current directory (Debug/).
status=0
(
  cd "$work"
  TK571_COM1=$link exec "$build/tools/host/tk571-host" --library "$build/src/driver/libtk571_485.so" \
    --devices 1,2 --tags "$root/tools/host/demo/demo_tags.txt" \
    --script "$root/tools/host/demo/demo_script.txt" --duration "$duration" "${host_extra[@]}"
) || status=$?

echo
echo "Run log of the driver (code page 936): $work/Debug/TK571_485.Log"
echo "  read it with: iconv -f GBK -t UTF-8 $work/Debug/TK571_485.Log | less"
exit $status
