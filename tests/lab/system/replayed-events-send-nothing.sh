#!/bin/bash
# Events replayed for a configured receiver (udevadm trigger, as at boot or by any package) send nothing and start nothing.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
unit=$(init_unit "$(node_of 1)")
invocation=$(systemctl show -p InvocationID --value "$unit")
pid=$(heartbeat_pid)
t=$(now)
for action in add change add; do
  udevadm trigger --settle --action="$action" --subsystem-match=hidraw
done
sleep 4 # a run would have started and sent by now: its own wait is 1 s
assert_nothing_sent_since "$t"
assert_eq "$(systemctl show -p InvocationID --value "$unit")" "$invocation" "$unit's invocation"
assert_true "the link is gone" linked
assert_heartbeat_goes_on "$pid"
