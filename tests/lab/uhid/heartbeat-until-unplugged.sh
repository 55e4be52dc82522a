#!/bin/sh
# --heartbeat configures the node's receiver, is refused its first heartbeat and writes no more, and ends when the receiver goes.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

# hidraw refuses the one-byte heartbeat (EINVAL): said once, and the tool
# writes no more, so the kernel warns once.
start_receiver hb
ln -s "$NODE" /dev/pelmor_config
printf 'heartbeat_interval_sec=0.2\nheartbeat_startup_delay_sec=0\n' >/tmp/hb.conf
mark=$(journal_mark)
( sleep 1.5; kill "$RECEIVER_PID" ) &
run_helper --heartbeat --config /tmp/hb.conf
wait
assert_eq "$STATUS" 0 "the status"
assert_same stdout /tmp/out "已加载配置: /tmp/hb.conf
正在发送 Feature 初始化配置 (speed=4, poll=1000Hz)...
初始化成功。
进入心跳维持模式 (间隔 0.20 秒)...
设备已移除，退出心跳。
"
assert_same stderr /tmp/err "心跳失败: send_output: Invalid argument
心跳报告被拒绝 (报告过短)，不再发送心跳。
"
assert_eq "$(journal_count "$mark" 'passed too short report')" 1 "kernel warnings about short reports"
grep -qx "hb SET_REPORT type=feature id=0x10 size=32 data=$DEFAULTS" /tmp/hb.log \
  || fail_now "the receiver got: $(cat /tmp/hb.log)"
assert_false "a heartbeat reached the device" grep -q OUTPUT /tmp/hb.log
