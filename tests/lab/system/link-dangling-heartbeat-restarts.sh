#!/bin/bash
# A heartbeat that finds the link naming a node that is gone ends, and starts again once the link names a node.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# The moment between pulling out the linked receiver and udev moving the
# link to the one left, made to last. Links are replaced by a rename, as
# udev does, so that they are never missing.
plug_configured
pid=$(heartbeat_pid)
node1=$(node_of 1)
t=$(now)
ln -s hidraw-gone /dev/.pelmor_lab
mv -T /dev/.pelmor_lab /dev/pelmor_config
assert_within 10 "heartbeat $pid did not end" process_gone "$pid"
sleep 2
assert_false "the heartbeat started with the link dangling" heartbeat_active
ln -s "${node1#/dev/}" /dev/.pelmor_lab
mv -T /dev/.pelmor_lab /dev/pelmor_config
assert_heartbeat_started_again_since "$t" "$pid"
