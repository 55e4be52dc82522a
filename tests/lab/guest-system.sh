#!/bin/bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The whole-system lab, inside a Debian guest booted with systemd as PID 1,
# the project's package installed with dpkg; the receivers are USB gadgets
# (tests/lab/lib/system.sh). Its actions, each a unit of the guest:
#   early       before udev starts: build the gadgets, bind the first for a
#               coldplug boot (pelmor.lab=coldplug on the kernel command line)
#   readers     log what each function receives, for the whole boot
#   scenarios   run the scenarios named by pelmor.scenarios= on the kernel
#               command line (tests/lab/system/NAME.sh), in that order, each
#               in a process of its own: PASS/FAIL and TIME lines on ttyS1,
#               the journal on ttyS2 at the end, then power off
set -u
# shellcheck source=tests/lab/lib/system.sh
. "${BASH_SOURCE[0]%/*}/lib/system.sh"
MODE=$(sed -n 's/.*pelmor\.lab=\([a-z]*\).*/\1/p' /proc/cmdline)

# A gadget 256f:c652 whose configuration has the given functions, in
# interface order.
gadget() { # folder serial function...
  local g=$1 f
  mkdir -p "$g/strings/0x409" "$g/configs/c.1"
  echo 0x256f >"$g/idVendor"
  echo 0xc652 >"$g/idProduct"
  echo "pelmor lab" >"$g/strings/0x409/manufacturer"
  echo "emulated receiver" >"$g/strings/0x409/product"
  echo "$2" >"$g/strings/0x409/serialnumber"
  shift 2
  for f in "$@"; do
    f="$g/functions/$f"
    mkdir "$f"
    case $f in
      */hid.*)
        echo 0 >"$f/protocol"
        echo 0 >"$f/subclass"
        echo 32 >"$f/report_length"
        echo 1 >"$f/no_out_endpoint"
        cat "$LAB/report_desc.bin" >"$f/report_desc"
        ;;
    esac
    ln -s "$f" "$g/configs/c.1/"
  done
}

early() {
  modprobe configfs && modprobe dummy_hcd num=2 && modprobe libcomposite && modprobe usb_f_hid \
    && modprobe usb_f_serial || return 1
  mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config || return 1
  gadget "$G" A hid.usb0 hid.usb1 hid.usb2 || return 1
  gadget "$G2" B gser.usb0 hid.usb3 || return 1
  [ "$MODE" != coldplug ] || plug
}

# The gadget keeps one report received through the control endpoint until
# it is read, and a second one replaces it: a reader that runs late on the
# one emulated CPU loses a report the tool did send (the configuration run
# and the heartbeat send to interface 1 within tens of milliseconds). The
# readers run at a real-time priority, so that each report is read as soon
# as it is there.
readers() {
  local i rt=()
  mkdir -p "$LOGS"
  if chrt -f 50 true 2>/dev/null; then rt=(chrt -f 50); fi
  for i in 0 1 2 3; do
    "${rt[@]}" "$LAB/hidg-log" "/dev/hidg$i" "$LOGS/hidg$i.log" &
  done
  wait
}

# What the guest must be between scenarios: both receivers out, everything
# of the tool stopped, no failed unit, and the package installed as shipped
# (its version, its configuration file as shipped, what it made beside its
# files as at the start). The guest is put so after each scenario, with as
# little as will do: what was wrong with the units once the receivers are
# out fails the scenario, since no scenario may leave that behind. Prints
# what was wrong.
leave_as_found() { # fresh-package-state
  local why="" version
  unplug_second
  unplug
  wait_until 10 unlinked || why="$why the link is left after unplugging;"
  wait_until 10 heartbeat_inactive || why="$why the heartbeat runs after unplugging;"
  wait_until 10 helper_gone || why="$why pelmor-helper runs after unplugging: $(pgrep -a pelmor-helper);"
  if [ -n "$(failed_units)" ]; then
    why="$why failed: $(failed_units | tr '\n' ' ');"
    systemctl reset-failed 'pelmor*'
  fi
  version=$(dpkg-deb -f "$LAB/pelmor-helper.deb" Version)
  if [ "$(dpkg-query -W -f '${Version} ${db:Status-Status}' pelmor-helper 2>/dev/null)" != "$version installed" ]; then
    dpkg -i "$LAB/pelmor-helper.deb" >/dev/null 2>&1 </dev/null || why="$why the package cannot be installed again;"
  fi
  cmp -s "$CONF" "$LOGS/pelmor.conf.shipped" || cp "$LOGS/pelmor.conf.shipped" "$CONF"
  if [ "$(package_state)" != "$1" ]; then
    dpkg --purge pelmor-helper >/dev/null 2>&1
    dpkg -i "$LAB/pelmor-helper.deb" >/dev/null 2>&1 </dev/null || why="$why the package cannot be installed again;"
  fi
  echo "$why"
}

# Runs one scenario and says its verdict, with the time it took (the guest
# put back included), for the test command's summary.
run_scenario() { # name fresh-package-state
  local name=$1 start status=0 why left
  start=$(uptime_ms)
  echo "-- $name"
  rm -f "$LOGS/why"
  if [ -x "$LAB/system/$name.sh" ]; then
    LAB_WHY=$LOGS/why "$LAB/system/$name.sh" || status=$?
  else
    echo "no such scenario" >"$LOGS/why"
    status=2
  fi
  why=$(cat "$LOGS/why" 2>/dev/null)
  [ "$status" = 0 ] || [ -n "$why" ] || why="exit status $status"
  left=$(leave_as_found "$2")
  [ -z "$left" ] || why="${why:+$why; }left behind:$left"
  figure "verdict-$name-ms" "$(($(uptime_ms) - start))"
  if [ "$status" = 0 ] && [ -z "$left" ]; then
    echo "LAB PASS $name"
  else
    echo "LAB FAIL $name: $why" | tr '\n' ' '
    echo
  fi
}
uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }

scenarios() {
  local name fresh
  stty -F /dev/ttyS1 raw -echo 2>/dev/null
  exec >/dev/ttyS1 2>&1
  echo "== whole-system lab ($MODE): kernel $(uname -r), $(systemctl --version | head -n 1)"
  systemctl is-system-running --wait >/dev/null
  figure boot-ms "$(uptime_ms)"
  systemd-analyze time | head -n 1
  fresh=$(package_state)
  cp "$CONF" "$LOGS/pelmor.conf.shipped"
  for name in $(sed -n 's/.*pelmor\.scenarios=\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' '); do
    run_scenario "$name" "$fresh"
  done
  echo "LAB DONE"
  stty -F /dev/ttyS2 raw -echo 2>/dev/null
  journalctl -b --no-pager -o short-monotonic >/dev/ttyS2 2>&1
  sleep 1
  systemctl poweroff --force --force
}

"$@"
