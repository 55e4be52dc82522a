#!/bin/sh
# With no configuration file, --init-receiver sends the built-in report to both management interfaces.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

assert_init_two_interfaces /tmp/absent.conf "$DEFAULTS" 4 1000
