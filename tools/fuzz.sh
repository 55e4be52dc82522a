#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time, starting from
# the seed corpus in tests/fuzz/corpus. New inputs stay in build-fuzz/; an
# input that crashes is kept in build-fuzz/crashes/ and the run fails: add it
# to the corpus once fixed, and the ordinary test suite replays it for good.
# Usage: tools/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DPELMOR_FUZZ=ON -DPELMOR_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null
mkdir -p build-fuzz/crashes
# A fuzzer keeps one core busy: the targets run side by side, so that the
# stage takes the time of one.
fuzz_target() { # target
  local target=$1 work="build-fuzz/corpus-$1"
  mkdir -p "$work"
  "build-fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="build-fuzz/crashes/$target-" "$work" "tests/fuzz/corpus/$target" \
    >"build-fuzz/fuzz_$target.log" 2>&1
}
targets=(config commandline)
pids=()
for target in "${targets[@]}"; do
  echo "-- fuzz_$target for ${seconds}s"
  fuzz_target "$target" &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if ! wait "${pids[$i]}"; then
    tail -n 40 "build-fuzz/fuzz_$target.log"
    echo "FAIL: fuzz_$target found a crash; see build-fuzz/crashes/"
    status=1
  else
    grep -E '^Done [0-9]+ runs' "build-fuzz/fuzz_$target.log" || tail -n 1 "build-fuzz/fuzz_$target.log"
  fi
done
exit "$status"
