#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Sets up what is missing, builds, and runs the tool's main job: receiver
# initialisation, then a short heartbeat session. With the receiver plugged
# in (USB 256f:c652) it talks to the real hardware; without it, to a virtual
# receiver that records what it is sent.
set -euo pipefail
cd "$(dirname "$0")"

tools/deps.sh build
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target pelmor-helper fakehid_shared >/dev/null
helper=build/pelmor-helper

# HID devices are named BUS:VENDOR:PRODUCT.N. Matched with a glob: a listing
# piped into grep -q can fail under pipefail when grep leaves at its first match.
if compgen -G '/sys/bus/hid/devices/*:256[Ff]:[Cc]652.*' >/dev/null; then
  # The settings the installed units send; the built-in ones where there is
  # no such file.
  config=/etc/pelmor/pelmor.conf
  echo "== A real receiver is attached: $helper --status, then --init-receiver =="
  echo "(it needs access to /dev/hidraw*: run as root or install the package, see README)"
  "$helper" --status --config "$config" || true
  status=0
  "$helper" --init-receiver --config "$config" || status=$?
  echo "exit status: $status"
  exit "$status"
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LD_LIBRARY_PATH="$PWD/build/virtual-receiver${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export FAKEHID_SCRIPT="$scratch/receiver.script" FAKEHID_LOG="$scratch/receiver.log"

# Shows the reports the virtual receiver was sent, from its record of calls.
show_reports() {
  awk -F'\t' '
    $1 == "open" && $4 != "null" { path[$4] = $2 }
    $1 == "feature" || $1 == "write" {
      kind = ($1 == "feature") ? "feature report" : "output report "
      hex = ""; for (i = 1; i <= length($4); i += 2) hex = hex substr($4, i, 2) " "
      printf "  %s %s (%d bytes): %s-> %s\n", $3, kind, length($4) / 2, hex, ($6 < 0 ? "refused" : "accepted")
    }' "$FAKEHID_LOG"
}

run() {
  echo "\$ pelmor-helper $*"
  status=0
  "$helper" "$@" || status=$?
  echo "exit status: $status"
}

echo "== No receiver is attached: this demo uses a VIRTUAL receiver (a stand-in HID library) =="
echo
echo "-- Receiver initialisation: two management interfaces (1 and 2) and the mouse (0) --"
for name in if0 if1 if2; do ln -s /dev/null "$scratch/$name"; done
cat >"$FAKEHID_SCRIPT" <<SCRIPT
enum 0 $scratch/if0
enum 1 $scratch/if1
enum 2 $scratch/if2
SCRIPT
printf 'speed=3\npolling_hz=500\n' >"$scratch/pelmor.conf"
run --init-receiver --config "$scratch/pelmor.conf"
echo "What the virtual receiver was sent:"
show_reports

echo
echo "-- Heartbeat: configure the node, write heartbeats, then the node is unplugged --"
rm -f "$FAKEHID_LOG"
ln -s /dev/null "$scratch/pelmor_config"
cat >"$FAKEHID_SCRIPT" <<SCRIPT
device $scratch/pelmor_config
vanish $scratch/pelmor_config write 3
SCRIPT
printf 'device_path=%s\nheartbeat_interval_sec=0.5\nheartbeat_startup_delay_sec=0\n' \
  "$scratch/pelmor_config" >"$scratch/heartbeat.conf"
run --heartbeat --config "$scratch/heartbeat.conf"
echo "What the virtual receiver was sent (it removes its node after the third heartbeat):"
show_reports
echo "(The virtual receiver accepts one-byte heartbeats; a real one behind the Linux hidraw"
echo " driver refuses the first with EINVAL, and the tool then writes no more: see"
echo " the opening section of the README.)"
