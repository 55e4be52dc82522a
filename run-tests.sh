#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Sets up what is missing, builds, and runs every test: here, then in a root
# file system of each other Debian release that tools/releases.sh names, then
# in the lab's virtual machines. Stops at the first stage that fails, then
# prints a line for each stage: PASS, FAIL or SKIP, its seconds, and why it
# failed or was skipped; its last line counts them. A stage is skipped when it
# exits with status 77 (as CTest has it) after a line "SKIP: reason".
# The exit status is 1 if a stage failed or, under CI=true, was skipped.
# Usage: [CI=true] ./run-tests.sh [STAGE...]   (every stage, in this order, by default)
set -euo pipefail
cd "$(dirname "$0")"

all_stages=(licences shellcheck package fuzz sanitize build valgrind bench suite qt6 releases lab)
# The package's build runs the whole suite (as Debian builds it), and the
# sanitizer stage runs it too: "suite" is left out unless asked for.
default_stages=(licences shellcheck package fuzz sanitize build valgrind bench qt6 releases lab)
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

# Every shell script: each file Git knows (each file, outside a Git
# checkout) that starts with a shell's #! line or names its shell in a
# "shellcheck shell=" directive among its first comment lines (where the
# directive applies to the whole file), so that a new script is checked
# without being listed.
stage_shellcheck() {
  echo "== Shell scripts: shellcheck, every finding (style included) fails =="
  local files file first directive scripts=()
  local shebang='^#![[:space:]]*/([^[:space:]]*/)?(env[[:space:]]+)?(ba|da|k)?sh([[:space:]]|$)'
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' -t files < <(git ls-files -z)
  else
    mapfile -d '' -t files < <(find . \( -path ./.git -o -path './build*' \) -prune -o -type f -print0)
  fi
  for file in "${files[@]}"; do
    [ -f "$file" ] || continue
    first=$(head -n 1 "$file" | tr -d '\0')
    directive=$(sed -n -E '/^#/!q; /^#[[:space:]]*shellcheck[[:space:]]+shell=/{p;q}' "$file" | tr -d '\0')
    if [[ $first =~ $shebang ]] || [ -n "$directive" ]; then
      scripts+=("$file")
    fi
  done
  [ ${#scripts[@]} -gt 0 ] || { echo "no shell script found"; return 1; }
  echo "${#scripts[@]} scripts: ${scripts[*]}"
  shellcheck -- "${scripts[@]}"
}

stage_package() {
  echo "== Debian packages: build (with the suite), lintian, blhc, reproducible; install, autopkgtest, purge, piuparts in throwaway testbeds =="
  # Emptied first: a skipped stage leaves no package of an older tree.
  rm -rf build-package
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

# The other releases' roots share nothing with the stages here but the
# machine, and their work leaves a core idle about half the time, as the
# stages here do: they run beside them from the start, and their stage waits
# for them and shows what they printed.
start_releases() {
  mkdir -p build-releases
  releases_start=$SECONDS
  # A process group of its own, stopped as a whole (and its roots removed,
  # which releases.sh sees to) if a stage here fails or the run is stopped.
  setsid tools/releases.sh >build-releases/releases.log 2>&1 &
  releases_pid=$!
  # The run keeps its own exit status, not the stopped roots'.
  trap 'status=$?; kill -TERM -- -"$releases_pid" 2>/dev/null && { wait "$releases_pid" || true; }; exit "$status"' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

stage_releases() {
  echo "== The other Debian releases: the package (with the suite) and the Qt 6 suite, each in its own root =="
  local status=0
  wait "$releases_pid" || status=$?
  trap - EXIT
  cat build-releases/releases.log
  echo "(the roots ran beside the stages above, for $((SECONDS - releases_start)) s in all)"
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

# Each stage runs in a subshell, where set -e ends the stage and not the run
# (set -e is off in the context of a || or an if, so the status is taken with
# it off here). The releases stage waits for a child of this shell, so it runs
# in this shell, and takes its statuses itself. The output goes to the screen
# and to a file outside the tree (which the licence check would see), where
# a skipped stage's reasons are read.
summary=() passed=0 failed=0 skipped=0
row() { # result stage seconds reason
  printf '%-4s  %-10s %7s%s' "$1" "$2" "$3" "${4:+  $4}"
}
for stage in "${stages[@]}"; do
  if [ "$failed" -gt 0 ]; then
    summary+=("$(row -- "$stage" "" "not run: a stage before it failed")")
    continue
  fi
  start=$SECONDS
  log=$(mktemp)
  exec {output}> >(tee "$log")
  tee_pid=$!
  set +e
  if [ "$stage" = releases ]; then stage_releases; else (set -e; "stage_$stage"); fi >&"$output" 2>&1
  status=$?
  set -e
  exec {output}>&-
  wait "$tee_pid"
  reason=
  if [ "$status" -eq 0 ]; then
    result=PASS passed=$((passed + 1))
  elif [ "$status" -eq 77 ] && reason=$(sed -n 's/^SKIP: //p' "$log") && [ -n "$reason" ]; then
    result=SKIP skipped=$((skipped + 1)) reason=${reason//$'\n'/; }
  else
    result=FAIL failed=$((failed + 1))
    reason="exit status $status"
    [ "$status" -ne 77 ] || reason="exit status 77 without a line \"SKIP: reason\""
  fi
  summary+=("$(row "$result" "$stage" "$((SECONDS - start)) s" "$reason")")
  # The lab's scenarios, one a line under its row.
  while read -r _ verdict scenario seconds; do
    summary+=("$(row "$verdict" "  $scenario" "$seconds s")")
  done < <(grep -a '^lab-scenario ' "$log" || true)
  rm -f "$log"
  # The lab installs the package built here rather than building it again.
  [ "$stage" != package ] || export PELMOR_BUILT_PACKAGE_DIR=$PWD/build-package
done

echo
echo "== Summary =="
printf '%s\n' "${summary[@]}"
status=0
[ "$failed" -eq 0 ] || status=1
if [ "$skipped" -gt 0 ] && [ "${CI:-}" = true ]; then
  echo "CI=true: a skipped stage fails the run"
  status=1
fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$status" -eq 0 ] || exit "$status"
