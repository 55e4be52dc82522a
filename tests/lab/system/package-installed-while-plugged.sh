#!/bin/bash
# Installing the package with the receiver plugged in configures it once, without a replug.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

dpkg --purge pelmor-helper >/dev/null 2>&1
plug
assert_within 10 "no node after plugging in" has_node 2
t=$(now)
assert_true "dpkg -i failed" dpkg -i "$LAB/pelmor-helper.deb" >/dev/null 2>&1
assert_configured "$t"
