#!/usr/bin/env bash
# tk571-gateway's Modbus server under many clients: one line of tk571-sim at
# 115200 baud with controllers 1 and 2, and N (20) mbpoll clients that each
# read a weight with its status and age every 10 ms. The line's own rate (READ
# requests in the simulator's trace per second) is measured over a window
# without clients and over one with them, and so are the gateway's CPU time
# and memory. A measurement, not a test: the figures depend on the machine.
#
#   bench/modbus_bench.sh [--build DIR] [--clients N] [--interval MS] [--duration SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
clients=20
interval=10
duration=60
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(cd "$2" && pwd); shift ;;
    --clients) clients=$2; shift ;;
    --interval) interval=$2; shift ;;
    --duration) duration=$2; shift ;;
    *) echo "modbus_bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
for program in tools/gateway/tk571-gateway tools/sim/tk571-sim src/driver/libtk571_485.so; do
  [ -e "$build/$program" ] || { echo "modbus_bench.sh: build $program first ($build)" >&2; exit 2; }
done
command -v mbpoll >/dev/null || { echo "modbus_bench.sh: needs mbpoll" >&2; exit 2; }

work=$(mktemp -d /tmp/tk571-modbus-bench.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  for candidate in $(seq "$1" $(($1 + 100))); do
    if ! (exec 9<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then echo "$candidate"; return; fi
  done
}
port=$(free_port 15020)
nobroker=$(free_port 18830)

"$build/tools/sim/tk571-sim" --controllers 1,2 --baud 115200 --data-bits 8 --parity none \
  --link "$work/tty" --trace "$work/trace" >"$work/sim.out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.1; done
devices=
for d in 1 2; do
  devices+="${devices:+, }{\"number\": $d, \"name\": \"s$d\", \"tags\": [{\"name\": \"weight\", \"address\": \"READ$d:1\", \"scan_ms\": 10}]}"
done
cat >"$work/gateway.json" <<EOF
{"library": "$build/src/driver/libtk571_485.so",
 "broker": {"url": "mqtt://127.0.0.1:$nobroker", "reconnect_max_s": 3600},
 "modbus": {"port": $port, "max_clients": $((clients + 4))},
 "lines": [{"name": "line1", "port": "$work/tty", "baud": 115200, "data_bits": 8,
            "parity": "none", "devices": [$devices]}]}
EOF
(cd "$work" && exec "$build/tools/gateway/tk571-gateway" --config gateway.json >"$work/gateway.log" 2>&1) &
gateway_pid=$!
pids+=("$gateway_pid")
for _ in $(seq 200); do grep -q 's2: link 1 (normal)' "$work/gateway.log" 2>/dev/null && break; sleep 0.1; done
sleep 2

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
reads() { grep -c '>> 52 45 41 44 0D 0A' "$work/trace" || true; }
hz=$(getconf CLK_TCK)
# One window: READ requests per second, gateway CPU % of one core.
window() {
  local r0 t0 r1 t1
  r0=$(reads); t0=$(ticks "$gateway_pid")
  sleep "$duration"
  r1=$(reads); t1=$(ticks "$gateway_pid")
  awk -v r=$((r1 - r0)) -v t=$((t1 - t0)) -v hz="$hz" -v d="$duration" \
    'BEGIN {printf "%.1f %.1f", r / d, 100 * t / hz / d}'
}
rss() { awk '/VmRSS/ {print $2}' "/proc/$gateway_pid/status"; }

read -r quiet_rate quiet_cpu <<<"$(window)"
quiet_rss=$(rss)
for n in $(seq 1 "$clients"); do
  mbpoll -m tcp -a 1 -0 -r 100 -c 4 -t 3 -l "$interval" -o 1 -p "$port" 127.0.0.1 \
    >"$work/client$n.out" 2>&1 &
  pids+=($!)
done
sleep 1
read -r busy_rate busy_cpu <<<"$(window)"
busy_rss=$(rss)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gateway_pid/status")
threads=$(awk '/Threads/ {print $2}' "/proc/$gateway_pid/status")
polls=$(cat "$work"/client*.out | grep -c '^\[100\]:' || true)
failed=$(cat "$work"/client*.out | grep -ci 'failed\|error' || true)

echo "== $(date -u +%FT%TZ) on $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "one line, 2 controllers at 115200 8N1, weights only; ${duration} s windows"
echo "without clients:   line ${quiet_rate} READ/s, gateway CPU ${quiet_cpu}% of one core, RSS ${quiet_rss} kB"
echo "with $clients clients every ${interval} ms: line ${busy_rate} READ/s, gateway CPU ${busy_cpu}%, RSS ${busy_rss} kB (peak ${hwm} kB), ${threads} threads"
awk -v p="$polls" -v c="$clients" -v d="$duration" -v i="$interval" \
  'BEGIN {printf "client polls answered: %d (%.0f per second; asked for %.0f)\n", p, p / (d + 1), c * 1000 / i}'
echo "client errors: $failed"
