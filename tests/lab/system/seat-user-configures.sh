#!/bin/bash
# The user of the seat's active session may configure the receiver, and --status tells it so.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
node1=$(node_of 1) node2=$(node_of 2)
seat_has_session() { [ -n "$(loginctl show-seat seat0 -p ActiveSession --value 2>/dev/null)" ]; }
lab_may_open() { getfacl -p "$1" 2>/dev/null | grep -q '^user:lab:rw'; }
assert_within 30 "no active session on seat0" seat_has_session
assert_within 10 "no ACL for lab on $node1" lab_may_open "$node1"
t=$(now)
status=0
out=$(runuser -u lab -- pelmor-helper --init-receiver 2>&1) || status=$?
assert_eq "$status" 0 "the status of --init-receiver ($out)"
assert_within 5 "no report at interface 2" reports_at_since "$t" 2
assert_reports "$t" 1 "$EXPECT"
assert_reports "$t" 2 "$EXPECT"
# What the user is told: both interfaces open, the units' file was read,
# and the link names interface 1.
status=0
out=$(runuser -u lab -- pelmor-helper --status --config "$CONF" 2>&1) || status=$?
printf '%s\n' "$out" | sed 's/^/  --status as the seat user: /'
assert_eq "$status" 0 "the status of --status"
assert_eq "$(printf '%s\n' "$out" | grep -cxF -e "  $node1: 可以打开" -e "  $node2: 可以打开" \
  -e "配置文件: $CONF (已读取)" -e "设备节点: /dev/pelmor_config -> $node1")" 4 "lines of --status as expected"
assert_eq "$(printf '%s\n' "$out" | grep -c '^注意')" 0 "lines of --status naming another file as the units' one"
