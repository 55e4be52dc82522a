#!/bin/bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The whole-system lab, inside a Debian guest booted with systemd as PID 1,
# the project's package installed with dpkg. The receiver is a USB gadget
# 256f:c652 with three HID functions on dummy_hcd; with no_out_endpoint set,
# every report the host sends reaches /dev/hidgN, where hidg-log writes it
# down. "Plugging" binds the gadget to the dummy controller. A second
# receiver, on a second dummy controller, has its management interface 1 at
# /dev/hidg3 (f_hid has four minors in all, so its interface 0 is a serial
# function that no host driver takes).
#   early       before udev starts: build the gadget, bind it for a coldplug
#               boot (pelmor.lab=coldplug on the kernel command line)
#   readers     log what each function receives, for the whole boot
#   scenarios   the checks: PASS/FAIL and TIME lines on ttyS1, the journal
#               on ttyS2 at the end, then power off
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
G=/sys/kernel/config/usb_gadget/pelmor
G2=/sys/kernel/config/usb_gadget/pelmor2
LAB=/usr/local/lib/pelmor-lab
LOGS=/run/lab
MODE=$(sed -n 's/.*pelmor\.lab=\([a-z]*\).*/\1/p' /proc/cmdline)
# The configuration report with the built-in settings, and with speed=2.
EXPECT=10001c0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
EXPECT_SPEED2=10000f0001ff000000000000000000000003000a0b0c0f0e0d10001e00000001
CONF=/etc/pelmor/pelmor.conf

plug() { echo dummy_udc.0 >"$G/UDC"; }
unplug() { echo "" >"$G/UDC"; }
plug_second() { echo dummy_udc.1 >"$G2/UDC"; }
unplug_second() { echo "" >"$G2/UDC"; }

# A gadget 256f:c652 whose configuration has the given functions, in
# interface order.
gadget() { # folder serial function...
  local g=$1 f
  mkdir -p "$g/strings/0x409" "$g/configs/c.1"
  echo 0x256f >"$g/idVendor"
  echo 0xc652 >"$g/idProduct"
  echo "pelmor lab" >"$g/strings/0x409/manufacturer"
  echo "emulated receiver" >"$g/strings/0x409/product"
  echo "$2" >"$g/strings/0x409/serialnumber"
  shift 2
  for f in "$@"; do
    f="$g/functions/$f"
    mkdir "$f"
    case $f in
      */hid.*)
        echo 0 >"$f/protocol"
        echo 0 >"$f/subclass"
        echo 32 >"$f/report_length"
        echo 1 >"$f/no_out_endpoint"
        cat "$LAB/report_desc.bin" >"$f/report_desc"
        ;;
    esac
    ln -s "$f" "$g/configs/c.1/"
  done
}

early() {
  modprobe configfs && modprobe dummy_hcd num=2 && modprobe libcomposite && modprobe usb_f_hid \
    && modprobe usb_f_serial || return 1
  mountpoint -q /sys/kernel/config || mount -t configfs configfs /sys/kernel/config || return 1
  gadget "$G" A hid.usb0 hid.usb1 hid.usb2 || return 1
  gadget "$G2" B gser.usb0 hid.usb3 || return 1
  [ "$MODE" != coldplug ] || plug
}

# The gadget keeps one report received through the control endpoint until
# it is read, and a second one replaces it: a reader that runs late on the
# one emulated CPU loses a report the tool did send (the configuration run
# and the heartbeat send to interface 1 within tens of milliseconds). The
# readers run at a real-time priority, so that each report is read as soon
# as it is there.
readers() {
  local i rt=()
  mkdir -p "$LOGS"
  if chrt -f 50 true 2>/dev/null; then rt=(chrt -f 50); fi
  for i in 0 1 2 3; do
    "${rt[@]}" "$LAB/hidg-log" "/dev/hidg$i" "$LOGS/hidg$i.log" &
  done
  wait
}

# --- what the scenarios look at -------------------------------------------

now() { date +%s.%N; }
elapsed_ms() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%d", (b - a) * 1000 }'; }
# Reports function N received since time T, one hex line each.
reports_since() { awk -v t="$2" '$1 >= t { print $2 }' "$LOGS/hidg$1.log" 2>/dev/null; }
count_since() { reports_since "$1" "$2" | wc -l; }
first_since() { awk -v t="$2" '$1 >= t { print $1; exit }' "$LOGS/hidg$1.log" 2>/dev/null; }
# The hidraw node for USB interface N of the first receiver (or of the
# second, on the second dummy controller), empty when it has none.
node_of() { # N [controller]
  local d
  for d in /sys/class/hidraw/hidraw*; do
    [[ $(readlink -f "$d") == */dummy_hcd.${2:-0}/* ]] || continue
    [ "$(cat "$d/device/../bInterfaceNumber" 2>/dev/null)" = "0$1" ] && { echo "/dev/${d##*/}"; return; }
  done
}
# Polls a command every 0.1 s for at most SECONDS, to the fraction: a limit
# counted in whole seconds of the clock would end up to a second early.
wait_until() {
  local deadline
  deadline=$(awk -v now="$(now)" -v s="$1" 'BEGIN { printf "%.3f", now + s }')
  shift
  until "$@"; do
    awk -v now="$(now)" -v d="$deadline" 'BEGIN { exit !(now < d) }' || return 1
    sleep 0.1
  done
}
journal_since() { journalctl -q --no-pager -o cat --since "@${1%.*}" "${@:2}"; }
helper_running() { pgrep -x pelmor-helper >/dev/null; }
failed_units() { systemctl list-units --failed --no-legend --plain 'pelmor*'; }
linked() { [ -L /dev/pelmor_config ]; }
unlinked() { [ ! -e /dev/pelmor_config ] && [ ! -L /dev/pelmor_config ]; }
heartbeat_active() { systemctl -q is-active pelmor-heartbeat.service; }
heartbeat_inactive() { ! systemctl -q is-active pelmor-heartbeat.service; }
plugged_in() { linked && [ -n "$(node_of 2)" ]; }
configured_since() { [ "$(count_since 1 "$1")" -ge 2 ] && [ "$(count_since 2 "$1")" -ge 1 ]; }
# Predicates for wait_until.
helper_gone() { ! helper_running; }
process_gone() { ! kill -0 "$1" 2>/dev/null; }
has_node() { [ -n "$(node_of "$1")" ]; }
has_no_node() { [ -z "$(node_of "$1")" ]; }
links_to() { [ "$(readlink -f /dev/pelmor_config)" = "$1" ]; }
seat_has_session() { [ -n "$(loginctl show-seat seat0 -p ActiveSession --value 2>/dev/null)" ]; }
lab_may_open() { getfacl -p "$1" 2>/dev/null | grep -q '^user:lab:rw'; }
heartbeat_replaced() { heartbeat_active && [ "$(heartbeat_pid)" != "$1" ]; }
resumed() { [ -n "$(resumed_since "$1")" ]; }
# Every interface named got a report since T.
reports_at_since() { # T interface...
  local t=$1 i
  shift
  for i in "$@"; do
    [ "$(count_since "$i" "$t")" -ge 1 ] || return 1
  done
}

# Each verdict comes with the time since the one before it (or since the
# scenarios began): what the scenario took, for the test command's summary.
uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }
LAST_VERDICT_MS=0
verdict_time() { # scenario
  local ms
  ms=$(uptime_ms)
  figure "verdict-$1-ms" "$((ms - LAST_VERDICT_MS))"
  LAST_VERDICT_MS=$ms
}
pass() { echo "LAB PASS $1"; verdict_time "$1"; }
fail() { echo "LAB FAIL $1: $2"; verdict_time "$1"; }
figure() { echo "LAB TIME $1 $2"; }
# A scenario's verdict from what its checks added to its local $why.
verdict() { if [ -z "$why" ]; then pass "$1"; else fail "$1" "$why"; fi; }

# The heartbeat still runs under PID and no unit failed; else says so in $why.
heartbeat_goes_on() { # pid
  [ "$(heartbeat_pid)" = "$1" ] && heartbeat_active || why="$why heartbeat $(heartbeat_pid), was $1;"
  [ -z "$(failed_units)" ] || why="$why failed: $(failed_units);"
}

# Nothing was sent to the first receiver since T; else says so in $why.
nothing_sent_since() { # T
  local i
  for i in 0 1 2; do
    [ "$(count_since "$i" "$1")" = 0 ] || why="$why interface $i got '$(reports_since "$i" "$1" | tr '\n' ' ')';"
  done
}

# The configuration runs of a node's unit that finished since T (exactly).
runs_since() { # T node
  journalctl -q --no-pager -o cat --since "@$1" -u "pelmor-init-receiver@${2#/dev/}.service" \
    | grep -cF "Finished pelmor-init-receiver@${2#/dev/}.service"
}

# After a plug at T: exactly one configuration run finished, interfaces 1 and
# 2 got the report (1 twice: the run's and the heartbeat's), interface 0
# nothing, the link points at interface 1 and the heartbeat runs.
check_configured() { # scenario T
  local name=$1 t=$2 why="" node1 runs
  wait_until 20 configured_since "$t" || why="no report within 20 s;"
  sleep 1.5 # anything more would arrive now
  node1=$(node_of 1)
  [ "$(reports_since 1 "$t" | tr '\n' ' ')" = "$EXPECT $EXPECT " ] \
    || why="$why interface 1 got '$(reports_since 1 "$t" | tr '\n' ' ')';"
  [ "$(reports_since 2 "$t" | tr '\n' ' ')" = "$EXPECT " ] \
    || why="$why interface 2 got '$(reports_since 2 "$t" | tr '\n' ' ')';"
  [ "$(count_since 0 "$t")" = 0 ] || why="$why interface 0 got a report;"
  [ -n "$node1" ] && [ "$(readlink -f /dev/pelmor_config)" = "$node1" ] \
    || why="$why link '$(readlink -f /dev/pelmor_config)', interface 1 is '$node1';"
  heartbeat_active || why="$why heartbeat not active;"
  runs=$(runs_since "$t" "$node1")
  [ "$runs" = 1 ] || why="$why $runs configuration runs of ${node1#/dev/} finished, not one;"
  ! journal_since "$t" -u 'pelmor*' | grep -E 'Failed with result|Failed to start' || why="$why a unit failed;"
  # The packaged configuration file is there to be read: no warning.
  ! journal_since "$t" -t pelmor-helper | grep '^警告' || why="$why a warning in the journal;"
  # The run's own lines, under the tool's name (not stdbuf's).
  journal_since "$t" -t pelmor-helper | grep -qxF "正在配置设备 $(node_of 2) (speed=4, poll=1000Hz)..." \
    || why="$why no progress line of pelmor-helper for interface 2;"
  if [ -z "$why" ]; then
    pass "$name"
    figure "$name-plug-to-init-report-ms" "$(elapsed_ms "$t" "$(first_since 2 "$t")")"
    figure "$name-plug-to-heartbeat-report-ms" "$(elapsed_ms "$t" "$(first_since 1 "$t")")"
  else
    fail "$name" "$why"
  fi
}

timed() { # scenario command...: runs a scenario and says how long it took
  local start
  start=$(now)
  "$@"
  figure "$2-scenario-ms" "$(elapsed_ms "$start" "$(now)")"
}

# --- the scenarios ---------------------------------------------------------

first_plug() { # scenario
  local t
  if lsmod | grep -q '^hid '; then
    [ "$1" = first-plug-hid-loaded ] || { fail "$1" "hid is loaded already"; return; }
  else
    [ "$1" = first-plug-hid-not-loaded ] || { fail "$1" "hid is not loaded"; return; }
  fi
  t=$(now)
  plug
  check_configured "$1" "$t"
}

unplug_clean() { # scenario
  local t why=""
  t=$(now)
  unplug
  # A real machine stops it in a fraction of a second; the emulated one,
  # with one CPU, in 0.6 to 1.8 s: 5 s leaves room for a slow moment of
  # the emulator without hiding a heartbeat that is left running.
  wait_until 5 heartbeat_inactive || why="heartbeat still $(systemctl is-active pelmor-heartbeat.service) after 5 s;"
  figure "$1-heartbeat-stop-ms" "$(elapsed_ms "$t" "$(now)")"
  wait_until 10 unlinked || why="$why link left;"
  wait_until 10 helper_gone || why="$why pelmor-helper still runs: $(pgrep -a pelmor-helper);"
  [ -z "$(failed_units)" ] || why="$why failed: $(failed_units);"
  verdict "$1"
}

# Events replayed for a receiver that is plugged in and configured, as the
# coldplug at boot and any package's "udevadm trigger" replay them: no run
# starts again, no report goes out, the heartbeat goes on.
replayed_events() {
  local node1 unit invocation pid t action why=""
  node1=$(node_of 1)
  unit=pelmor-init-receiver@${node1#/dev/}.service
  [ "$(systemctl show -p SubState --value "$unit")" = exited ] \
    || why="$unit is $(systemctl show -p ActiveState,SubState --value "$unit" | tr '\n' ' ')before the events;"
  invocation=$(systemctl show -p InvocationID --value "$unit")
  pid=$(heartbeat_pid)
  t=$(now)
  for action in add change add; do
    udevadm trigger --settle --action="$action" --subsystem-match=hidraw
  done
  sleep 4 # a run would have started and sent by now: its own wait is 1 s
  nothing_sent_since "$t"
  [ "$(systemctl show -p InvocationID --value "$unit")" = "$invocation" ] || why="$why $unit ran again;"
  linked || why="$why link gone;"
  heartbeat_goes_on "$pid"
  verdict replayed-events-send-nothing
}

seat_user() {
  local node1 node2 t out status why=""
  node1=$(node_of 1) node2=$(node_of 2)
  wait_until 30 seat_has_session || why="no active session on seat0;"
  wait_until 10 lab_may_open "$node1" || why="$why no ACL for lab on $node1;"
  t=$(now)
  out=$(runuser -u lab -- pelmor-helper --init-receiver 2>&1)
  status=$?
  [ "$status" = 0 ] || why="$why status $status: $out;"
  wait_until 5 reports_at_since "$t" 2
  [ "$(reports_since 1 "$t" | tr '\n' ' ')" = "$EXPECT " ] && [ "$(reports_since 2 "$t" | tr '\n' ' ')" = "$EXPECT " ] \
    || why="$why reports: 1 '$(reports_since 1 "$t")' 2 '$(reports_since 2 "$t")';"
  # What the user is told: both interfaces open, the units' file was read,
  # and the link names interface 1.
  out=$(runuser -u lab -- pelmor-helper --status --config "$CONF" 2>&1)
  status=$?
  printf '%s\n' "$out" | sed 's/^/  --status as the seat user: /'
  [ "$status" = 0 ] || why="$why --status exited $status;"
  [ "$(printf '%s\n' "$out" | grep -cxF -e "  $node1: 可以打开" -e "  $node2: 可以打开" \
    -e "配置文件: $CONF (已读取)" -e "设备节点: /dev/pelmor_config -> $node1")" = 4 ] \
    || why="$why --status said otherwise;"
  ! printf '%s\n' "$out" | grep '^注意' || why="$why --status named another file as the units' one;"
  verdict seat-user-configures

  why=""
  t=$(now)
  out=$(runuser -u outsider -- pelmor-helper --init-receiver 2>&1 >/dev/null)
  status=$?
  [ "$status" = 1 ] || why="status $status;"
  [ "$(printf '%s\n' "$out" | grep -c '^  打开失败: 无法打开设备: /dev/hidraw')" = 2 ] || why="$why stderr: $out;"
  [ "$(count_since 1 "$t")$(count_since 2 "$t")" = 00 ] || why="$why a report got through;"
  out=$(runuser -u outsider -- pelmor-helper --status --config "$CONF" 2>&1)
  status=$?
  printf '%s\n' "$out" | sed 's/^/  --status as a user without a session: /'
  [ "$status" = 1 ] || why="$why --status exited $status;"
  [ "$(printf '%s\n' "$out" | grep -cxF -e "  $node1: 无法打开: Permission denied" \
    -e "  $node2: 无法打开: Permission denied")" = 2 ] || why="$why --status said otherwise;"
  verdict user-without-session-refused
}

# Plugs in a row; with pull=after-link each is pulled out as soon as its node
# is linked, inside the configuration run's one-second wait. The last stays.
plug_series() { # scenario count pull
  local name=$1 count=$2 i start t why=""
  unplug
  wait_until 10 unlinked
  start=$(now)
  for i in $(seq "$count"); do
    t=$(now)
    LAST_PLUG=$t
    plug
    [ "$i" = "$count" ] && break
    wait_until 10 linked || why="$why plug $i never linked;"
    [ "$3" = during-wait ] && sleep 0.2
    unplug
    wait_until 10 unlinked || why="$why plug $i never unlinked;"
  done
  figure "$name-cycle-ms" "$(elapsed_ms "$start" "$t" | awk -v n="$((count - 1))" '{ printf "%d", $1 / n }')"
  check_configured "$name" "$t"
  if journal_since "$start" | grep -q 'Start request repeated too quickly'; then
    fail "$name-no-start-limit" "a start was refused"
  elif journal_since "$start" -u 'pelmor*' | grep -E 'Failed with result|Failed to start'; then
    fail "$name-no-start-limit" "a pulled run failed"
  else
    pass "$name-no-start-limit"
  fi
  [ -n "$why" ] && fail "$name" "$why"
}

# The heartbeat of the latest plug: hidraw refused its first one-byte report,
# the tool said so once and wrote no more (one kernel warning), through
# several intervals.
heartbeat_refused_once() {
  local since=$LAST_PLUG why="" failed stopped warned
  sleep 5
  failed=$(journal_since "$since" -t pelmor-helper | grep -c '^心跳失败: send_output: Invalid argument$')
  stopped=$(journal_since "$since" -t pelmor-helper | grep -c '^心跳报告被拒绝 (报告过短)，不再发送心跳。$')
  warned=$(journal_since "$since" -k | grep -c 'passed too short report')
  [ "$failed$stopped$warned" = 111 ] || why="refusals $failed, stop lines $stopped, kernel warnings $warned"
  heartbeat_active || why="$why; heartbeat not active"
  verdict heartbeat-refused-once
}

hardening() {
  local unit exposure why=""
  for unit in pelmor-heartbeat.service "pelmor-init-receiver@$(basename "$(node_of 1)").service" \
      pelmor-resume.service; do
    exposure=$(systemd-analyze security --no-pager "$unit" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    figure "exposure-$unit" "$exposure"
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.2) }' || why="$why $unit rated '$exposure';"
  done
  # Denials: a system call filtered, a device or file refused by the sandbox.
  if journalctl -b -q --no-pager -o cat -u 'pelmor*' \
      | grep -E 'status=31/SYS|Bad system call|Operation not permitted|Permission denied|Failed at step'; then
    why="$why a denial in the journal"
  fi
  verdict units-hardened
}

heartbeat_pid() { systemctl show -p MainPID --value pelmor-heartbeat.service; }
runs_new_binary() { # old-pid
  local pid
  pid=$(heartbeat_pid)
  [ "$pid" != 0 ] && [ "$pid" != "$1" ] && [ "$(readlink "/proc/$pid/exe")" = /usr/bin/pelmor-helper ]
}

# What an installation leaves beside the package's files: its maintainer
# scripts, the resume unit's links and deb-systemd-helper's record of them.
package_state() { find /etc /var/lib/systemd /var/lib/dpkg/info -name '*pelmor*' | sort; }

# The package users have, which CPack built, installed with the receiver
# plugged in and upgraded to this one: no conflict, the heartbeat goes on
# with the new binary and nothing else is sent, the resume unit stays
# enabled, and what the old scripts made is what a fresh install makes.
upgraded_from_cpack() { # state-of-a-fresh-install
  local pid t out mine why=""
  dpkg --purge pelmor-helper >/dev/null 2>&1
  wait_until 10 helper_gone
  # Users of that version were told to make the configuration file themselves.
  mine=$(printf '# made by hand\nspeed=2')
  mkdir -p "${CONF%/*}" && printf '%s\n' "$mine" >"$CONF"
  t=$(now)
  dpkg -i "$LAB/pelmor-helper-cpack.deb" >/dev/null 2>&1 || why="dpkg -i of the CPack package failed;"
  wait_until 20 configured_since "$t" || why="$why the CPack package did not configure the receiver;"
  sleep 1.5 # its heartbeat's own report would arrive now
  pid=$(heartbeat_pid)
  t=$(now)
  # With no terminal to answer a question about the file on.
  out=$(dpkg -i "$LAB/pelmor-helper.deb" 2>&1 </dev/null) || why="$why dpkg -i failed: $out;"
  wait_until 10 runs_new_binary "$pid" \
    || why="$why heartbeat $(heartbeat_pid) (was $pid) runs $(readlink "/proc/$(heartbeat_pid)/exe");"
  heartbeat_started_again_since "$t" "$pid" "$EXPECT_SPEED2"
  [ "$(cat "$CONF")" = "$mine" ] || why="$why the file made by hand became '$(cat "$CONF")';"
  # Its settings go out at the next plug-in too.
  unplug
  wait_until 10 unlinked
  t=$(now)
  plug
  wait_until 20 configured_since "$t" || why="$why no report within 20 s of a replug;"
  sleep 1.5 # anything more would arrive now
  [ "$(reports_since 2 "$t" | tr '\n' ' ')" = "$EXPECT_SPEED2 " ] \
    || why="$why after a replug interface 2 got '$(reports_since 2 "$t" | tr '\n' ' ')';"
  [ "$(systemctl is-enabled pelmor-resume.service)" = enabled ] \
    || why="$why resume unit $(systemctl is-enabled pelmor-resume.service);"
  [ "$(package_state)" = "$1" ] || why="$why beside the files: $(diff <(echo "$1") <(package_state) | grep '^[<>]');"
  verdict package-upgraded-from-cpack
}

package() {
  local pid t why="" files left fresh edit="# edited in the lab"
  fresh=$(package_state)
  # An administrator's edit of the configuration file, kept over upgrades
  # without a question.
  echo "$edit" >>"$CONF"
  for deb in pelmor-helper.deb pelmor-helper-upgrade.deb; do
    why=""
    pid=$(heartbeat_pid)
    dpkg -i "$LAB/$deb" >/dev/null 2>&1 </dev/null || why="dpkg -i $deb failed;"
    wait_until 10 runs_new_binary "$pid" \
      || why="$why heartbeat $(heartbeat_pid) (was $pid) runs $(readlink "/proc/$(heartbeat_pid)/exe");"
    [ "$(tail -n 1 "$CONF")" = "$edit" ] || why="$why the edit of $CONF was lost;"
    verdict "package-${deb%.deb}-restarts-heartbeat"
  done
  # Built where the project's history is at hand.
  [ ! -f "$LAB/pelmor-helper-cpack.deb" ] || upgraded_from_cpack "$fresh"

  why=""
  files=$(dpkg -L pelmor-helper)
  dpkg --purge pelmor-helper >/dev/null 2>&1 || why="dpkg --purge failed;"
  wait_until 10 heartbeat_inactive || why="$why heartbeat still runs;"
  wait_until 10 helper_gone || why="$why pelmor-helper still runs;"
  wait_until 10 unlinked || why="$why link left;"
  left=$(while read -r f; do
    if [ ! -d "$f" ] && { [ -e "$f" ] || [ -L "$f" ]; }; then echo "$f"; fi
  done <<<"$files")
  [ -z "$left$(package_state)" ] || why="$why left: $left $(package_state);"
  [ -z "$(failed_units)" ] || why="$why failed: $(failed_units);"
  unplug
  wait_until 10 has_no_node 1
  t=$(now)
  plug
  wait_until 10 has_node 2
  sleep 3
  [ -z "$(systemctl list-units --no-legend --plain 'pelmor*')" ] \
    || why="$why after a replug: $(systemctl list-units --no-legend --plain 'pelmor*');"
  unlinked || why="$why a replug linked the node;"
  [ "$(count_since 1 "$t")$(count_since 2 "$t")" = 00 ] || why="$why a replug sent a report;"
  verdict package-purged-leaves-nothing

  t=$(now)
  dpkg -i "$LAB/pelmor-helper.deb" >/dev/null 2>&1 || fail package-installed-while-plugged "dpkg -i failed"
  check_configured package-installed-while-plugged "$t"
}

# --- sleep and resume --------------------------------------------------------

# The journal's word that the system is back from sleep, whatever systemd
# version words it: the first one since T, as seconds since the epoch.
resumed_since() { # T
  journalctl -q --no-pager -o short-unix --since "@${1%.*}" MESSAGE_ID=8811e6df2a8e40f58a94cea26f8ebf14 \
    | awk '{ print $1; exit }'
}

# Suspends to RAM with the RTC alarm set to wake the machine 6 s later;
# returns once the system is back, with the moment it said so.
sleep_and_wake() { # T (taken before the sleep)
  echo 0 >/sys/class/rtc/rtc0/wakealarm
  echo +6 >/sys/class/rtc/rtc0/wakealarm
  systemctl suspend || return 1
  wait_until 60 resumed "$1" || return 1
  resumed_since "$1"
}

# Every kind of sleep runs its service after sleep.target, which wants the
# resume unit, ordered before it and stopped with it: the unit's stop, which
# configures the receiver, comes once the sleep service has returned. Only
# suspend can be tried here (no swap), so the others are checked on paper.
resume_ordering() {
  local kind why="" out
  systemctl show -p Before --value pelmor-resume.service | grep -qw sleep.target || why="not before sleep.target;"
  [ "$(systemctl show -p StopWhenUnneeded --value pelmor-resume.service)" = yes ] || why="$why not stopped when unneeded;"
  systemctl show -p Wants --value sleep.target | grep -qw pelmor-resume.service || why="$why sleep.target does not want it;"
  for kind in suspend hibernate hybrid-sleep suspend-then-hibernate; do
    systemctl list-dependencies --all --plain --no-legend "$kind.target" | grep -qw pelmor-resume.service \
      || why="$why $kind.target does not pull it in;"
    systemctl show -p After --value "systemd-$kind.service" | grep -qw sleep.target \
      || why="$why systemd-$kind.service is not after sleep.target;"
  done
  # One run for the four targets: each run loads every unit file anew.
  out=$(systemd-analyze verify {suspend,hibernate,hybrid-sleep,suspend-then-hibernate}.target 2>&1 | grep pelmor)
  [ -z "$out" ] || why="$why verify: $out;"
  verdict resume-ordered-after-every-sleep
}

# With both receivers plugged in: after resume, each one's management
# interfaces (1 and 2 of the first, 1 of the second) get the report once
# more, interface 0 nothing; the heartbeat goes on as it was.
resume_with_receiver() {
  local t back pid why="" i
  pid=$(heartbeat_pid)
  t=$(now)
  back=$(sleep_and_wake "$t") || { fail resume-reconfigures "the machine did not sleep and wake"; return; }
  wait_until 20 reports_at_since "$t" 1 2 3 || why="no report within 20 s of resume;"
  sleep 1.5 # anything more would arrive now
  for i in 1 2 3; do
    [ "$(reports_since "$i" "$t" | tr '\n' ' ')" = "$EXPECT " ] \
      || why="$why interface $i got '$(reports_since "$i" "$t" | tr '\n' ' ')';"
  done
  [ "$(count_since 0 "$t")" = 0 ] || why="$why interface 0 got a report;"
  journal_since "$t" -k | grep -q 'PM: suspend entry (deep)' || why="$why no S3 sleep in the kernel log;"
  linked || why="$why link gone;"
  heartbeat_goes_on "$pid"
  if [ -z "$why" ]; then
    pass resume-reconfigures
    for i in 1 2; do
      figure "resume-to-report-interface-$i-ms" "$(elapsed_ms "$back" "$(first_since "$i" "$t")")"
    done
  else
    fail resume-reconfigures "$why"
  fi
}

# A second receiver plugged in beside the first: its own run configures it
# (and, as every run does, the first one again), the link moves to it, and
# the one heartbeat goes on under the same PID.
second_receiver() {
  local t pid b1 runs why=""
  pid=$(heartbeat_pid)
  t=$(now)
  plug_second
  wait_until 20 reports_at_since "$t" 3 || why="no report at the second receiver within 20 s;"
  sleep 1.5 # anything more would arrive now
  b1=$(node_of 1 1)
  [ "$(reports_since 3 "$t" | tr '\n' ' ')" = "$EXPECT " ] \
    || why="$why its interface 1 got '$(reports_since 3 "$t" | tr '\n' ' ')';"
  runs=$(runs_since "$t" "$b1")
  [ "$runs" = 1 ] || why="$why $runs configuration runs of ${b1#/dev/} finished, not one;"
  [ -n "$b1" ] && [ "$(readlink -f /dev/pelmor_config)" = "$b1" ] \
    || why="$why link '$(readlink -f /dev/pelmor_config)', its interface 1 is '$b1';"
  heartbeat_goes_on "$pid"
  verdict second-receiver-configured
}

# The linked receiver pulled out: the link goes back to the other one, whose
# heartbeat goes on under the same PID, and nothing is configured again.
linked_receiver_pulled() {
  local t pid node1 why=""
  pid=$(heartbeat_pid)
  node1=$(node_of 1)
  t=$(now)
  unplug_second
  wait_until 10 links_to "$node1" \
    || why="link '$(readlink -f /dev/pelmor_config)', the first receiver's interface 1 is '$node1';"
  sleep 3 # a run would have sent by now
  if [ "$(heartbeat_pid)" = "$pid" ]; then
    nothing_sent_since "$t"
    heartbeat_goes_on "$pid"
  else
    # It looked while the link still named the pulled receiver's node.
    heartbeat_started_again_since "$t" "$pid"
  fi
  figure linked-receiver-pulled-heartbeat-started-again "$([ "$(heartbeat_pid)" = "$pid" ] && echo 0 || echo 1)"
  verdict linked-receiver-pulled-heartbeat-stays
}

# A heartbeat started again since T in place of PID: it runs, and its own
# configuration (REPORT, the built-in one by default) is all that was sent
# (to interface 1, once), by no run of the configuration unit; else says so
# in $why.
heartbeat_started_again_since() { # T pid [report]
  local since=$1 old=$2 report=${3:-$EXPECT} node1
  node1=$(node_of 1)
  wait_until 10 heartbeat_replaced "$old" \
    || why="$why heartbeat $(systemctl is-active pelmor-heartbeat.service) under $(heartbeat_pid), was $old;"
  wait_until 10 reports_at_since "$since" 1 && sleep 1.5
  [ "$(reports_since 1 "$since" | tr '\n' ' ')" = "$report " ] \
    || why="$why interface 1 got '$(reports_since 1 "$since" | tr '\n' ' ')';"
  [ "$(count_since 0 "$since")$(count_since 2 "$since")" = 00 ] || why="$why interfaces 0 and 2 got reports;"
  [ "$(runs_since "$since" "$node1")" = 0 ] || why="$why the configuration ran;"
  [ -z "$(failed_units)" ] || why="$why failed: $(failed_units);"
}

# The moment between pulling out the linked receiver and udev moving the
# link to the one left, made to last: the link names a node that is gone.
# The heartbeat that finds it so ends, waits, and starts again once the
# link names a node again. Links are replaced by a rename, as udev does, so
# that they are never missing.
link_dangling() {
  local t pid node1 why=""
  pid=$(heartbeat_pid)
  node1=$(node_of 1)
  t=$(now)
  ln -s hidraw-gone /dev/.pelmor_lab && mv -T /dev/.pelmor_lab /dev/pelmor_config
  wait_until 10 process_gone "$pid" || why="heartbeat $pid did not end;"
  sleep 2
  ! heartbeat_active || why="$why heartbeat started with the link dangling;"
  ln -s "${node1#/dev/}" /dev/.pelmor_lab && mv -T /dev/.pelmor_lab /dev/pelmor_config
  heartbeat_started_again_since "$t" "$pid"
  verdict link-dangling-heartbeat-restarts
}

# Without a receiver: a resume does nothing that shows.
resume_without_receiver() {
  local t why=""
  unplug
  # The heartbeat may see the node gone before systemd stops it, and say so:
  # that belongs to the unplug, not to the resume.
  wait_until 10 unlinked && wait_until 10 heartbeat_inactive && wait_until 10 helper_gone
  t=$(now)
  sleep_and_wake "$t" >/dev/null || { fail resume-without-receiver "the machine did not sleep and wake"; return; }
  sleep 3
  [ -z "$(failed_units)" ] || why="failed: $(failed_units);"
  [ -z "$(journal_since "$t" -t pelmor-helper)" ] || why="$why the tool said: $(journal_since "$t" -t pelmor-helper);"
  [ -z "$(journal_since "$t" -p warning -u 'pelmor*')" ] || why="$why $(journal_since "$t" -p warning -u 'pelmor*');"
  verdict resume-without-receiver
}

scenarios() {
  stty -F /dev/ttyS1 raw -echo 2>/dev/null
  exec >/dev/ttyS1 2>&1
  echo "== whole-system lab ($MODE): kernel $(uname -r), $(systemctl --version | head -n 1)"
  systemctl is-system-running --wait >/dev/null
  LAST_VERDICT_MS=$(uptime_ms)
  figure boot-ms "$LAST_VERDICT_MS"
  systemd-analyze time | head -n 1
  if [ "$MODE" = coldplug ]; then
    # Reports from the moment the machine started; a replayed event would
    # start a second run within seconds.
    sleep 3
    check_configured coldplug-at-boot "$(awk -v now="$(now)" '{ printf "%.3f", now - $1 }' /proc/uptime)"
  else
    timed first_plug first-plug-hid-not-loaded
    timed unplug_clean unplug-stops-everything
    timed first_plug first-plug-hid-loaded
    timed replayed_events replayed-events
    timed seat_user seat-user
    timed plug_series fast-plug-cycles 8 at-once
    timed plug_series pulled-during-wait 4 during-wait
    heartbeat_refused_once
    hardening
    timed package package
    resume_ordering
    timed second_receiver second-receiver
    timed resume_with_receiver resume-reconfigures
    timed linked_receiver_pulled linked-receiver-pulled
    timed link_dangling link-dangling
    timed resume_without_receiver resume-without-receiver
  fi
  echo "LAB DONE"
  stty -F /dev/ttyS2 raw -echo 2>/dev/null
  journalctl -b --no-pager -o short-monotonic >/dev/ttyS2 2>&1
  sleep 1
  systemctl poweroff --force --force
}

"$@"
