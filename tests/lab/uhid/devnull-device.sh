#!/bin/sh
# /dev/null, a character device but not hidraw, is refused as the device (hidapi would crash on it).
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

printf 'device_path=/dev/null\nheartbeat_startup_delay_sec=0\n' >/tmp/null.conf
run_helper --heartbeat --config /tmp/null.conf
assert_eq "$STATUS" 1 "the status"
assert_same stderr /tmp/err "打开设备失败: 无法打开设备: /dev/null
"
