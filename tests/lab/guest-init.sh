#!/bin/sh
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# /init of the lab's virtual machine: loads the HID modules, runs every
# scenario against emulated receivers on /dev/uhid, prints "LAB PASS name" or
# "LAB FAIL name" for each, then "LAB DONE", and powers off.
export PATH=/bin:/sbin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
while read -r module; do
  insmod "/lib/modules/$module.ko" || echo "LAB FAIL insmod $module"
done </lib/modules/load-order

DEFAULTS=10001c0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
LEVEL5_125HZ_OFF=1000230008ff000000000000000000000003000a0b0c0c0e0d2f001e00000001
HELPER=/bin/pelmor-helper

# Each verdict comes with the time since the one before it: what the
# scenario took, for the test command's summary.
uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
LAST_VERDICT_MS=$(uptime_ms)
verdict_time() { # scenario
  now_ms=$(uptime_ms)
  echo "LAB TIME verdict-$1-ms $((now_ms - LAST_VERDICT_MS))"
  LAST_VERDICT_MS=$now_ms
}
pass() { echo "LAB PASS $1"; verdict_time "$1"; }
fail() { echo "LAB FAIL $1: $2"; verdict_time "$1"; }

# Compares a file with the expected text; shows both on a mismatch.
same() { # name file expected
  printf '%s' "$3" >/tmp/expected
  if cmp -s "$2" /tmp/expected; then return 0; fi
  echo "--- $1: expected"; cat /tmp/expected; echo "--- $1: got"; cat "$2"; echo "---"
  return 1
}

# The hidraw nodes there are, one a line.
hidraw_nodes() {
  for node in /dev/hidraw*; do
    [ ! -e "$node" ] || echo "$node"
  done
}

# Starts an emulated receiver in the background and waits for its node.
# Sets RECEIVER_PID and NODE.
start_receiver() { # name [options]
  name=$1; shift
  before=$(hidraw_nodes)
  /bin/uhid-receiver -n "$name" "$@" >"/tmp/$name.log" 2>&1 &
  RECEIVER_PID=$!
  RECEIVER_PIDS="$RECEIVER_PIDS $RECEIVER_PID"
  NODE=
  for _ in $(seq 50); do
    for node in /dev/hidraw*; do
      [ -e "$node" ] || continue
      echo "$before" | grep -qx "$node" || NODE=$node
    done
    [ -n "$NODE" ] && return 0
    sleep 0.1
  done
  fail "start $name" "no hidraw node appeared"; cat "/tmp/$name.log"
  return 1
}

RECEIVER_PIDS=
stop_receivers() {
  for pid in $RECEIVER_PIDS; do kill "$pid" 2>/dev/null; done
  wait
  RECEIVER_PIDS=
  for _ in $(seq 50); do [ -n "$(hidraw_nodes)" ] || return 0; sleep 0.1; done
}

run_helper() { # arguments...; sets STATUS, output in /tmp/out and /tmp/err
  "$HELPER" "$@" >/tmp/out 2>/tmp/err
  STATUS=$?
}

scenario_init_two_interfaces() { # name config expected-report speed poll
  start_receiver rA && A=$NODE && start_receiver rB && B=$NODE || return
  run_helper --init-receiver --config "$2"
  stop_receivers
  ok=1
  [ "$STATUS" = 0 ] || { ok=0; echo "status $STATUS"; }
  loaded=""; [ -f "$2" ] && loaded="已加载配置: $2
"
  progress="正在配置设备 $A (speed=$4, poll=$5Hz)...
正在配置设备 $B (speed=$4, poll=$5Hz)...
"
  # hidapi lists the nodes in the order the kernel made them.
  same "$1 stdout" /tmp/out "$loaded$progress" || ok=0
  for r in rA rB; do
    grep -qx "$r SET_REPORT type=feature id=0x10 size=32 data=$3" "/tmp/$r.log" \
      || { ok=0; echo "$r got:"; cat "/tmp/$r.log"; }
  done
  if [ $ok = 1 ]; then pass "$1"; else fail "$1" "see above"; fi
}

echo "== lab: kernel $(uname -r)"

printf 'speed=5\npolling_hz=125\nremap_wheel=off\nremap_gesture=off\n' >/tmp/level5.conf
scenario_init_two_interfaces init-defaults /tmp/absent.conf "$DEFAULTS" 4 1000
scenario_init_two_interfaces init-config-file /tmp/level5.conf "$LEVEL5_125HZ_OFF" 5 125

# One interface refuses the feature report: both are tried, each under its
# own progress line, the refusal comes with the library's real text, and the
# run succeeds since the other accepted.
if start_receiver ok && OK=$NODE && start_receiver refusing -r && BAD=$NODE; then
  run_helper --init-receiver --config /tmp/absent.conf
  stop_receivers
  echo "init-one-refusing stderr: $(cat /tmp/err)"
  if [ "$STATUS" = 0 ] && grep -q "^  发送失败: send_feature: " /tmp/err \
      && grep -qxF "正在配置设备 $OK (speed=4, poll=1000Hz)..." /tmp/out \
      && grep -qxF "正在配置设备 $BAD (speed=4, poll=1000Hz)..." /tmp/out \
      && grep -q "ok SET_REPORT type=feature id=0x10 size=32 data=$DEFAULTS" /tmp/ok.log \
      && grep -q "refusing SET_REPORT type=feature id=0x10 size=32" /tmp/refusing.log; then
    pass init-one-refusing
  else
    fail init-one-refusing "status $STATUS"; cat /tmp/out /tmp/err /tmp/ok.log /tmp/refusing.log
  fi
fi

# Heartbeat through /dev/pelmor_config: the configuration arrives as a feature
# report, the first one-byte heartbeat is refused by hidraw (EINVAL) and no
# other is written, then the receiver goes away and so does the node the
# link points to.
if start_receiver hb; then
  ln -s "$NODE" /dev/pelmor_config
  printf 'heartbeat_interval_sec=0.2\nheartbeat_startup_delay_sec=0\n' >/tmp/hb.conf
  ( sleep 1.5; kill "$RECEIVER_PID" ) &
  run_helper --heartbeat --config /tmp/hb.conf
  wait
  ok=1
  [ "$STATUS" = 0 ] || { ok=0; echo "status $STATUS"; }
  same "heartbeat stdout" /tmp/out "已加载配置: /tmp/hb.conf
正在发送 Feature 初始化配置 (speed=4, poll=1000Hz)...
初始化成功。
进入心跳维持模式 (间隔 0.20 秒)...
设备已移除，退出心跳。
" || ok=0
  # hidraw refuses the first heartbeat (EINVAL): said once, and the tool
  # writes no more, so the kernel warns once.
  same "heartbeat stderr" /tmp/err "心跳失败: send_output: Invalid argument
心跳报告被拒绝 (报告过短)，不再发送心跳。
" || ok=0
  warnings=$(dmesg | grep -c 'passed too short report')
  [ "$warnings" = 1 ] || { ok=0; echo "kernel warnings about short reports: $warnings"; }
  grep -qx "hb SET_REPORT type=feature id=0x10 size=32 data=$DEFAULTS" /tmp/hb.log || { ok=0; cat /tmp/hb.log; }
  ! grep -q OUTPUT /tmp/hb.log || { ok=0; echo "a heartbeat reached the device"; cat /tmp/hb.log; }
  if [ $ok = 1 ]; then pass heartbeat-until-unplugged; else fail heartbeat-until-unplugged "see above"; fi
  rm -f /dev/pelmor_config
  stop_receivers
fi

# A plain file as the device: refused by the tool before hidapi sees it.
echo 'not a device' >/tmp/plain
printf 'device_path=/tmp/plain\nheartbeat_startup_delay_sec=0\n' >/tmp/plain.conf
run_helper --heartbeat --config /tmp/plain.conf
if [ "$STATUS" = 1 ] && same "plain file stderr" /tmp/err "打开设备失败: 无法打开设备: /tmp/plain
"; then
  pass plain-file-device
else
  fail plain-file-device "status $STATUS"
fi

# /dev/null is a character device but not hidraw: hidapi would crash on it.
printf 'device_path=/dev/null\nheartbeat_startup_delay_sec=0\n' >/tmp/null.conf
run_helper --heartbeat --config /tmp/null.conf
if [ "$STATUS" = 1 ] && same "/dev/null stderr" /tmp/err "打开设备失败: 无法打开设备: /dev/null
"; then
  pass devnull-device
else
  fail devnull-device "status $STATUS"
fi

echo "LAB DONE"
poweroff -f
