#!/bin/bash
# Pulling out the linked receiver moves the link back to the other one, whose heartbeat goes on; nothing is configured again.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_both_configured
pid=$(heartbeat_pid)
node1=$(node_of 1)
t=$(now)
unplug_second
assert_within 10 "the link did not move back to $node1" links_to "$node1"
sleep 3 # a run would have sent by now
if [ "$(heartbeat_pid)" = "$pid" ]; then
  figure linked-receiver-pulled-heartbeat-started-again 0
  assert_nothing_sent_since "$t"
  assert_heartbeat_goes_on "$pid"
else
  # It looked while the link still named the pulled receiver's node.
  figure linked-receiver-pulled-heartbeat-started-again 1
  assert_heartbeat_started_again_since "$t" "$pid"
fi
