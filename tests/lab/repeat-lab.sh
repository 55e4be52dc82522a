#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Runs the lab several times in a row, as evidence that it passes every time
# and not by chance, then sums up: runs, failed runs, guests booted a second
# time and why. Each run's output is kept in build-lab/repeat/run-K.log, and
# its guests' consoles, reports and journals in build-lab/repeat/run-K/.
# Usage: tests/lab/repeat-lab.sh [COUNT] [uhid|system|all] [SCENARIO...]
#   (5 runs of every scenario of all guests by default)
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 2
count=${1:-5}
variant=${2:-all}
shift 2 || shift $#
logs=build-lab/repeat
rm -rf "$logs" && mkdir -p "$logs"
failed=0
start=$SECONDS
for run in $(seq "$count"); do
  begin=$SECONDS
  tests/lab/run-lab.sh "$variant" "$@" >"$logs/run-$run.log" 2>&1
  status=$?
  mkdir -p "$logs/run-$run"
  mv build-lab/{console,report,journal}-* "$logs/run-$run/" 2>/dev/null
  [ "$status" = 0 ] || failed=$((failed + 1))
  echo "run $run: $([ "$status" = 0 ] && echo PASS || echo FAIL) in $((SECONDS - begin)) s," \
    "$(grep -c '^RETRY:' "$logs/run-$run.log") retried, $(grep -c '^SKIP:' "$logs/run-$run.log") skipped"
  grep -h -E '^(RETRY|SKIP|FAIL):|^lab-scenario FAIL ' "$logs/run-$run.log" | sed 's/^/  /'
done
echo "$count runs of the $variant lab in $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s:" \
  "$failed failed, $(cat "$logs"/run-*.log | grep -c '^RETRY:') guests booted again"
[ "$failed" = 0 ]
