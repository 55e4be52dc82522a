#!/bin/bash
# Unplugging stops the heartbeat, removes the link and leaves no process and no failed unit.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
t=$(now)
unplug
# A real machine stops it in a fraction of a second; the emulated one, with
# one CPU, in 0.6 to 1.8 s: 5 s leaves room for a slow moment of the
# emulator without hiding a heartbeat that is left running.
assert_within 5 "the heartbeat still runs" heartbeat_inactive
figure "$SCENARIO-heartbeat-stop-ms" "$(elapsed_ms "$t" "$(now)")"
assert_within 10 "the link is left" unlinked
assert_within 10 "pelmor-helper still runs" helper_gone
assert_no_failed_unit
