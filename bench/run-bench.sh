#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Measures what each run of pelmor-helper costs beyond the least program that
# does the same (bench/floor.cpp), against the virtual receiver: instructions
# with callgrind (repeatable on a busy machine) and peak resident memory with
# /usr/bin/time. Sleeps are shimmed away in both (bench/nosleep.c): they cost
# no instructions, only time.
# Usage: [PELMOR_QT_MAJOR=5|6] bench/run-bench.sh [--smoke]
#   --smoke: tiny cycle counts, targets reported but not enforced (for CI)
#   PELMOR_QT_MAJOR: the Qt both programs are built against (5 by default)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

smoke=0
[ "${1:-}" = --smoke ] && smoke=1
if [ $smoke = 1 ]; then
  short=5 long=20 memory_short=5 memory_long=50
else
  short=100 long=1000 memory_short=100 memory_long=10000
fi

tools/deps.sh bench

qt=${PELMOR_QT_MAJOR:-5}
build=$source_dir/build-bench
[ "$qt" = 5 ] || build=$build-qt$qt
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPELMOR_QT_MAJOR="$qt" >/dev/null
cmake --build "$build" -j"$(nproc)" --target pelmor-helper pelmor-floor nosleep fakehid_shared >/dev/null
tool=$build/pelmor-helper
floor=$build/bench/pelmor-floor

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export LD_LIBRARY_PATH="$build/virtual-receiver" LD_PRELOAD="$build/bench/libnosleep.so"
export FAKEHID_SCRIPT="$scratch/receiver.script" LC_ALL=C.UTF-8
unset FAKEHID_LOG
for name in if0 if1 if2 if3; do ln -s /dev/null "$scratch/$name"; done
printf 'speed=4\npolling_hz=1000\n' >"$scratch/init.conf"
printf 'device_path=%s\nheartbeat_interval_sec=0.051\nheartbeat_startup_delay_sec=0\n' \
  "$scratch/node" >"$scratch/heartbeat.conf"

# The receiver for a scenario: three management interfaces and the mouse,
# and a node that goes away after the given number of heartbeats.
receiver() { # heartbeats
  ln -sf /dev/null "$scratch/node"
  printf 'enum 0 %s/if0\nenum 1 %s/if1\nenum 2 %s/if2\nenum 3 %s/if3\ndevice %s/node\nvanish %s/node write %s\n' \
    "$scratch" "$scratch" "$scratch" "$scratch" "$scratch" "$scratch" "$1" >"$FAKEHID_SCRIPT"
}

instructions() { # heartbeats command...
  local heartbeats=$1 out=$scratch/callgrind.out
  shift
  receiver "$heartbeats"
  valgrind --tool=callgrind --callgrind-out-file="$out" "$@" >/dev/null 2>&1 || true
  sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$out"
}

# Peak resident memory, the median of three runs: a single figure moves by
# tens of KiB from run to run (address layout, allocator).
peak_kib() { # heartbeats command...
  local heartbeats=$1
  shift
  for _ in 1 2 3; do
    receiver "$heartbeats"
    /usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/^\s*Maximum resident set size (kbytes): //p'
  done | sort -n | sed -n 2p
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
verdict() { awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t) ? "met" : "MISSED" }'; }

missed=0
row() { # label tool-instr floor-instr tool-kib floor-kib
  local r m k
  r=$(ratio "$2" "$3")
  m=$(verdict "$r" 1.1)
  k=$(verdict $(( $4 - $5 )) 1024)
  [ "$m" = met ] && [ "$k" = met ] || missed=1
  printf '| %s | %s | %s | %s | %s | %s | %s | %+d | %s |\n' "$1" "$2" "$3" "$r" "$m" "$4" "$5" $(( $4 - $5 )) "$k"
}

echo "pelmor-helper benchmark, Qt $qt, $(date -u +%Y-%m-%d), $(uname -m), $(nproc) cores," \
  "$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
echo
echo "| scenario | tool instructions | floor instructions | ratio | ≤ 1.1 | tool peak KiB | floor peak KiB | difference KiB | ≤ 1024 |"
echo "|---|---:|---:|---:|---|---:|---:|---:|---|"
row "--help" "$(instructions 0 "$tool" --help)" "$(instructions 0 "$floor" help)" \
  "$(peak_kib 0 "$tool" --help)" "$(peak_kib 0 "$floor" help)"
row "usage error" "$(instructions 0 "$tool" --bogus)" "$(instructions 0 "$floor" usage --bogus)" \
  "$(peak_kib 0 "$tool" --bogus)" "$(peak_kib 0 "$floor" usage --bogus)"
row "--init-receiver, 3 interfaces" \
  "$(instructions 0 "$tool" --init-receiver --config "$scratch/init.conf")" \
  "$(instructions 0 "$floor" init "$scratch/init.conf")" \
  "$(peak_kib 0 "$tool" --init-receiver --config "$scratch/init.conf")" \
  "$(peak_kib 0 "$floor" init "$scratch/init.conf")"
tool_long=$(instructions "$long" "$tool" --heartbeat --config "$scratch/heartbeat.conf")
floor_long=$(instructions "$long" "$floor" heartbeat "$scratch/heartbeat.conf")
row "--heartbeat, $long cycles" "$tool_long" "$floor_long" \
  "$(peak_kib "$long" "$tool" --heartbeat --config "$scratch/heartbeat.conf")" \
  "$(peak_kib "$long" "$floor" heartbeat "$scratch/heartbeat.conf")"

tool_short=$(instructions "$short" "$tool" --heartbeat --config "$scratch/heartbeat.conf")
floor_short=$(instructions "$short" "$floor" heartbeat "$scratch/heartbeat.conf")
tool_cycle=$(( (tool_long - tool_short) / (long - short) ))
floor_cycle=$(( (floor_long - floor_short) / (long - short) ))
cycle_ratio=$(ratio "$tool_cycle" "$floor_cycle")
cycle_verdict=$(verdict "$cycle_ratio" 1.2)
[ "$cycle_verdict" = met ] || missed=1
echo
echo "Heartbeat instructions per cycle (between $short and $long cycles): tool $tool_cycle," \
  "floor $floor_cycle, ratio $cycle_ratio (≤ 1.2: $cycle_verdict)"

memory_a=$(peak_kib "$memory_short" "$tool" --heartbeat --config "$scratch/heartbeat.conf")
memory_b=$(peak_kib "$memory_long" "$tool" --heartbeat --config "$scratch/heartbeat.conf")
# Flat: within 64 KiB, less than a leak of one small allocation per cycle
# would add over the longer run.
flat=$(verdict $(( memory_b - memory_a )) 64)
[ "$flat" = met ] || missed=1
echo "Heartbeat peak memory after $memory_short cycles: $memory_a KiB; after $memory_long cycles:" \
  "$memory_b KiB (flat within 64 KiB: $flat)"

if [ $smoke = 1 ]; then
  echo "Smoke run: the figures above are not compared with the targets."
  exit 0
fi
[ $missed = 0 ] && echo "All targets met." || echo "Some targets were missed."
exit $missed
