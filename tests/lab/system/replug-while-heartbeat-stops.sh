#!/bin/bash
# A receiver plugged in while the last one's heartbeat is still stopping gets a heartbeat and its configuration.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# The heartbeat's stop after an unplug, made to last, so that the next
# plug-in's device unit always comes up while it runs. udev's request for
# the heartbeat is refused behind a stop in progress.
dropins=/run/systemd/system/pelmor-heartbeat.service.d
trap 'rm -rf "$dropins"; systemctl daemon-reload' EXIT
mkdir -p "$dropins"
printf '[Service]\nExecStopPost=/bin/sleep 8\n' >"$dropins/lab-slow-stop.conf"
systemctl daemon-reload
heartbeat_stopping() { [ "$(systemctl show -p ActiveState --value pelmor-heartbeat.service)" = deactivating ]; }

plug_configured
unplug
assert_within 10 "the heartbeat did not begin to stop" heartbeat_stopping
t=$(now)
plug
assert_within 30 "no heartbeat for the receiver plugged in during the stop" heartbeat_configured_since "$t"
assert_configured "$t"
