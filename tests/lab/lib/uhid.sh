# shellcheck shell=dash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# What the uhid guest's scenarios share: emulated receivers on /dev/uhid
# (uhid-receiver, which logs every report it gets to /tmp/NAME.log), the
# tool, and the kernel's log. Every scenario starts with no receiver, no
# /dev/pelmor_config and nothing in /tmp but what the runner put there; the
# runner puts the guest back so after it.
# shellcheck source=tests/lab/lib/assert.sh
. "${0%/*}/../lib/assert.sh"
# shellcheck disable=SC2034 # the scenarios' expected reports
DEFAULTS=10001c0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
# shellcheck disable=SC2034 # likewise
LEVEL5_125HZ_OFF=1000230008ff000000000000000000000003000a0b0c0c0e0d2f001e00000001
HELPER=/bin/pelmor-helper

# The kernel's log since a mark, which is its number of lines then.
journal_mark() { dmesg | wc -l; }
journal_since() { dmesg | tail -n +"$(($1 + 1))"; }

# The file holds exactly the expected text; shows both when not.
assert_same() { # what file expected
  printf '%s' "$3" >/tmp/expected
  if ! cmp -s "$2" /tmp/expected; then
    echo "--- $1: expected"; cat /tmp/expected; echo "--- $1: got"; cat "$2"; echo "---"
    fail_now "$1 differs"
  fi
}

# The hidraw nodes there are, one a line.
hidraw_nodes() {
  local node
  for node in /dev/hidraw*; do
    [ ! -e "$node" ] || echo "$node"
  done
}

# Starts an emulated receiver in the background and waits for its node.
# Sets RECEIVER_PID and NODE.
start_receiver() { # name [options]
  local name=$1 before
  shift
  before=$(hidraw_nodes)
  /bin/uhid-receiver -n "$name" "$@" >"/tmp/$name.log" 2>&1 &
  # shellcheck disable=SC2034 # for the scenario, to end this receiver alone
  RECEIVER_PID=$!
  NODE=
  wait_until 5 new_node "$before" || { cat "/tmp/$name.log"; fail_now "setting up: no hidraw node for $name"; }
}

# A hidraw node that is not among those named; sets NODE to it.
new_node() { # nodes-before
  local node
  for node in /dev/hidraw*; do
    [ -e "$node" ] || continue
    echo "$1" | grep -qx "$node" || NODE=$node
  done
  [ -n "$NODE" ]
}

# Ends every emulated receiver; their nodes go.
stop_receivers() {
  killall uhid-receiver 2>/dev/null || true
  wait
  wait_until 5 no_hidraw_node || fail_now "a receiver's node is left"
}
no_hidraw_node() { [ -z "$(hidraw_nodes)" ]; }

run_helper() { # arguments...; sets STATUS, output in /tmp/out and /tmp/err
  STATUS=0
  "$HELPER" "$@" >/tmp/out 2>/tmp/err || STATUS=$?
}

# --init-receiver sends the report to two receivers, each under its progress
# line, in the order the kernel made their nodes.
assert_init_two_interfaces() { # config expected-report speed poll
  local a b loaded="" r
  start_receiver rA
  a=$NODE
  start_receiver rB
  b=$NODE
  run_helper --init-receiver --config "$1"
  stop_receivers
  assert_eq "$STATUS" 0 "the status"
  if [ -f "$1" ]; then loaded="已加载配置: $1
"; fi
  assert_same stdout /tmp/out "$loaded正在配置设备 $a (speed=$3, poll=$4Hz)...
正在配置设备 $b (speed=$3, poll=$4Hz)...
"
  for r in rA rB; do
    grep -qx "$r SET_REPORT type=feature id=0x10 size=32 data=$2" "/tmp/$r.log" \
      || { cat "/tmp/$r.log"; fail_now "$r did not get the report"; }
  done
}
