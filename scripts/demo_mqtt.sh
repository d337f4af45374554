# The --mqtt part of demo.sh (sourced by it, with $root, $build, $work, $link,
# $duration and $host_extra set): a local mosquitto on a free port,
# tk571-gateway with tools/gateway/demo/demo_plant.json, mosquitto_sub on the
# topics, and the demo's recipe and batches written through the broker.

port=
for candidate in $(seq 18830 18930); do
  if ! (exec 9<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then port=$candidate; break; fi
done
[ -n "$port" ] || { echo "demo.sh: no free local port for the broker" >&2; exit 1; }
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" \
  >"$work/mosquitto.conf"
mosquitto=$(command -v mosquitto || echo /usr/sbin/mosquitto)
"$mosquitto" -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
helpers+=($!)
for _ in $(seq 100); do
  (exec 9<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

sed "s#mqtt://127.0.0.1:1883#mqtt://127.0.0.1:$port#" "$root/tools/gateway/demo/demo_plant.json" \
  >"$work/gateway.json"
cat <<INTRO
TK571 MQTT demo: two simulated controllers on $link (Com1), tk571-gateway
publishing them to a mosquitto broker on 127.0.0.1:$port for $duration
${host_extra:+(until Ctrl-C) }with the topic prefix tk571. Below: what mosquitto_sub sees
(values, errors and batches; the meta data is retained beside them).
Gateway log and files in $work.

INTRO

sub() { mosquitto_sub -h 127.0.0.1 -p "$port" -v "$@"; }
pub() { mosquitto_pub -h 127.0.0.1 -p "$port" -t "tk571/devices/$1/controls/$2/on" -m "$3"; }

(cd "$work" && TK571_COM1=$link exec "$build/tools/gateway/tk571-gateway" \
  --config "$work/gateway.json" >"$work/gateway.log" 2>&1) &
gateway_pid=$!
helpers+=("$gateway_pid")
# Waits, and ends the demo at once with the gateway's own words when the
# gateway is gone.
wait_for() {
  local rounds=$(($1 * 10))
  for _ in $(seq "$rounds"); do
    if ! kill -0 "$gateway_pid" 2>/dev/null; then
      echo "demo.sh: tk571-gateway ended:" >&2
      sed 's/^/  /' "$work/gateway.log" >&2
      exit 1
    fi
    sleep 0.1
  done
}
sub -t 'tk571/devices/+/controls/+' -t 'tk571/devices/+/controls/+/meta/error' \
  -t 'tk571/devices/+/batch' -t 'tk571/gateway/+/status' | sed 's/^/  mqtt  /' &
helpers+=($!)

wait_for 2
echo "  ==> one control's meta data:"
sub -t tk571/devices/scale1/controls/weight/meta -C 1 -W 5 | sed 's/^/  mqtt  /' || wait_for 1
echo "  ==> scale1: set the recipe (200/20/2, 150/15/2, 100/10/1, 50/5/1) and load it"
m=1
for recipe in 200/20/2 150/15/2 100/10/1 50/5/1; do
  IFS=/ read -r final coarse fine <<<"$recipe"
  pub scale1 "target_$m" "$final"; pub scale1 "coarse_$m" "$coarse"; pub scale1 "fine_$m" "$fine"
  m=$((m + 1))
done
wait_for 1
pub scale1 load_recipe 1
wait_for 4
echo "  ==> scale1: start the batch"
pub scale1 run 1
wait_for 2
echo "  ==> scale2: read the controller's recipe, then start its batch"
pub scale2 read_recipe 1
wait_for 3
pub scale2 run 1

seconds=${duration%s}
case $duration in *m) seconds=$((${duration%m} * 60)) ;; esac
if [ ${#host_extra[@]} -gt 0 ]; then
  wait "$gateway_pid" || true
else
  wait_for "$((seconds > 12 ? seconds - 12 : 1))"
fi
kill -TERM "$gateway_pid" 2>/dev/null || true
wait "$gateway_pid" 2>/dev/null || true
sleep 1

echo
echo "Batches retained on the broker:"
sub -t 'tk571/devices/+/batch' --retained-only -W 2 2>/dev/null | sed 's/^/  /' || true
echo "Writes and their answers (gateway log):"
grep -E 'write |/run = |batch finished' "$work/gateway.log" | sed 's/^/  /' || true
echo
echo "Gateway log: $work/gateway.log; driver run log: $work/Debug/TK571_485.Log"
status=0
