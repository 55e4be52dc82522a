#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Builds the Debian source and binary packages as Debian builds them: from a
# clean copy of this tree (no build folders, no Git data), with the build
# dependencies that debian/control names installed first, by
# dpkg-buildpackage. The packages land in OUT; the build's whole log, which
# blhc reads, in OUT/build.log.
# Usage: tools/debian-package.sh OUT [dpkg-buildpackage options...]
#        (DEB_BUILD_OPTIONS=nocheck skips the suite, as everywhere)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd)
shift

version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
tree=$out/pelmor-helper-$version
rm -rf "$tree" "$out"/pelmor-helper*_* "$out/build.log"
mkdir -p "$tree"
tar -C "$source" --exclude='./build*' --exclude=./.git --exclude=./.cache -cf - . | tar -C "$tree" -xf -

profiles=()
[[ " ${DEB_BUILD_OPTIONS:-} " == *" nocheck "* ]] && profiles=(-Pnocheck)
"$source/tools/deps.sh" build-dep "$tree" "${profiles[@]}"

# The test command's compiler cache may serve the build, but without its base
# folder: with one, it hands the compiler paths rewritten relative to that
# folder, which end up in the debug information and so in the build ID, and
# the package would differ from one built without the cache.
(cd "$tree" && env -u CCACHE_BASEDIR dpkg-buildpackage -us -uc "${profiles[@]}" "$@") >"$out/build.log" 2>&1 || {
  tail -n 40 "$out/build.log" >&2
  echo "FAIL: dpkg-buildpackage; the whole log is $out/build.log" >&2
  exit 1
}
rm -rf "$tree"
