#!/bin/bash
# Receivers pulled out inside the configuration run's one-second wait fail no unit; the last plug ends configured.
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
set -eu
# shellcheck source=tests/lab/lib/system.sh
. "${0%/*}/../lib/system.sh"

plug_series 4 0.2
