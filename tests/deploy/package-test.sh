#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Builds the Debian package, installs it on this machine for real, checks
# what a user would, removes it and checks that nothing it brought is left.
# Needs root or password-less sudo; skipped otherwise, and skipped when the
# package is already installed, so that a user's own install is never touched.
# Usage: tests/deploy/package-test.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
build="$source/build-package"

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "SKIP: installing the package needs root or password-less sudo"
    exit 0
  fi
  sudo=(sudo -n)
fi
if dpkg-query -W -f='${Status}' pelmor-helper 2>/dev/null | grep -q 'install ok installed'; then
  echo "SKIP: pelmor-helper is already installed here; not touching it"
  exit 0
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DPELMOR_BUILD_TESTS=OFF -DPELMOR_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && rm -f ./*.deb ./*.ddeb && cpack -G DEB >/dev/null 2>&1)
deb=$(ls "$build"/pelmor-helper_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: ${deb##*/}; depends: $depends"
# Every library the binary names comes from a package that Depends names, by
# the name this release gives it (libqt5core5a on Debian 12, libqt5core5t64
# on 13, for instance).
unpacked="$build/unpacked"
rm -rf "$unpacked" && dpkg-deb -x "$deb" "$unpacked"
binary=$unpacked/usr/bin/pelmor-helper
for needed in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  library=$(ldd "$binary" | awk -v name="$needed" '$1 == name && $2 == "=>" { print $3 }')
  # dpkg may know the file under /lib or /usr/lib, whichever ldd says.
  owner=$(dpkg -S "*$(readlink -f "$library" | sed 's#^/usr/#/#')" 2>/dev/null | sed -n '1s/:.*//p')
  [[ -n $owner && ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] \
    || fail "Depends lacks ${owner:-the package of $needed}"
done

# What a distribution checks before it takes a package: lintian (nothing at
# warning level or above, and no override), the binary's hardening, the
# AppStream metadata, and debug symbols kept apart from the stripped binary.
lintian_status=0
lintian_out=$(lintian --fail-on error,warning --show-overrides "$deb" 2>&1) || lintian_status=$?
lintian_out=$(grep -v '^running with root' <<<"$lintian_out" || true)
[ "$lintian_status" -eq 0 ] && [ -z "$lintian_out" ] || fail "lintian ($lintian_status): $lintian_out"
# Every feature hardening-check knows must be there, but for two that no
# binary built here can have: branch protection, which only arm64 has, and
# control-flow protection where the C library's start-up files carry no CET
# marker (Debian 12's), which the linker then drops from every program.
excused=()
if [ "$(dpkg --print-architecture)" != arm64 ] && grep -q -- --nobranchprotection <<<"$(hardening-check --help 2>&1)"; then
  excused+=(--nobranchprotection)
fi
if ! readelf -n "$(gcc -print-file-name=Scrt1.o)" | grep -q 'x86 feature:.*IBT'; then
  excused+=(--nocfprotection)
fi
echo "hardening-check ${excused[*]}"
hardening-check "${excused[@]}" "$binary" >/dev/null \
  || fail "$(hardening-check "$binary")"
appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml >/dev/null \
  || fail "appstreamcli: $(appstreamcli validate --no-net "$unpacked"/usr/share/metainfo/*.metainfo.xml)"
[ -f "$(ls "$build"/pelmor-helper-dbgsym_*.ddeb)" ] || fail "no debug symbols package"

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get install -y -q --no-install-recommends "$deb" >/dev/null
installed=$(dpkg -L pelmor-helper)
cleanup() { "${sudo[@]}" dpkg --purge pelmor-helper >/dev/null 2>&1 || true; }
trap cleanup EXIT

[ "$(command -v pelmor-helper)" = /usr/bin/pelmor-helper ] || fail "pelmor-helper is not on the PATH"
status=0
out=$(cd / && pelmor-helper --help 2>"$build/help.err") || status=$?
[ "$status" -eq 0 ] || fail "--help exited with $status"
[ -z "$out" ] || fail "--help wrote to standard output"
head -n 1 "$build/help.err" | grep -qx 'Usage:' || fail "no usage on standard error"
[ "$(pelmor-helper --version)" = "pelmor-helper $(dpkg-deb -f "$deb" Version)" ] || fail "--version"
man -w pelmor-helper | grep -q '^/usr/share/man/man1/pelmor-helper\.1' || fail "man page not found"
man -w 5 pelmor.conf | grep -q '^/usr/share/man/man5/pelmor\.conf\.5' || fail "pelmor.conf(5) not found"
for page in "1 pelmor-helper" "5 pelmor.conf"; do
  set -- $page
  man -L zh_CN -w "$1" "$2" | grep -q "^/usr/share/man/zh_CN/man$1/$2\.$1" || fail "no Chinese $2($1)"
done
LC_ALL=C.UTF-8 MANWIDTH=80 man -L zh_CN pelmor-helper 2>/dev/null | grep -q '退出状态' || fail "man -L zh_CN shows no Chinese page"
grep -qx '/usr/share/doc/pelmor-helper/pelmor.conf.example' <<<"$installed" || fail "no example configuration"
grep -q 'rules.d/70-pelmor.rules$' <<<"$installed" || fail "no udev rule"
grep -q 'system/pelmor-heartbeat.service$' <<<"$installed" || fail "no heartbeat unit"
[ -L /etc/systemd/system/sleep.target.wants/pelmor-resume.service ] || fail "the resume unit is not enabled"

"${sudo[@]}" dpkg --purge pelmor-helper >/dev/null
trap - EXIT
left=()
while read -r path; do
  # Directories are shared with other packages (and /lib may be a link to one).
  [ -d "$path" ] && continue
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <<<"$installed"
# Nor anything the maintainer scripts made: the resume unit's links, and
# deb-systemd-helper's record of them.
left+=($(find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
  /var/lib/systemd/deb-systemd-helper-masked -name 'pelmor*' 2>/dev/null || true))
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
echo "PASS: package installs, works from the PATH and removes cleanly"
