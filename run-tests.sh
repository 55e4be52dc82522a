#!/usr/bin/env bash
# Sets up what is missing, builds, and runs every test. Stops at the first
# stage that fails; the main test suite runs last.
set -euo pipefail
cd "$(dirname "$0")"

tools/deps.sh test
jobs=$(nproc)

echo "== Debian package: build, install for real, remove =="
tests/deploy/package-test.sh .

echo "== Build and test (warnings are errors) =="
cmake -S . -B build -DPELMOR_WERROR=ON
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")
