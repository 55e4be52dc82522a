#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Sets up what is missing, builds, and runs every test: here, then in a root
# file system of each other Debian release that tools/releases.sh names, then
# in the lab's virtual machines. Stops at the first stage that fails.
# Usage: ./run-tests.sh [STAGE...]   (every stage, in this order, by default)
set -euo pipefail
cd "$(dirname "$0")"

all_stages=(licences package fuzz sanitize build valgrind bench suite qt6 releases lab)
# The package's build runs the whole suite (as Debian builds it), and the
# sanitizer stage runs it too: "suite" is left out unless asked for.
default_stages=(licences package fuzz sanitize build valgrind bench qt6 releases lab)
stages=("${@:-${default_stages[@]}}")

tools/deps.sh test
jobs=$(nproc)
# Compiled objects are kept between runs and between clones (ccache, with
# paths taken relative to the source), which makes a second run much faster.
# CMake takes the launcher from the environment in every build folder.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi

# Warnings are errors, CMake's own included, in every release's CMake.
configure_and_build() { # folder cmake-options...
  local folder=$1
  shift
  cmake -Werror=dev -Werror=deprecated -S . -B "$folder" -DPELMOR_WERROR=ON "$@" >/dev/null
  cmake --build "$folder" -j"$jobs" >/dev/null
}

stage_licences() {
  echo "== Licences: every file says under which terms it is shared =="
  reuse lint --quiet || { reuse lint | tail -n 30; return 1; }
}

stage_package() {
  echo "== Debian packages: build (with the suite), lintian, blhc, reproducible, install, autopkgtest, remove =="
  tests/deploy/package-test.sh .
}

stage_fuzz() {
  echo "== Fuzzing: each target for 60 s under the sanitizers =="
  tools/fuzz.sh 60
}

stage_sanitize() {
  echo "== AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer: the whole suite =="
  configure_and_build build-sanitize -DPELMOR_SANITIZE=ON
  (cd build-sanitize && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")
}

stage_build() {
  echo "== Build (warnings are errors) =="
  configure_and_build build
}

stage_valgrind() {
  echo "== End-to-end tests with the binary under valgrind memcheck =="
  (cd build && PELMOR_TEST_WRAPPER="valgrind --error-exitcode=99 -q --leak-check=full --errors-for-leak-kinds=definite" \
    ctest --output-on-failure -j"$jobs" -R '^tst_(cli|initreceiver|heartbeat|hostile)$')
}

stage_bench() {
  echo "== Benchmark smoke run (the script still works; figures not checked) =="
  bench/run-bench.sh --smoke
}

stage_suite() {
  echo "== The whole suite =="
  [ -f build/CMakeCache.txt ] || stage_build
  (cd build && ctest --output-on-failure -j"$jobs")
}

stage_qt6() {
  echo "== The whole suite built against Qt 6 (warnings are errors) =="
  configure_and_build build-qt6 -DPELMOR_QT_MAJOR=6
  (cd build-qt6 && ctest --output-on-failure -j"$jobs")
}

stage_releases() {
  echo "== The other Debian releases: the package (with the suite), the build and the Qt 6 suite, each in its own root =="
  tools/releases.sh
}

stage_lab() {
  echo "== Real-kernel lab: the shipped binary on real hidraw nodes in virtual machines =="
  tests/lab/run-lab.sh all
}

for stage in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $stage "* ]] || { echo "unknown stage: $stage (${all_stages[*]})" >&2; exit 2; }
  start=$SECONDS
  "stage_$stage"
  echo "-- $stage: $((SECONDS - start)) s"
done
