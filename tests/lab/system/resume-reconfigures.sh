#!/bin/bash
# After a suspend and resume, each receiver's management interfaces get the report once more and the heartbeat goes on.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# Interfaces 1 and 2 of the first receiver, 1 of the second; interface 0
# nothing.
plug_both_configured
pid=$(heartbeat_pid)
t=$(now)
sleep_and_wake "$t"
assert_within 20 "no report at every interface" reports_at_since "$t" 1 2 3
sleep 1.5 # anything more would arrive now
for i in 1 2 3; do assert_reports "$t" "$i" "$EXPECT"; done
assert_reports "$t" 0
assert_journal_has "$t" 'PM: suspend entry \(deep\)' "no S3 sleep" -k
assert_true "the link is gone" linked
assert_heartbeat_goes_on "$pid"
for i in 1 2; do
  figure "resume-to-report-interface-$i-ms" "$(elapsed_ms "$RESUMED_AT" "$(first_since "$i" "$t")")"
done
