#!/bin/bash
# A second receiver plugged in beside the first is configured by its own run; the link moves to it and the one heartbeat goes on.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# Its run, as every run does, configures the first receiver again too.
plug_configured
pid=$(heartbeat_pid)
t=$(now)
plug_second
assert_within 20 "no report at the second receiver" reports_at_since "$t" 3
sleep 1.5 # anything more would arrive now
b1=$(node_of 1 1)
assert_reports "$t" 3 "$EXPECT"
assert_eq "$(runs_since "$t" "$b1")" 1 "configuration runs of ${b1#/dev/} finished"
assert_eq "$(readlink -f /dev/pelmor_config)" "${b1:-its interface 1 has no node}" "the link's target"
assert_heartbeat_goes_on "$pid"
