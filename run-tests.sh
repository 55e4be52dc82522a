#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"

tools/deps.sh test
jobs=$(nproc)

echo "== Build and test (warnings are errors) =="
cmake -S . -B build -DPELMOR_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
