# shellcheck shell=dash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Checks for the lab's scenarios, in both guests (busybox's sh and bash).
# A check that fails says what it saw and ends the scenario: the scenario's
# exit status is its verdict. The guest's runner hands the file for the
# reason in LAB_WHY. A guest's own library defines journal_since MARK
# [ARGUMENTS...], the log lines since a mark, for the journal checks.

# Ends the scenario as failed.
fail_now() { # reason...
  echo "  FAIL: $*"
  if [ -n "${LAB_WHY:-}" ]; then printf '%s\n' "$*" >>"$LAB_WHY"; fi
  exit 1
}

assert_eq() { # actual expected what
  [ "$1" = "$2" ] || fail_now "$3: got '$1', expected '$2'"
}

assert_true() { # what command...
  local what=$1
  shift
  "$@" || fail_now "$what"
}

assert_false() { # what command...
  local what=$1
  shift
  ! "$@" || fail_now "$what"
}

# Polls a command every 0.1 s for at most SECONDS, to the hundredth (from
# /proc/uptime: busybox's date has no fractions). True once it holds.
wait_until() { # seconds command...
  local deadline
  deadline=$(awk -v s="$1" '{ printf "%.2f", $1 + s }' /proc/uptime)
  shift
  until "$@"; do
    awk -v d="$deadline" '{ exit !($1 < d) }' /proc/uptime || return 1
    sleep 0.1
  done
}

assert_within() { # seconds what command...
  local seconds=$1 what=$2
  shift 2
  wait_until "$seconds" "$@" || fail_now "$what (within $seconds s)"
}

# The log has a line matching an extended regular expression since MARK.
assert_journal_has() { # mark regex what [journal arguments...]
  local mark=$1 regex=$2 what=$3
  shift 3
  journal_since "$mark" "$@" | grep -qE -- "$regex" || fail_now "$what: no line '$regex' in the log"
}

assert_journal_lacks() { # mark regex what [journal arguments...]
  local mark=$1 regex=$2 what=$3 found
  shift 3
  found=$(journal_since "$mark" "$@" | grep -E -- "$regex" | head -n 3)
  [ -z "$found" ] || fail_now "$what: $found"
}

# Lines of the log since MARK matching an extended regular expression.
journal_count() { # mark regex [journal arguments...]
  local mark=$1 regex=$2
  shift 2
  journal_since "$mark" "$@" | grep -cE -- "$regex" || true
}
