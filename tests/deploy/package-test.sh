#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Builds the Debian source and binary packages, checks them as Debian would,
# installs the package on this machine for real, checks what a user would,
# runs its own tests, removes it and checks that nothing it brought is left.
# Needs root or password-less sudo; skipped otherwise, and skipped when the
# package is already installed, so that a user's own install is never touched.
# A skip is a line "SKIP: reason" and the exit status 77.
# Usage: tests/deploy/package-test.sh SOURCE_DIR
set -euo pipefail
source=$(cd "$1" && pwd)
build="$source/build-package"

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "SKIP: installing the package needs root or password-less sudo"
    exit 77
  fi
  sudo=(sudo -n)
fi
if dpkg-query -W -f='${Status}' pelmor-helper 2>/dev/null | grep -q 'install ok installed'; then
  echo "SKIP: pelmor-helper is already installed here; not touching it"
  exit 77
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

# The source and binary packages, as a distribution builds them: the suite
# runs inside the build (dh_auto_test), so it is not run again here.
rm -rf "$build" && mkdir -p "$build"
DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
export DEB_BUILD_OPTIONS
TZ=UTC LC_ALL=C.UTF-8 bash -c 'umask 022 && exec "$@"' _ "$source/tools/debian-package.sh" "$build"
changes=$(ls "$build"/pelmor-helper_*.changes)
dsc=$(ls "$build"/pelmor-helper_*.dsc)
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

# What a distribution checks before it takes a package: lintian on the source
# and binary packages together (nothing at warning level or above; every tag,
# info and pedantic ones too, is shown), the build log's compiler flags, the
# binary's hardening, the AppStream metadata, and debug symbols kept apart.
# Debian 12's lintian knows Standards-Version 4.6.2 at most, and calls any
# newer one a warning that later releases' lintian does not raise.
suppressed=()
if dpkg --compare-versions "$(dpkg-query -W -f='${Version}' lintian)" lt 2.117; then
  suppressed=(--suppress-tags newer-standards-version)
fi
lintian_status=0
lintian_out=$(lintian --fail-on error,warning -I -E --pedantic --show-overrides "${suppressed[@]}" "$changes" 2>&1) \
  || lintian_status=$?
lintian_out=$(grep -v '^running with root' <<<"$lintian_out" || true)
echo "lintian $(dpkg-query -W -f='${Version}' lintian) ${suppressed[*]}:"
mapfile -t tags <<<"${lintian_out:-(no tag)}"
printf '  %s\n' "${tags[@]}"
if [ "$lintian_status" -ne 0 ] || grep -q '^[EW]: ' <<<"$lintian_out"; then fail "lintian ($lintian_status)"; fi
blhc --all "$build/build.log" || fail "blhc: the build log shows missing flags"
# Nor any warning of the compiler (the project builds with -Wall -Wextra),
# the linker or CMake (developer and deprecation warnings), with this
# release's compiler, Qt and CMake, at the optimisation Debian builds with,
# which finds warnings that an unoptimised build does not.
warnings=$(grep -E '^[^ ]+:[0-9]+(:[0-9]+)?: warning: |^/usr/bin/ld[^ ]*: warning: |^CMake (Warning \(dev\)|Deprecation Warning)' \
  "$build/build.log" || true)
[ -z "$warnings" ] || { head -n 20 <<<"$warnings"; fail "the build log has warnings"; }
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
[ -f "$(ls "$build"/pelmor-helper-dbgsym_*deb)" ] || fail "no debug symbols package"

# Reproducible: built again without the suite, from another path, with
# another time zone, locale and umask, the binary packages are the same bytes.
# Checked on this machine's release; the other releases' roots leave it out.
if [ -n "${PELMOR_OTHER_RELEASE:-}" ]; then
  echo "reproducible: checked on the machine's own release only"
else
  TZ=Etc/GMT-14 LC_ALL=C bash -c 'umask 002 && exec "$@"' _ env DEB_BUILD_OPTIONS=nocheck \
    "$source/tools/debian-package.sh" "$build/rebuilt/here" -b
  for package in "$deb" "$(ls "$build"/pelmor-helper-dbgsym_*deb)"; do
    again=$build/rebuilt/here/${package##*/}
    if ! cmp -s "$package" "$again"; then
      if command -v diffoscope >/dev/null; then diffoscope "$package" "$again" | head -n 60; else debdiff "$package" "$again"; fi
      fail "${package##*/} is not reproducible"
    fi
  done
  echo "reproducible: the second build made the same bytes"
fi

export DEBIAN_FRONTEND=noninteractive
# What it depends on may have to come from the archive, whose lists a fresh
# root may not have yet.
"${sudo[@]}" apt-get install -y -q --no-install-recommends "$deb" >/dev/null 2>&1 \
  || { "${sudo[@]}" apt-get update -q >/dev/null && "${sudo[@]}" apt-get install -y -q --no-install-recommends "$deb" >/dev/null; }
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
  read -r section name <<<"$page"
  man -L zh_CN -w "$section" "$name" | grep -q "^/usr/share/man/zh_CN/man$section/$name\.$section" \
    || fail "no Chinese $name($section)"
done
# Read whole before it is searched: grep -q leaving at its first match could
# end man with SIGPIPE, which pipefail would count as a failure.
page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -L zh_CN pelmor-helper 2>/dev/null || true)
grep -q '退出状态' <<<"$page" || fail "man -L zh_CN shows no Chinese page"
dpkg-query -W -f='${Conffiles}\n' pelmor-helper | grep -q '^ /etc/pelmor/pelmor.conf ' || fail "no conffile /etc/pelmor/pelmor.conf"

# The package's own tests (debian/tests), as Debian's CI runs them, on this
# machine as it is (autopkgtest's null back end: no virtual machine needed).
autopkgtest_status=0
"${sudo[@]}" autopkgtest --quiet --output-dir "$build/autopkgtest" "$dsc" "$deb" -- null >"$build/autopkgtest.log" 2>&1 \
  || autopkgtest_status=$?
sed -n '/^[a-z-]* *\(PASS\|FAIL\|SKIP\|flaky\)/p' "$build/autopkgtest/summary" 2>/dev/null | sed 's/^/autopkgtest: /'
[ "$autopkgtest_status" -eq 0 ] || { tail -n 40 "$build/autopkgtest.log"; fail "autopkgtest ($autopkgtest_status)"; }

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
mapfile -t made < <(find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
  /var/lib/systemd/deb-systemd-helper-masked -name 'pelmor*' 2>/dev/null || true)
left+=("${made[@]}")
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
echo "PASS: package installs, works from the PATH and removes cleanly"
