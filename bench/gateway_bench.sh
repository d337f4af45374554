#!/usr/bin/env bash
# tk571-gateway under load: N lines (default 8) of tk571-sim at 115200 baud,
# two controllers each, both dosing all the time, into a local mosquitto.
# Counts the messages a subscriber receives over the window and the CPU time
# and memory of the gateway process (and, for comparison, of the broker and
# the simulators). A measurement, not a test: the figures depend on the
# machine and on what else runs on it.
#
#   bench/gateway_bench.sh [--build DIR] [--lines N] [--window SECONDS] [--weights-only]
#                          [--stall SECONDS]
#
# By default each controller has its live weight, its four final amounts
# (ENQ) and its start switch; --weights-only leaves out the final amounts, whose
# status query the driver polls beside the weight. --stall stops the broker
# (SIGSTOP) for that long after the window and samples the gateway's memory
# every second meanwhile: what a stalled broker costs it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
lines=8
window=30
enq=1
stall=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift ;;
    --lines) lines=$2; shift ;;
    --window) window=$2; shift ;;
    --weights-only) enq=0 ;;
    --stall) stall=$2; shift ;;
    *) echo "gateway_bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for program in tools/gateway/tk571-gateway tools/sim/tk571-sim src/driver/libtk571_485.so; do
  [ -e "$build/$program" ] || { echo "gateway_bench.sh: build $program first ($build)" >&2; exit 2; }
done

work=$(mktemp -d /tmp/tk571-gateway-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

port=
for candidate in $(seq 18930 19030); do
  if ! (exec 9<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$work/m.conf"
"$(command -v mosquitto || echo /usr/sbin/mosquitto)" -c "$work/m.conf" >"$work/m.log" 2>&1 &
broker_pid=$!
pids+=("$broker_pid")

# Long recipes at a high feed rate: the weights change at every reading for
# minutes.
recipe=4000/400/10,4000/400/10,4000/400/10,4000/400/10
sim_pids=()
line_json=()
for n in $(seq 1 "$lines"); do
  "$build/tools/sim/tk571-sim" --controllers 1,2 --baud 115200 --data-bits 8 --parity none \
    --link "$work/tty$n" --fast-rate 100 --slow-rate 10 --seed "$n" \
    --recipe "1:$recipe" --recipe "2:$recipe" >"$work/sim$n.out" 2>/dev/null &
  sim_pids+=($!)
  pids+=($!)
  devices=
  for d in 1 2; do
    tags="{\"name\": \"weight\", \"address\": \"READ$d:1\", \"scan_ms\": 10}"
    [ "$enq" -eq 0 ] || for m in 1 2 3 4; do tags+=", {\"name\": \"final_$m\", \"address\": \"ENQ$d:$m\", \"scan_ms\": 10}"; done
    tags+=", {\"name\": \"run\", \"address\": \"START_UP$d:1\"}"
    devices+="${devices:+, }{\"number\": $d, \"name\": \"l${n}s$d\", \"tags\": [$tags]}"
  done
  line_json+=("{\"name\": \"line$n\", \"port\": \"$work/tty$n\", \"baud\": 115200, \"data_bits\": 8, \"parity\": \"none\", \"devices\": [$devices]}")
done
for n in $(seq 1 "$lines"); do
  for _ in $(seq 100); do [ -e "$work/tty$n" ] && break; sleep 0.1; done
done
(IFS=,; echo "{\"library\": \"$build/src/driver/libtk571_485.so\", \"broker\": {\"url\": \"mqtt://127.0.0.1:$port\", \"client_id\": \"bench\", \"topic_prefix\": \"bench\", \"qos\": 0}, \"writes\": {\"enabled\": true, \"commands\": true}, \"lines\": [${line_json[*]}]}") >"$work/gateway.json"

(cd "$work" && exec "$build/tools/gateway/tk571-gateway" --config gateway.json >"$work/gateway.log" 2>&1) &
gateway_pid=$!
pids+=("$gateway_pid")
for _ in $(seq 200); do grep -q 'connected,' "$work/gateway.log" 2>/dev/null && break; sleep 0.1; done
sleep 2
for n in $(seq 1 "$lines"); do
  for d in 1 2; do mosquitto_pub -p "$port" -t "bench/devices/l${n}s$d/controls/run/on" -m 1; done
done
sleep 3

# CPU ticks (user + system) of a process, from /proc.
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
gateway_before=$(ticks "$gateway_pid")
broker_before=$(ticks "$broker_pid")
sims_before=0
for pid in "${sim_pids[@]}"; do sims_before=$((sims_before + $(ticks "$pid"))); done
mosquitto_sub -p "$port" -v -t 'bench/#' -R -W "$window" >"$work/received" 2>/dev/null || true
gateway_after=$(ticks "$gateway_pid")
broker_after=$(ticks "$broker_pid")
sims_after=0
for pid in "${sim_pids[@]}"; do sims_after=$((sims_after + $(ticks "$pid"))); done

messages=$(wc -l <"$work/received")
rss=$(awk '/VmRSS/ {print $2}' "/proc/$gateway_pid/status")
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gateway_pid/status")
threads=$(awk '/Threads/ {print $2}' "/proc/$gateway_pid/status")
percent() { awk -v t="$1" -v hz="$hz" -v w="$window" 'BEGIN {printf "%.1f", 100 * t / hz / w}'; }
echo "== $(date -u +%FT%TZ) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "lines: $lines x 2 controllers at 115200 8N1, $([ "$enq" -eq 1 ] && echo "weights and final amounts" || echo "weights only"), ${window} s window"
awk -v m="$messages" -v w="$window" 'BEGIN {printf "messages received: %d (%.0f per second)\n", m, m / w}'
echo "gateway CPU: $(percent $((gateway_after - gateway_before)))% of one core; RSS ${rss} kB (peak ${hwm} kB), ${threads} threads"
echo "broker CPU: $(percent $((broker_after - broker_before)))%; simulators CPU: $(percent $((sims_after - sims_before)))% together"
echo "messages per device:"
awk '{print $1}' "$work/received" | sed -E 's#/controls/.*##; s#^bench/devices/##' | sort | uniq -c |
  awk '{printf "  %s %d", $2, $1} END {print ""}'
if [ "$stall" -gt 0 ]; then
  rss_kb() { awk '/VmRSS/ {print $2}' "/proc/$gateway_pid/status"; }
  before=$(rss_kb)
  most=$before
  kill -STOP "$broker_pid"
  for _ in $(seq "$stall"); do
    sleep 1
    now=$(rss_kb)
    [ "$now" -gt "$most" ] && most=$now
  done
  kill -CONT "$broker_pid"
  sleep 5
  echo "broker stopped for ${stall} s: gateway RSS ${before} kB before, at most ${most} kB meanwhile, $(rss_kb) kB 5 s after"
fi
