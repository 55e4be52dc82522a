#!/bin/bash
# The first plug-in of a boot, before any HID module is loaded, configures the receiver once.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

# As at boot: nothing uses them while both receivers are out.
modprobe -r usbhid hid_generic hid
assert_false "hid is still loaded" hid_loaded
t=$(now)
plug
assert_configured "$t"
