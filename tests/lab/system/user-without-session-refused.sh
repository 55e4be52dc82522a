#!/bin/bash
# A user without a session on the seat can neither configure the receiver nor open it, and --status says why.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
node1=$(node_of 1) node2=$(node_of 2)
t=$(now)
status=0
out=$(runuser -u outsider -- pelmor-helper --init-receiver 2>&1 >/dev/null) || status=$?
assert_eq "$status" 1 "the status of --init-receiver"
assert_eq "$(printf '%s\n' "$out" | grep -c '^  打开失败: 无法打开设备: /dev/hidraw')" 2 "refusals on standard error ($out)"
assert_reports "$t" 1
assert_reports "$t" 2
status=0
out=$(runuser -u outsider -- pelmor-helper --status --config "$CONF" 2>&1) || status=$?
printf '%s\n' "$out" | sed 's/^/  --status as a user without a session: /'
assert_eq "$status" 1 "the status of --status"
assert_eq "$(printf '%s\n' "$out" | grep -cxF -e "  $node1: 无法打开: Permission denied" \
  -e "  $node2: 无法打开: Permission denied")" 2 "refusals in --status"
