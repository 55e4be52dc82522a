#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
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
  # Verify the units as built, pointed at the built binary, which must exist;
  # a template as one of its instances.
  build=$(cd "$build" && pwd)
  for unit in "$build"/systemd/*.service; do
    name=${unit##*/}
    name=${name/@.service/@hidraw1.service}
    sed "s#[^ =]*/pelmor-helper #$build/pelmor-helper #" "$unit" >"$scratch/$name"
    grep -q "$build/pelmor-helper .*--config /etc/pelmor/pelmor.conf" "$scratch/$name" \
      || fail "no ExecStart with the configuration to rewrite in $unit"
  done
  out=$(systemd-analyze verify --man=no "$scratch"/*.service 2>&1) || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify warns: $out"
  # Exposure as systemd rates it, 1.2 at most (10 is an unprotected service).
  for unit in "$scratch"/*.service; do
    exposure=$(systemd-analyze security --offline=true --no-pager "$unit" 2>&1 | sed -n 's/.*Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    echo "${unit##*/}: exposure $exposure"
    if [ -z "$exposure" ] || ! awk -v e="$exposure" 'BEGIN { exit !(e <= 1.2) }'; then
      fail "${unit##*/}: exposure '$exposure'"
    fi
  done
  ;;
manpages)
  command -v groff >/dev/null || { echo "groff not found"; exit 77; }
  for page in "$build"/man/*.[0-9] "$build"/man/zh_CN/*.[0-9]; do
    out=$(LC_ALL=C.UTF-8 groff -k -man -ww -z -Tutf8 "$page" 2>&1)
    [ -z "$out" ] || fail "$page: $out"
    grep -q '@[A-Z_]*@' "$page" && fail "$page: a placeholder was not filled in"
  done
  # A translation names the same options, keys and exit statuses as the
  # English page: the words of every term of a bold list (quoted text, which
  # is translated, left out), and every option wherever it stands.
  terms() {
    awk '/^\.T[PQ]$/ { term = 1; next }
         term && /^\.BR? / { line = $0; gsub(/"[^"]*"/, "", line); sub(/^\.BR? /, "", line); print line }
         { term = 0 }' "$1" | tr ' ' '\n'
    grep -o -E '\\-(\\-[a-z]+)+|\\-h\b' "$1"
  }
  for page in "$source"/man/*.[0-9]; do
    translated="$source/man/zh_CN/${page##*/}"
    [ -f "$translated" ] || fail "no Chinese page for ${page##*/}"
    difference=$(diff <(terms "$page" | sort -u) <(terms "$translated" | sort -u)) \
      || fail "${page##*/}: the English and Chinese pages differ in what they name: $difference"
  done
  ;;
completion)
  # shellcheck disable=SC1091 # Its path is an argument; shellcheck checks the file on its own.
  source "$source/data/bash-completion/pelmor-helper"
  complete_words() {
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=()
    _pelmor_helper 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
  }
  [ "$(complete_words pelmor-helper --h)" = "--heartbeat --help " ] || fail "options: $(complete_words pelmor-helper --h)"
  [ "$(complete_words pelmor-helper --v)" = "--version " ] || fail "options: $(complete_words pelmor-helper --v)"
  [ "$(complete_words pelmor-helper --s)" = "--status " ] || fail "options: $(complete_words pelmor-helper --s)"
  touch "$scratch/my.conf"
  [ "$(complete_words pelmor-helper --config "$scratch/my")" = "$scratch/my.conf " ] || fail "file after --config"
  ;;
install)
  DESTDIR="$scratch/root" cmake --install "$build" >/dev/null
  prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
  rules=$(sed -n 's/^PELMOR_UDEV_RULES_DIR:PATH=//p' "$build/CMakeCache.txt")
  units=$(sed -n 's/^PELMOR_SYSTEMD_UNIT_DIR:PATH=//p' "$build/CMakeCache.txt")
  for file in bin/pelmor-helper share/man/man1/pelmor-helper.1.gz share/man/man5/pelmor.conf.5.gz \
      share/man/zh_CN/man1/pelmor-helper.1.gz share/man/zh_CN/man5/pelmor.conf.5.gz \
      /etc/pelmor/pelmor.conf share/doc/pelmor-helper/NEWS.md \
      share/metainfo/invalid.pelmor.helper.metainfo.xml \
      "$rules/70-pelmor.rules" "$units/pelmor-heartbeat.service" "$units/pelmor-init-receiver@.service" "$units/pelmor-resume.service"; do
    [[ $file == /* ]] || file=$prefix/$file
    [ -f "$scratch/root$file" ] || fail "not installed: $file"
  done
  # The newest release in NEWS.md and in the Debian changelog is this
  # version, and the binary says so too.
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
  [ "$("$build/pelmor-helper" --version)" = "pelmor-helper $version" ] || fail "--version is not $version"
  top=$(grep -m 1 '^## ' "$scratch/root$prefix/share/doc/pelmor-helper/NEWS.md")
  [[ $top == "## $version "* ]] || fail "NEWS.md starts with '$top', not $version"
  top=$(head -n 1 "$source/debian/changelog")
  [[ $top == "pelmor-helper ($version) "* ]] || fail "debian/changelog starts with '$top', not $version"
  [ -n "$(find "$scratch/root" -path '*bash-completion/completions/pelmor-helper')" ] || fail "no bash completion"
  grep -q "ExecStart=.* $prefix/bin/pelmor-helper " "$scratch/root$units/pelmor-heartbeat.service" \
    || fail "the heartbeat unit does not name the installed binary"
  # The shipped configuration works as it stands: loaded, and every value a
  # default. An edited one survives the next install.
  conf="$scratch/root/etc/pelmor/pelmor.conf"
  out=$("$build/pelmor-helper" --heartbeat --config "$conf" 2>&1 >/dev/null </dev/null; true)
  expected="错误: 未找到设备节点 /dev/pelmor_config"
  [ -e /dev/pelmor_config ] || [ "$out" = "$expected" ] || fail "shipped configuration: $out"
  echo speed=2 >>"$conf"
  DESTDIR="$scratch/root" cmake --install "$build" >/dev/null
  [ "$(tail -n 1 "$conf")" = speed=2 ] || fail "a second install replaced the edited configuration"
  ;;
*)
  echo "usage: $0 units|manpages|completion|install SOURCE_DIR BUILD_DIR" >&2
  exit 2
  ;;
esac
echo "PASS: $check"
