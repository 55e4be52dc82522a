#!/bin/bash
# The package users have (0.1.0, built with CPack) upgrades to this one in place, keeping their own configuration file.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# What the old scripts made must be what a fresh install makes: no conflict,
# the heartbeat goes on with the new binary and nothing else is sent, the
# resume unit stays enabled.
assert_true "no CPack package in this guest" test -f "$LAB/pelmor-helper-cpack.deb"
fresh=$(package_state)
plug_configured
dpkg --purge pelmor-helper >/dev/null 2>&1
assert_within 10 "pelmor-helper still runs after the purge" helper_gone
# Users of that version were told to make the configuration file themselves.
mine=$(printf '# made by hand\nspeed=2')
mkdir -p "${CONF%/*}"
printf '%s\n' "$mine" >"$CONF"
t=$(now)
assert_true "dpkg -i of the CPack package failed" dpkg -i "$LAB/pelmor-helper-cpack.deb" >/dev/null 2>&1
assert_within 20 "the CPack package did not configure the receiver" configured_since "$t"
sleep 1.5 # its heartbeat's own report would arrive now
pid=$(heartbeat_pid)
t=$(now)
# With no terminal to answer a question about the file on.
status=0
out=$(dpkg -i "$LAB/pelmor-helper.deb" 2>&1 </dev/null) || status=$?
assert_eq "$status" 0 "the status of dpkg -i ($out)"
assert_within 10 "no heartbeat of the new binary in place of $pid" runs_new_binary "$pid"
assert_heartbeat_started_again_since "$t" "$pid" "$EXPECT_SPEED2"
assert_eq "$(cat "$CONF")" "$mine" "the file made by hand"
# Its settings go out at the next plug-in too.
unplug
assert_within 10 "the link is left after unplugging" unlinked
t=$(now)
plug
assert_within 20 "no configuration after a replug" configured_since "$t"
sleep 1.5 # anything more would arrive now
assert_reports "$t" 2 "$EXPECT_SPEED2"
assert_eq "$(systemctl is-enabled pelmor-resume.service)" enabled "the resume unit"
assert_eq "$(package_state)" "$fresh" "what is beside the package's files"
