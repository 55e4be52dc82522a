#!/bin/sh
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# /init of the lab's USB variant: a USB gadget 256f:c652 with three HID
# interfaces (0, 1, 2) on dummy_hcd, seen by the same kernel through usbhid,
# so that hidapi reports real interface numbers. Checks that
# --init-receiver picks interfaces 1 and 2 and never 0, and, with
# systemd-udevd running the project's rule, that /dev/pelmor_config links to
# interface 1 and goes away when the gadget is unbound.
export PATH=/bin:/sbin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
for module in $(cat /lib/modules/load-order); do
  insmod "/lib/modules/$module.ko" || echo "LAB FAIL insmod $module"
done
mount -t configfs configfs /sys/kernel/config

pass() { echo "LAB PASS $1"; }
fail() { echo "LAB FAIL $1: $2"; }

echo "== lab (USB): kernel $(uname -r)"

UDEVD=$(ls /lib/systemd/systemd-udevd /usr/lib/systemd/systemd-udevd 2>/dev/null | head -n 1)
if [ -n "$UDEVD" ]; then
  "$UDEVD" --daemon || UDEVD=
fi

G=/sys/kernel/config/usb_gadget/pelmor
mkdir "$G"
echo 0x256f >"$G/idVendor"
echo 0xc652 >"$G/idProduct"
mkdir "$G/strings/0x409"
echo "pelmor lab" >"$G/strings/0x409/manufacturer"
echo "emulated receiver" >"$G/strings/0x409/product"
mkdir "$G/configs/c.1"
for i in 0 1 2; do
  f="$G/functions/hid.usb$i"
  mkdir "$f"
  echo 0 >"$f/protocol"
  echo 0 >"$f/subclass"
  echo 32 >"$f/report_length"
  cat /etc/report_desc.bin >"$f/report_desc"
  ln -s "$f" "$G/configs/c.1/"
done
echo dummy_udc.0 >"$G/UDC"

# Waits for the three hidraw nodes.
for _ in $(seq 100); do
  [ "$(ls /sys/class/hidraw 2>/dev/null | wc -l)" -ge 3 ] && break
  sleep 0.1
done
[ -n "$UDEVD" ] && udevadm settle --timeout=10

# The hidraw node of each USB interface number.
for node in $(ls /sys/class/hidraw); do
  number=$(cat "/sys/class/hidraw/$node/device/../bInterfaceNumber")
  echo "/dev/$node is interface $number"
  eval "IF$number=/dev/$node"
done

/bin/pelmor-helper --init-receiver --config /tmp/absent.conf >/tmp/out 2>/tmp/err
status=$?
echo "init-receiver status $status"; cat /tmp/out /tmp/err
targets=$(sed -n 's/^正在配置设备 \([^ ]*\) .*/\1/p' /tmp/out | sort | tr '\n' ' ')
expected=$(printf '%s\n%s\n' "$IF01" "$IF02" | sort | tr '\n' ' ')
if [ -n "$IF00" ] && [ -n "$IF01" ] && [ -n "$IF02" ] && [ "$targets" = "$expected" ]; then
  pass usb-interfaces-1-and-2-only
else
  fail usb-interfaces-1-and-2-only "targets '$targets', expected '$expected'"
fi

if [ -z "$UDEVD" ]; then
  fail udev-rule "systemd-udevd could not be started"
else
  tagged=0
  for node in "$IF00" "$IF01" "$IF02"; do
    echo "udev: $node: $(udevadm info "$node" | grep -E '^(S:|E: ID_USB_INTERFACE_NUM|E: TAGS|E: SYSTEMD_WANTS)' | tr '\n' ' ')"
    udevadm info "$node" | grep -q '^E: TAGS=.*:uaccess:' && tagged=$((tagged + 1))
  done
  if [ "$tagged" = 3 ]; then pass udev-uaccess-on-every-interface
  else fail udev-uaccess-on-every-interface "$tagged of 3 nodes tagged"; fi
  receiver=$(grep -l 256f /sys/bus/usb/devices/*/idVendor | head -n 1)
  wants=$(udevadm info -q property -p "${receiver%/idVendor}" | sed -n 's/^SYSTEMD_WANTS=//p')
  echo "udev: the receiver's USB device wants: $wants"
  if [ "$wants" = pelmor-init-receiver.service ]; then pass udev-init-unit-requested
  else fail udev-init-unit-requested "SYSTEMD_WANTS '$wants'"; fi
  linked=0
  if [ -L /dev/pelmor_config ]; then
    linked=1
    link=$(readlink -f /dev/pelmor_config)
    echo "/dev/pelmor_config -> $link"
    if [ "$link" = "$IF01" ]; then pass udev-link-to-interface-1
    else fail udev-link-to-interface-1 "links to '$link', interface 1 is '$IF01'"; fi
  else
    fail udev-link-to-interface-1 "no /dev/pelmor_config link"
  fi
  echo "" >"$G/UDC"
  udevadm settle --timeout=10
  if [ "$linked" = 1 ] && [ ! -e /dev/pelmor_config ] && [ ! -L /dev/pelmor_config ]; then
    pass udev-link-removed-on-unbind
  else
    fail udev-link-removed-on-unbind "linked before: $linked; now: $(ls -l /dev/pelmor_config 2>&1)"
  fi
fi

echo "LAB DONE"
poweroff -f
