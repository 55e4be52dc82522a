#!/bin/bash
# Eight plug and unplug cycles as fast as the machine goes end configured, with no start refused and no unit failed.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_series 8
