#!/bin/bash
# Upgrading the package restarts the heartbeat with the new binary and keeps an edit of the configuration file.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

assert_install_restarts_heartbeat "$LAB/pelmor-helper-upgrade.deb"
