#!/bin/bash
# A plug-in with the HID modules already loaded configures the receiver once.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

modprobe -a usbhid hid_generic
assert_true "hid is not loaded" hid_loaded
t=$(now)
plug
assert_configured "$t"
