#!/bin/bash
# hidraw refuses the heartbeat's first one-byte report: the tool says so once and writes no more.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
sleep 5 # several intervals
assert_eq "$(journal_count "$PLUGGED_AT" '^心跳失败: send_output: Invalid argument$' -t pelmor-helper)" 1 "refusals said"
assert_eq "$(journal_count "$PLUGGED_AT" '^心跳报告被拒绝 \(报告过短\)，不再发送心跳。$' -t pelmor-helper)" 1 "stop lines"
assert_eq "$(journal_count "$PLUGGED_AT" 'passed too short report' -k)" 1 "kernel warnings"
assert_true "the heartbeat is not active" heartbeat_active
