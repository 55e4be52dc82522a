#!/bin/bash
# Every kind of sleep pulls in the resume unit, whose stop comes once the machine is back.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# Every kind of sleep runs its service after sleep.target, which wants the
# resume unit, ordered before it and stopped with it: the unit's stop, which
# configures the receiver, comes once the sleep service has returned. Only
# suspend can be tried here (no swap), so the others are checked on paper.
systemctl show -p Before --value pelmor-resume.service | grep -qw sleep.target || fail_now "not before sleep.target"
assert_eq "$(systemctl show -p StopWhenUnneeded --value pelmor-resume.service)" yes "StopWhenUnneeded"
systemctl show -p Wants --value sleep.target | grep -qw pelmor-resume.service \
  || fail_now "sleep.target does not want it"
for kind in suspend hibernate hybrid-sleep suspend-then-hibernate; do
  systemctl list-dependencies --all --plain --no-legend "$kind.target" | grep -qw pelmor-resume.service \
    || fail_now "$kind.target does not pull it in"
  systemctl show -p After --value "systemd-$kind.service" | grep -qw sleep.target \
    || fail_now "systemd-$kind.service is not after sleep.target"
done
# One run for the four targets: each run loads every unit file anew.
assert_eq "$(systemd-analyze verify {suspend,hibernate,hybrid-sleep,suspend-then-hibernate}.target 2>&1 \
  | grep pelmor || true)" "" "what systemd-analyze verify says of the units"
