#!/bin/bash
# A suspend and resume with no receiver plugged in does nothing that shows.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

t=$(now)
sleep_and_wake "$t"
sleep 3
assert_no_failed_unit
assert_eq "$(journal_since "$t" -t pelmor-helper)" "" "what the tool said"
assert_eq "$(journal_since "$t" -p warning -u 'pelmor*')" "" "warnings of the units"
