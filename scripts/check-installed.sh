#!/usr/bin/env bash
# The installed package on a fresh Debian 12 root without Qt: debootstrap
# (minbase) into a temporary directory, `cmake --install` of the runtime and
# tools components into its /usr/local, then, inside it (chroot), the
# reference host against the simulator (scan, a one-shot read with its exit
# code, JSON output), the port diagnostics of every kind, and the gateway's
# configuration check. Needs root (debootstrap, chroot, mounts) and the
# network for the Debian mirror; takes a few minutes. Not part of the tests.
#   scripts/check-installed.sh [build dir, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
[ "$(id -u)" -eq 0 ] || { echo "run as root (debootstrap, chroot)" >&2; exit 1; }
[ -x "$build/tools/host/tk571-host" ] || { echo "build $build first" >&2; exit 1; }
command -v debootstrap >/dev/null || {
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
}

root=$(mktemp -d /tmp/tk571-debian12.XXXXXX)
chmod 755 "$root"
cleanup() {
  for m in dev/pts dev sys proc; do umount -l "$root/$m" 2>/dev/null || true; done
  rm -rf --one-file-system "$root"
}
trap cleanup EXIT
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -20 "$root.debootstrap.log" >&2; exit 1; }
rm -f "$root.debootstrap.log"
for component in runtime tools; do
  cmake --install "$build" --prefix "$root/usr/local" --component "$component" >/dev/null
done
mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/local/bin:/usr/local/sbin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
in_root ldconfig
in_root sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends libmosquitto1 >/dev/null'

failures=0
expect() {
  local what=$1 pattern=$2
  shift 2
  local out
  out=$("$@" 2>&1) || true
  if grep -q -- "$pattern" <<<"$out"; then
    echo "ok: $what"
  else
    echo "FAILED: $what: no \"$pattern\" in:" >&2
    echo "$out" >&2
    failures=$((failures + 1))
  fi
}

# No toolkit in the root: the driver and the tools run headless.
if in_root sh -c 'ls /usr/lib/*/libQt6Core.so* >/dev/null 2>&1'; then
  echo "FAILED: Qt is present in the root" >&2
  failures=$((failures + 1))
fi
expect "the host names its version" "tk571-host" in_root tk571-host --version
expect "the host lists the serial devices" "/dev/" in_root tk571-host ports

# Two simulated controllers at 9600 baud 7E1 on a pseudo-terminal.
in_root sh -c 'tk571-sim --controllers 1,2 --data-bits 7 --parity even \
  >/tmp/sim.out 2>/tmp/sim.err & echo $! >/tmp/sim.pid'
for _ in $(seq 50); do [ -s "$root/tmp/sim.out" ] && break; sleep 0.1; done
line=$(head -n 1 "$root/tmp/sim.out")
line_opts=(--device "$line" --data-bits 7 --parity even)
expect "scan finds the answering devices" "1, 2\|1 2\|devices: 1" \
  in_root tk571-host "${line_opts[@]}" scan
printf '1 W1 READ1:1 2 100ms\n2 W2 READ2:1 2 100ms\n' >"$root/tmp/tags.txt"
printf '3 W3 READ3:1 2 100ms\n' >>"$root/tmp/tags3.txt"
cat "$root/tmp/tags.txt" >>"$root/tmp/tags3.txt"
expect "a one-shot read gives both weights as JSON" '"address":"READ2:1"' \
  in_root tk571-host "${line_opts[@]}" --devices 1,2 --tags /tmp/tags.txt --once --format json
if in_root tk571-host "${line_opts[@]}" --devices 1,2,3 --tags /tmp/tags3.txt --once >/dev/null 2>&1; then
  echo "FAILED: a one-shot read with a silent device ended with 0" >&2
  failures=$((failures + 1))
else
  echo "ok: a one-shot read with a silent device ends with a failure code"
fi

# The port diagnostics.
expect "a missing device" "does not exist" in_root tk571-host --device /dev/ttyNOPE ports
expect "not a serial device" "not a serial device" in_root tk571-host --device /dev/null ports
in_root sh -c "sleep 600 <$line & echo \$! >/tmp/holder.pid"
expect "a port another program holds" "held by process" in_root tk571-host --device "$line" ports
in_root sh -c 'kill $(cat /tmp/holder.pid)'
lock_name=LCK..$(basename "$line")
in_root sh -c "mkdir -p /var/lock && sleep 600 & printf '%10d\n' \$! >/var/lock/$lock_name"
expect "a live UUCP lock file" "locked by process" in_root tk571-host --device "$line" ports
in_root sh -c "kill \$(cat /var/lock/$lock_name); rm -f /var/lock/$lock_name"
in_root sh -c 'groupadd -f dialout; useradd -m plant 2>/dev/null || true'
# A node of the first on-board UART's device numbers, owned by dialout.
in_root sh -c 'mknod -m 660 /tmp/ttyS9 c 4 64 && chgrp dialout /tmp/ttyS9'
expect "permission denied, with the group to join" "add the user to group dialout" \
  in_root su plant -s /bin/sh -c 'tk571-host --device /tmp/ttyS9 ports'

# The gateway checks its configuration against its schema.
echo '{"lines": [{"port": 17}]}' >"$root/tmp/gateway.json"
expect "the gateway names the faulty path of its configuration" "/lines/0" \
  in_root tk571-gateway --config /tmp/gateway.json --check

in_root sh -c 'kill $(cat /tmp/sim.pid)' || true
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "the installed package works in a fresh Debian 12 root"
