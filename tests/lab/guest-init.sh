#!/bin/sh
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# /init of the lab's uhid guest: loads the HID modules, runs the scenarios
# named by pelmor.scenarios= on the kernel command line
# (tests/lab/uhid/NAME.sh, in /lab/uhid here), in that order, each in a
# process of its own, prints "LAB PASS name" or "LAB FAIL name: why" for
# each, then "LAB DONE", and powers off.
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
while read -r module; do
  insmod "/lib/modules/$module.ko" || echo "LAB FAIL insmod $module"
done </lib/modules/load-order

uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
no_hidraw_node() { ! ls /dev/hidraw* >/dev/null 2>&1; }

# What each scenario finds: no receiver, no link, an empty /tmp. Prints
# what the scenario left that the guest could not be rid of.
leave_as_found() {
  killall uhid-receiver 2>/dev/null
  rm -rf /dev/pelmor_config /tmp/* 2>/dev/null
  for _ in $(seq 50); do
    if no_hidraw_node; then return; fi
    sleep 0.1
  done
  echo "a hidraw node is left:" /dev/hidraw*
}

echo "== lab: kernel $(uname -r)"
for name in $(sed -n 's/.*pelmor\.scenarios=\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' '); do
  echo "-- $name"
  start=$(uptime_ms)
  status=0
  if [ -x "/lab/uhid/$name.sh" ]; then
    LAB_WHY=/run-why "/lab/uhid/$name.sh" || status=$?
  else
    echo "no such scenario" >/run-why
    status=2
  fi
  why=$(cat /run-why 2>/dev/null)
  rm -f /run-why
  [ "$status" = 0 ] || [ -n "$why" ] || why="exit status $status"
  left=$(leave_as_found)
  [ -z "$left" ] || why="${why:+$why; }left behind: $left"
  echo "LAB TIME verdict-$name-ms $(($(uptime_ms) - start))"
  if [ "$status" = 0 ] && [ -z "$left" ]; then
    echo "LAB PASS $name"
  else
    echo "LAB FAIL $name: $why" | tr '\n' ' '
    echo
  fi
done

echo "LAB DONE"
poweroff -f
