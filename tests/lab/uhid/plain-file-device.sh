#!/bin/sh
# A plain file as the device is refused by the tool before hidapi sees it.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

echo 'not a device' >/tmp/plain
printf 'device_path=/tmp/plain\nheartbeat_startup_delay_sec=0\n' >/tmp/plain.conf
run_helper --heartbeat --config /tmp/plain.conf
assert_eq "$STATUS" 1 "the status"
assert_same stderr /tmp/err "打开设备失败: 无法打开设备: /tmp/plain
"
