#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Installs the Debian packages that are missing for a purpose: "build" (the
# tool and the virtual receiver) or "test" (everything the test suite uses).
# Usage: tools/deps.sh build|test
set -euo pipefail

packages=(g++ make cmake pkg-config qtbase5-dev libhidapi-dev)
case "${1:-build}" in
  build) ;;
  # clang and its runtime for the fuzzers (older releases ship the runtime
  # with clang itself and have no libclang-rt-dev), valgrind, Qt 6 for the
  # second build, what the deployment, licence, shell script and package
  # checks use, and the package's own build dependencies (the unit and udev
  # folders' pkg-config files come with systemd and udev up to Debian 12, with
  # systemd-dev later) and what it depends on; and mmdebstrap for the other
  # releases' roots, installed here, before any stage, since the roots are
  # made beside stages that use apt themselves.
  test) packages+=(clang libclang-rt-dev valgrind qt6-base-dev dpkg-dev file man-db groff-base systemd udev
                   lintian devscripts appstream reuse ccache build-essential debhelper blhc autopkgtest
                   mmdebstrap shellcheck)
        # shellcheck disable=SC1091 # The machine's own file, not the tree's.
        [ "$(. /etc/os-release && echo "${VERSION_ID:-}")" = 12 ] || packages+=(systemd-dev) ;;
  *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
available=()
for package in "${missing[@]}"; do
  if apt-cache show "$package" >/dev/null 2>&1; then
    available+=("$package")
  else
    echo "Not available here, skipped: $package"
  fi
done
[ ${#available[@]} -eq 0 ] && exit 0
echo "Installing: ${available[*]}"
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${available[@]}"
