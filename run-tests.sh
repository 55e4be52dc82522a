#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Sets up what is missing, builds, and runs every test. Stops at the first
# stage that fails; the full test suite runs last.
set -euo pipefail
cd "$(dirname "$0")"

tools/deps.sh test
jobs=$(nproc)

echo "== Licences: every file says under which terms it is shared =="
reuse lint --quiet || { reuse lint | tail -n 30; exit 1; }

echo "== Debian package: build, install for real, remove =="
tests/deploy/package-test.sh .

echo "== Fuzzing: each target for 60 s under the sanitizers =="
tools/fuzz.sh 60

echo "== AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer: the whole suite =="
cmake -S . -B build-sanitize -DPELMOR_SANITIZE=ON -DPELMOR_WERROR=ON >/dev/null
cmake --build build-sanitize -j"$jobs" >/dev/null
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs")

echo "== Build (warnings are errors) =="
cmake -S . -B build -DPELMOR_WERROR=ON >/dev/null
cmake --build build -j"$jobs" >/dev/null

echo "== End-to-end tests with the binary under valgrind memcheck =="
(cd build && PELMOR_TEST_WRAPPER="valgrind --error-exitcode=99 -q --leak-check=full --errors-for-leak-kinds=definite" \
  ctest --output-on-failure -j"$jobs" -R '^tst_(cli|initreceiver|heartbeat|hostile)$')

echo "== Benchmark smoke run (the script still works; figures not checked) =="
bench/run-bench.sh --smoke

echo "== The whole suite =="
(cd build && ctest --output-on-failure -j"$jobs")

echo "== The whole suite built against Qt 6 (warnings are errors) =="
cmake -S . -B build-qt6 -DPELMOR_QT_MAJOR=6 -DPELMOR_WERROR=ON >/dev/null
cmake --build build-qt6 -j"$jobs" >/dev/null
(cd build-qt6 && ctest --output-on-failure -j"$jobs")

echo "== Real-kernel lab: the shipped binary on real hidraw nodes in virtual machines =="
tests/lab/run-lab.sh all
