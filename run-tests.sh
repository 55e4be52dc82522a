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
# sanitizer stage runs it too: "suite" is left out unless asked for. Fuzzing
# and the benchmark come after the lab, and so run beside it (see below).
default_stages=(licences package sanitize build valgrind qt6 releases lab fuzz bench)
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
  # Emptied first: a skipped stage leaves no package of an older tree.
  rm -rf build-package
  tests/deploy/package-test.sh .
  # The lab installs the package built here rather than building it again.
  export PELMOR_BUILT_PACKAGE_DIR=$PWD/build-package
}

stage_fuzz() {
  local seconds=${PELMOR_FUZZ_SECONDS:-60}
  echo "== Fuzzing: each target for $seconds s under the sanitizers =="
  tools/fuzz.sh "$seconds"
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

# Work started in the background, each job a process group of its own: a
# stage that fails, or an interruption, stops what is left of it (the roots
# are then removed by releases.sh). The run keeps its own exit status, not
# the stopped jobs'.
background=()
stop_background() {
  local pid
  for pid in "${background[@]}"; do
    if kill -TERM -- -"$pid" 2>/dev/null; then wait "$pid" || true; fi
  done
}
trap 'status=$?; stop_background; exit "$status"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The other releases' roots share nothing with the stages here but the
# machine, and their work leaves a core idle about half the time, as the
# stages here do: they run beside them from the start, and their stage waits
# for them and shows what they printed.
start_releases() {
  mkdir -p build-releases
  releases_start=$SECONDS
  setsid tools/releases.sh >build-releases/releases.log 2>&1 &
  releases_pid=$!
  background+=("$releases_pid")
}

stage_releases() {
  echo "== The other Debian releases: the package (with the suite), the build and the Qt 6 suite, each in its own root =="
  local status=0
  wait "$releases_pid" || status=$?
  cat build-releases/releases.log
  echo "(the roots ran beside the stages above, for $((SECONDS - releases_start)) s in all)"
  return "$status"
}

# A lab guest keeps one core busy and leaves most of the other idle. Fuzzing
# and the benchmark's smoke run check nothing against the clock (callgrind
# counts instructions), so when they come after the lab they start with it
# and use that core at the idle priority, which takes nothing from the
# guest: its scenarios still bound how long it takes. The fuzzers then get
# about half a core each, so they run for 150 s, about the work of 60 s
# alone. Their stages wait for them and show what they printed.
declare -A beside_pid=() beside_start=()
start_beside_lab() {
  local stage after=0
  mkdir -p build-beside
  for stage in "${stages[@]}"; do
    case $after:$stage in
      0:lab) after=1 ;;
      1:fuzz | 1:bench)
        beside_start[$stage]=$SECONDS
        PELMOR_FUZZ_SECONDS=150 setsid chrt --idle 0 ./run-tests.sh "$stage" >"build-beside/$stage.log" 2>&1 &
        beside_pid[$stage]=$!
        background+=("$!")
        ;;
    esac
  done
}

wait_beside_lab() { # stage
  local status=0
  wait "${beside_pid[$1]}" || status=$?
  cat "build-beside/$1.log"
  echo "(beside the lab, at the idle priority, for $((SECONDS - beside_start[$1])) s)"
  return "$status"
}

stage_lab() {
  echo "== Real-kernel lab: the shipped binary on real hidraw nodes in virtual machines =="
  tests/lab/run-lab.sh all
}

for stage in "${stages[@]}"; do
  [[ " ${all_stages[*]} " == *" $stage "* ]] || { echo "unknown stage: $stage (${all_stages[*]})" >&2; exit 2; }
done
[[ " ${stages[*]} " != *" releases "* ]] || start_releases
for stage in "${stages[@]}"; do
  start=$SECONDS
  if [ -n "${beside_pid[$stage]:-}" ]; then
    wait_beside_lab "$stage"
  else
    [ "$stage" != lab ] || start_beside_lab
    "stage_$stage"
  fi
  echo "-- $stage: $((SECONDS - start)) s"
done
