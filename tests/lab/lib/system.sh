# shellcheck shell=bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# What the whole-system guest's scenarios share. The receiver is a USB
# gadget 256f:c652 with three HID functions on dummy_hcd; with
# no_out_endpoint set, every report the host sends reaches /dev/hidgN, where
# hidg-log writes it down with its time. "Plugging" binds the gadget to the
# dummy controller. A second receiver, on a second dummy controller, has its
# management interface 1 at /dev/hidg3 (f_hid has four minors in all, so its
# interface 0 is a serial function that no host driver takes).
#
# Every scenario starts with both receivers unplugged, the package installed
# as shipped and no failed unit, and the runner puts the guest back so after
# it: a scenario sets up only what it needs beyond that.
# shellcheck source=tests/lab/lib/assert.sh
. "${BASH_SOURCE[0]%/*}/assert.sh"
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
G=/sys/kernel/config/usb_gadget/pelmor
G2=/sys/kernel/config/usb_gadget/pelmor2
# shellcheck disable=SC2034 # read by the scenarios, which source this
LAB=/usr/local/lib/pelmor-lab
LOGS=/run/lab
# The configuration report with the built-in settings, and with speed=2.
EXPECT=10001c0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
# shellcheck disable=SC2034 # likewise
EXPECT_SPEED2=10000f0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
CONF=/etc/pelmor/pelmor.conf
# The running scenario's name, for its figures.
SCENARIO=$(basename "$0" .sh)

bind_udc() { # gadget controller: empty to unbind
  [ "$(cat "$1/UDC")" = "$2" ] || echo "$2" >"$1/UDC"
}
plug() { bind_udc "$G" dummy_udc.0; }
unplug() { bind_udc "$G" ""; }
plug_second() { bind_udc "$G2" dummy_udc.1; }
unplug_second() { bind_udc "$G2" ""; }

# Marks are seconds since the epoch, to the nanosecond: the readers' logs
# and the journal count so.
now() { date +%s.%N; }
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", (b - a) * 1000 }'; }
# A figure for the report: a time or a rating, not a verdict.
figure() { echo "LAB TIME $1 $2"; }

# Reports function N received since mark T, one hex line each.
reports_since() { awk -v t="$2" '$1 >= t { print $2 }' "$LOGS/hidg$1.log" 2>/dev/null; }
count_since() { reports_since "$1" "$2" | wc -l; }
first_since() { awk -v t="$2" '$1 >= t { print $1; exit }' "$LOGS/hidg$1.log" 2>/dev/null; }
# The hidraw node for USB interface N of the first receiver (or of the
# second, on the second dummy controller), empty when it has none.
node_of() { # N [controller]
  local d
  for d in /sys/class/hidraw/hidraw*; do
    [[ $(readlink -f "$d") == */dummy_hcd.${2:-0}/* ]] || continue
    if [ "$(cat "$d/device/../bInterfaceNumber" 2>/dev/null)" = "0$1" ]; then
      echo "/dev/${d##*/}"
      return
    fi
  done
}
# The journal since mark T.
journal_since() { journalctl -q --no-pager -o cat --since "@$1" "${@:2}"; }

# States, for wait_until and the checks.
helper_running() { pgrep -x pelmor-helper >/dev/null; }
helper_gone() { ! helper_running; }
process_gone() { ! kill -0 "$1" 2>/dev/null; }
failed_units() { systemctl list-units --failed --no-legend --plain 'pelmor*'; }
linked() { [ -L /dev/pelmor_config ]; }
unlinked() { [ ! -e /dev/pelmor_config ] && [ ! -L /dev/pelmor_config ]; }
links_to() { [ "$(readlink -f /dev/pelmor_config)" = "$1" ]; }
heartbeat_pid() { systemctl show -p MainPID --value pelmor-heartbeat.service; }
heartbeat_active() { systemctl -q is-active pelmor-heartbeat.service; }
heartbeat_inactive() { ! heartbeat_active; }
heartbeat_replaced() { heartbeat_active && [ "$(heartbeat_pid)" != "$1" ]; }
hid_loaded() { lsmod | grep -q '^hid '; }
has_node() { [ -n "$(node_of "$@")" ]; }
has_no_node() { [ -z "$(node_of "$@")" ]; }
init_unit() { echo "pelmor-init-receiver@${1#/dev/}.service"; }
init_finished() { [ "$(systemctl show -p SubState --value "$(init_unit "$1")")" = exited ]; }
# Interfaces 1 and 2 of the first receiver got their reports since T (the
# run's on both), and the heartbeat has sent its own.
configured_since() {
  [ "$(count_since 1 "$1")" -ge 1 ] && [ "$(count_since 2 "$1")" -ge 1 ] && heartbeat_configured_since "$1"
}
heartbeat_configured_since() { [ "$(journal_count "$1" '^初始化成功。$' -t pelmor-helper)" -ge 1 ]; }
# Every interface named got a report since T.
reports_at_since() { # T interface...
  local t=$1 i
  shift
  for i in "$@"; do
    [ "$(count_since "$i" "$t")" -ge 1 ] || return 1
  done
}
runs_new_binary() { # old-pid
  local pid
  pid=$(heartbeat_pid)
  [ "$pid" != 0 ] && [ "$pid" != "$1" ] && [ "$(readlink "/proc/$pid/exe")" = /usr/bin/pelmor-helper ]
}
# The configuration runs of a node's unit that finished since T.
runs_since() { # T node
  journalctl -q --no-pager -o cat --since "@$1" -u "$(init_unit "$2")" \
    | grep -cF "Finished $(init_unit "$2")" || true
}
# What an installation leaves beside the package's files: its maintainer
# scripts, the resume unit's links and deb-systemd-helper's record of them.
package_state() { find /etc /var/lib/systemd /var/lib/dpkg/info -name '*pelmor*' | sort; }

# --- checks ---------------------------------------------------------------

# Interface N got exactly these reports since T.
assert_reports() { # T interface expected-reports...
  local t=$1 i=$2 got
  shift 2
  got=$(reports_since "$i" "$t" | tr '\n' ' ')
  assert_eq "$got" "${*:+$* }" "reports at interface $i"
}

assert_nothing_sent_since() { # T
  local i
  for i in 0 1 2; do assert_reports "$1" "$i"; done
}

assert_no_failed_unit() { assert_eq "$(failed_units)" "" "failed units"; }

# The heartbeat still runs under PID, and no unit failed.
assert_heartbeat_goes_on() { # pid
  assert_eq "$(heartbeat_pid)" "$1" "the heartbeat's PID"
  assert_true "the heartbeat is not active" heartbeat_active
  assert_no_failed_unit
}

# Interface 1 is sent the report twice at a plug-in, by the configuration
# run and by the heartbeat, tens of milliseconds apart. The gadget keeps one
# report received on its control endpoint until it is read, and a second
# one replaces it: when both arrive within one round of the emulated host
# controller, however soon the reader runs, it reads one. So the journal
# counts what was sent (one run's line for the node, one heartbeat's), and
# the gadget shows what arrived: the expected report, once or twice, and
# nothing else.
assert_sent_twice_to_interface_1() { # T
  local t=$1 node1 got
  node1=$(node_of 1)
  assert_eq "$(journal_count "$t" "^正在配置设备 $node1 " -t pelmor-helper)" 1 "runs' lines for $node1"
  assert_eq "$(journal_count "$t" '^初始化成功。$' -t pelmor-helper)" 1 "heartbeats' configurations"
  got=$(reports_since 1 "$t" | tr '\n' ' ')
  [ "$got" = "$EXPECT " ] || [ "$got" = "$EXPECT $EXPECT " ] || fail_now "reports at interface 1: got '$got'"
  figure "$SCENARIO-interface-1-reports-read" "$(count_since 1 "$t")"
}

# After a plug at T: exactly one configuration run finished, interfaces 1 and
# 2 got the report (1 from the heartbeat too), interface 0 nothing, the link
# points at interface 1, the heartbeat runs, and the tool said what it did
# under its own name, with no warning (the packaged configuration file is
# there to be read).
assert_configured() { # T
  local t=$1 node1
  assert_within 20 "no configuration" configured_since "$t"
  sleep 1.5 # anything more would arrive now
  node1=$(node_of 1)
  assert_sent_twice_to_interface_1 "$t"
  assert_reports "$t" 2 "$EXPECT"
  assert_reports "$t" 0
  assert_eq "$(readlink -f /dev/pelmor_config)" "${node1:-interface 1 has no node}" "the link's target"
  assert_true "the heartbeat is not active" heartbeat_active
  assert_eq "$(runs_since "$t" "$node1")" 1 "configuration runs of ${node1#/dev/} finished"
  assert_journal_lacks "$t" 'Failed with result|Failed to start' "a unit failed" -u 'pelmor*'
  assert_journal_lacks "$t" '^警告' "a warning" -t pelmor-helper
  assert_journal_has "$t" "^正在配置设备 $(node_of 2) \\(speed=4, poll=1000Hz\\)\\.\\.\\.\$" \
    "the progress line for interface 2" -t pelmor-helper
  figure "$SCENARIO-plug-to-init-report-ms" "$(elapsed_ms "$t" "$(first_since 2 "$t")")"
  figure "$SCENARIO-plug-to-heartbeat-report-ms" "$(elapsed_ms "$t" "$(first_since 1 "$t")")"
}

# A heartbeat started again since T in place of PID: it runs, and its own
# configuration (REPORT, the built-in one by default) is all that was sent
# (to interface 1, once), by no run of the configuration unit.
assert_heartbeat_started_again_since() { # T pid [report]
  local t=$1 old=$2 report=${3:-$EXPECT}
  assert_within 10 "no new heartbeat in place of $old" heartbeat_replaced "$old"
  assert_within 10 "no report at interface 1" reports_at_since "$t" 1
  sleep 1.5 # anything more would arrive now
  assert_reports "$t" 1 "$report"
  assert_reports "$t" 0
  assert_reports "$t" 2
  assert_eq "$(runs_since "$t" "$(node_of 1)")" 0 "configuration runs"
  assert_no_failed_unit
}

# --- states a scenario starts from -------------------------------------------

# The first receiver plugged in and configured, its run finished and its
# heartbeat running; PLUGGED_AT is the mark before the plug.
plug_configured() {
  PLUGGED_AT=$(now)
  plug
  assert_within 20 "setting up: no configuration after plugging in" configured_since "$PLUGGED_AT"
  assert_within 10 "setting up: the configuration run did not finish" init_finished "$(node_of 1)"
  assert_within 10 "setting up: no heartbeat" heartbeat_active
}

# Both receivers plugged in and configured, the link on the second one's
# interface 1.
plug_both_configured() {
  local t
  plug_configured
  t=$(now)
  plug_second
  assert_within 20 "setting up: the second receiver got no report" reports_at_since "$t" 3
  assert_within 10 "setting up: the link did not move to the second receiver" links_to "$(node_of 1 1)"
  assert_within 10 "setting up: its configuration run did not finish" init_finished "$(node_of 1 1)"
}

# --- sleep and resume ----------------------------------------------------------

# The journal's word that the system is back from sleep, whatever systemd
# version words it: the first one since T, as seconds since the epoch.
resumed_since() { # T
  journalctl -q --no-pager -o short-unix --since "@${1%.*}" MESSAGE_ID=8811e6df2a8e40f58a94cea26f8ebf14 \
    | awk '{ print $1; exit }'
}
resumed() { [ -n "$(resumed_since "$1")" ]; }

# Suspends to RAM with the RTC alarm set to wake the machine 6 s later;
# returns once the system is back. RESUMED_AT is the moment it said so.
sleep_and_wake() { # T (taken before the sleep)
  echo 0 >/sys/class/rtc/rtc0/wakealarm
  echo +6 >/sys/class/rtc/rtc0/wakealarm
  assert_true "systemctl suspend failed" systemctl suspend
  assert_within 60 "the machine did not wake" resumed "$1"
  # shellcheck disable=SC2034 # for the scenario's figures
  RESUMED_AT=$(resumed_since "$1")
}

# --- shared by more than one scenario -----------------------------------------

# Plugs the first receiver COUNT times in a row; with a PAUSE each plug is
# pulled out that long after its node is linked (inside the configuration
# run's one-second wait), without one at once. The last plug stays: it must
# end configured, with no start refused and no pulled run failed.
plug_series() { # count [pause]
  local count=$1 pause=${2:-} i start t
  start=$(now)
  for i in $(seq "$count"); do
    t=$(now)
    plug
    [ "$i" = "$count" ] && break
    assert_within 10 "plug $i was never linked" linked
    if [ -n "$pause" ]; then sleep "$pause"; fi
    unplug
    assert_within 10 "plug $i was never unlinked" unlinked
  done
  figure "$SCENARIO-cycle-ms" "$(elapsed_ms "$start" "$t" | awk -v n="$((count - 1))" '{ printf "%d", $1 / n }')"
  assert_configured "$t"
  assert_journal_lacks "$start" 'Start request repeated too quickly' "a start was refused"
  assert_journal_lacks "$start" 'Failed with result|Failed to start' "a pulled run failed" -u 'pelmor*'
}

# Installing DEB over the running package, with no terminal to answer a
# question on, restarts the heartbeat with the new binary and keeps an
# administrator's edit of the configuration file.
assert_install_restarts_heartbeat() { # deb
  local pid edit="# edited in the lab"
  plug_configured
  echo "$edit" >>"$CONF"
  pid=$(heartbeat_pid)
  assert_true "dpkg -i $1 failed" dpkg -i "$1" </dev/null >/dev/null 2>&1
  assert_within 10 "no heartbeat of the new binary in place of $pid" runs_new_binary "$pid"
  assert_eq "$(tail -n 1 "$CONF")" "$edit" "the last line of $CONF"
}
