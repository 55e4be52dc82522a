#!/usr/bin/env bash
# Checks of what is installed around the binary. Exit 77 means skipped.
# Usage: deploy-checks.sh units|manpages|completion|install SOURCE_DIR BUILD_DIR
set -euo pipefail
check=$1 source=$2 build=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

case "$check" in
units)
  command -v systemd-analyze >/dev/null || { echo "systemd-analyze not found"; exit 77; }
  # Verify the units as built, pointed at the built binary, which must exist.
  for unit in "$build"/systemd/*.service; do
    sed "s#[^ =]*/pelmor-helper #$build/pelmor-helper #" "$unit" >"$scratch/${unit##*/}"
    grep -q "$build/pelmor-helper" "$scratch/${unit##*/}" || fail "no ExecStart to rewrite in $unit"
  done
  out=$(systemd-analyze verify --man=no "$scratch"/*.service 2>&1) || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify warns: $out"
  grep -q '^BindsTo=dev-pelmor_config.device$' "$scratch/pelmor-heartbeat.service" || fail "heartbeat not bound to the node"
  grep -q '^After=dev-pelmor_config.device$' "$scratch/pelmor-heartbeat.service" || fail "heartbeat not ordered after the node"
  for unit in "$scratch"/*.service; do
    grep -q -- '--config /etc/pelmor/pelmor.conf' "$unit" || fail "$unit does not pass the configuration"
  done
  ;;
manpages)
  command -v groff >/dev/null || { echo "groff not found"; exit 77; }
  for page in "$source"/man/*.[0-9]; do
    out=$(LC_ALL=C.UTF-8 groff -k -man -ww -z -Tutf8 "$page" 2>&1)
    [ -z "$out" ] || fail "$page: $out"
  done
  ;;
completion)
  # shellcheck disable=SC1091
  source "$source/data/bash-completion/pelmor-helper"
  complete_words() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
    _pelmor_helper 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
  }
  [ "$(complete_words pelmor-helper --h)" = "--heartbeat --help " ] || fail "options: $(complete_words pelmor-helper --h)"
  touch "$scratch/my.conf"
  [ "$(complete_words pelmor-helper --config "$scratch/my")" = "$scratch/my.conf " ] || fail "file after --config"
  ;;
install)
  DESTDIR="$scratch/root" cmake --install "$build" >/dev/null
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
  rules=$(sed -n 's/^PELMOR_UDEV_RULES_DIR:PATH=//p' "$build/CMakeCache.txt")
  units=$(sed -n 's/^PELMOR_SYSTEMD_UNIT_DIR:PATH=//p' "$build/CMakeCache.txt")
  for file in "$prefix/bin/pelmor-helper" "$prefix/share/man/man1/pelmor-helper.1" \
      "$prefix/share/man/man5/pelmor.conf.5" "$prefix/share/doc/pelmor-helper/pelmor.conf.example" \
      "$rules/70-pelmor.rules" "$units/pelmor-heartbeat.service" "$units/pelmor-init-receiver.service"; do
    [ -f "$scratch/root$file" ] || fail "not installed: $file"
  done
  [ -n "$(find "$scratch/root" -path '*bash-completion/completions/pelmor-helper')" ] || fail "no bash completion"
  grep -q "ExecStart=.* $prefix/bin/pelmor-helper " "$scratch/root$units/pelmor-heartbeat.service" \
    || fail "the heartbeat unit does not name the installed binary"
  # The example configuration works as it stands: loaded, and every value a default.
  example="$scratch/root$prefix/share/doc/pelmor-helper/pelmor.conf.example"
  out=$("$build/pelmor-helper" --heartbeat --config "$example" 2>&1 >/dev/null </dev/null; true)
  expected="错误: 未找到设备节点 /dev/pelmor_config"
  [ -e /dev/pelmor_config ] || [ "$out" = "$expected" ] || fail "example configuration: $out"
  ;;
*)
  echo "usage: $0 units|manpages|completion|install SOURCE_DIR BUILD_DIR" >&2
  exit 2
  ;;
esac
echo "PASS: $check"
