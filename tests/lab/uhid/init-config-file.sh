#!/bin/sh
# --init-receiver sends the report a configuration file sets to both management interfaces.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/uhid.sh
. "${0%/*}/../lib/uhid.sh"

printf 'speed=5\npolling_hz=125\nremap_wheel=off\nremap_gesture=off\n' >/tmp/level5.conf
assert_init_two_interfaces /tmp/level5.conf "$LEVEL5_125HZ_OFF" 5 125
