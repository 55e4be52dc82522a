#!/bin/bash
# A receiver plugged in when the machine starts is configured once, by the boot's own events.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
# boot: coldplug
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# Reports from the moment the machine started; a replayed event would start
# a second run within seconds.
sleep 3
assert_configured "$(awk -v now="$(now)" '{ printf "%.3f", now - $1 }' /proc/uptime)"
