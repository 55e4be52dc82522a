#!/bin/bash
# Purging the package stops everything, leaves no file, and a later plug-in starts nothing.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_configured
files=$(dpkg -L pelmor-helper)
assert_true "dpkg --purge failed" dpkg --purge pelmor-helper >/dev/null 2>&1
assert_within 10 "the heartbeat still runs" heartbeat_inactive
assert_within 10 "pelmor-helper still runs" helper_gone
assert_within 10 "the link is left" unlinked
left=$(while read -r f; do
  if [ ! -d "$f" ] && { [ -e "$f" ] || [ -L "$f" ]; }; then echo "$f"; fi
done <<<"$files")
assert_eq "$left$(package_state)" "" "what is left"
assert_no_failed_unit
unplug
assert_within 10 "interface 1 is left after unplugging" has_no_node 1
t=$(now)
plug
assert_within 10 "no node after a replug" has_node 2
sleep 3
assert_eq "$(systemctl list-units --no-legend --plain 'pelmor*')" "" "units after a replug"
assert_true "a replug linked the node" unlinked
assert_reports "$t" 1
assert_reports "$t" 2
