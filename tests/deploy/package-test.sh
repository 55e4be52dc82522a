#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Builds the Debian source and binary packages and checks them as Debian
# would. Then the package is installed for real, checked as a user would
# see it, put through its own tests (autopkgtest), removed, and checked for
# anything it left: never on this machine, but in throwaway testbeds of its
# release (tools/releases.sh --testbed), beside piuparts; inside a release's
# root, which is thrown away itself, right there.
# Needs root or password-less sudo for the testbeds; skipped otherwise.
# A skip is a line "SKIP: reason" and the exit status 77.
# Usage: tests/deploy/package-test.sh SOURCE_DIR
#        tests/deploy/package-test.sh --installed PACKAGE_DIR   (in a testbed)
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }

# The package in DIR, installed here, checked, tested and purged. Only ever
# in a throwaway root: its maintainer scripts would tell this machine's udev
# to replay every hidraw device, a receiver plugged in here included.
installed_checks() { # package-dir
  local dir=$1 deb dsc installed status out page autopkgtest_status path left made
  [ -n "${PELMOR_THROWAWAY_ROOT:-}" ] || fail "--installed runs only in a throwaway root"
  deb=$(compgen -G "$dir/pelmor-helper_*.deb")
  dsc=$(compgen -G "$dir/pelmor-helper_*.dsc")
  export DEBIAN_FRONTEND=noninteractive
  # What it depends on may have to come from the archive, whose lists a fresh
  # root may not have yet.
  apt-get install -y -q --no-install-recommends "$deb" >/dev/null 2>&1 \
    || { apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends "$deb" >/dev/null; }
  installed=$(dpkg -L pelmor-helper)

  [ "$(command -v pelmor-helper)" = /usr/bin/pelmor-helper ] || fail "pelmor-helper is not on the PATH"
  status=0
  out=$(cd / && pelmor-helper --help 2>"$dir/help.err") || status=$?
  [ "$status" -eq 0 ] || fail "--help exited with $status"
  [ -z "$out" ] || fail "--help wrote to standard output"
  head -n 1 "$dir/help.err" | grep -qx 'Usage:' || fail "no usage on standard error"
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
  dpkg-query -W -f='${Conffiles}\n' pelmor-helper | grep -q '^ /etc/pelmor/pelmor.conf ' \
    || fail "no conffile /etc/pelmor/pelmor.conf"

  # The package's own tests (debian/tests), as Debian's CI runs them, in
  # this root as it is (autopkgtest's null back end).
  autopkgtest_status=0
  autopkgtest --quiet --output-dir "$dir/autopkgtest" "$dsc" "$deb" -- null >"$dir/autopkgtest.log" 2>&1 \
    || autopkgtest_status=$?
  sed -n '/^[a-z-]* *\(PASS\|FAIL\|SKIP\|flaky\)/p' "$dir/autopkgtest/summary" 2>/dev/null | sed 's/^/autopkgtest: /'
  [ "$autopkgtest_status" -eq 0 ] || { tail -n 40 "$dir/autopkgtest.log"; fail "autopkgtest ($autopkgtest_status)"; }

  # Where piuparts runs beside this, it purges the package in a clean chroot
  # and fails on anything left (see tools/releases.sh --testbed).
  if [ -n "${PELMOR_PURGE_BY_PIUPARTS:-}" ]; then
    echo "PASS: package installs and works from the PATH; piuparts checks its purge"
    return
  fi
  dpkg --purge pelmor-helper >/dev/null
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
}

if [ "${1:-}" = --installed ]; then
  installed_checks "$2"
  exit 0
fi

source=$(cd "$1" && pwd)
build="$source/build-package"
sudo=()
if [ -z "${PELMOR_THROWAWAY_ROOT:-}" ] && [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "SKIP: the throwaway testbeds of the package need root or password-less sudo"
    exit 77
  fi
  sudo=(sudo -n)
fi

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

# Installed, tested and purged: right here in a release's root, which is
# thrown away after; on a machine, in throwaway testbeds of its release.
if [ -n "${PELMOR_THROWAWAY_ROOT:-}" ]; then
  installed_checks "$build"
else
  # shellcheck disable=SC1091 # the machine's own file, not the tree's
  here=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  "${sudo[@]}" env CI="${CI:-}" "$source/tools/releases.sh" --testbed "$here" "$build"
fi
