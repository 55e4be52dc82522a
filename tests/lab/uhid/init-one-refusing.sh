#!/bin/sh
# With one interface refusing the report, both are tried, the refusal is said with the library's text, and the run succeeds.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

start_receiver ok
ok=$NODE
start_receiver refusing -r
bad=$NODE
run_helper --init-receiver --config /tmp/absent.conf
stop_receivers
echo "  stderr: $(cat /tmp/err)"
assert_eq "$STATUS" 0 "the status"
grep -q "^  发送失败: send_feature: " /tmp/err || fail_now "no refusal on standard error"
for node in "$ok" "$bad"; do
  grep -qxF "正在配置设备 $node (speed=4, poll=1000Hz)..." /tmp/out || fail_now "no progress line for $node"
done
grep -q "ok SET_REPORT type=feature id=0x10 size=32 data=$DEFAULTS" /tmp/ok.log \
  || fail_now "the accepting receiver got: $(cat /tmp/ok.log)"
grep -q "refusing SET_REPORT type=feature id=0x10 size=32" /tmp/refusing.log \
  || fail_now "the refusing receiver got: $(cat /tmp/refusing.log)"
