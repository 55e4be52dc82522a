#!/bin/bash
# The three units are rated 1.2 or better by systemd-analyze security, and the journal shows no denial.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
for unit in pelmor-heartbeat.service "$(init_unit "$(node_of 1)")" pelmor-resume.service; do
  exposure=$(systemd-analyze security --no-pager "$unit" 2>&1 \
    | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
  figure "exposure-$unit" "$exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.2) }' || fail_now "$unit rated '$exposure'"
done
# Denials of the whole boot: a system call filtered, a device or file
# refused by the sandbox.
assert_journal_lacks 0 'status=31/SYS|Bad system call|Operation not permitted|Permission denied|Failed at step' \
  "a denial" -b -u 'pelmor*'
