#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Installs the Debian packages that are missing for a purpose; every script
# that needs a package calls this rather than apt itself, so that running as
# root or through sudo is decided in one place. A package this machine's
# archive does not have is skipped with a line "Not available here, skipped".
#   build     the tool and the virtual receiver (the default)
#   test      everything the test suite uses (run-tests.sh)
#   bench     the benchmark (bench/run-bench.sh)
#   lab       the real-kernel lab (tests/lab/run-lab.sh)
#   releases  the other releases' roots (tools/releases.sh)
#   build-dep DIR [-PPROFILE...]
#             the build dependencies that DIR/debian/control names, unless
#             dpkg-checkbuilddeps finds them all (tools/debian-package.sh)
# The file stands alone: tools/releases.sh runs a copy of it in the roots.
# Usage: tools/deps.sh [build|test|bench|lab|releases]
#        tools/deps.sh build-dep DIR [-PPROFILE...]
set -euo pipefail

usage() {
  echo "usage: $0 [build|test|bench|lab|releases]" >&2
  echo "       $0 build-dep DIR [-PPROFILE...]" >&2
  exit 2
}

# apt-get as root, through sudo for a normal user. sudo drops the caller's
# environment, so the front end is set in the command it runs.
apt_get() { # apt-get arguments...
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@"
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# What DIR's debian/control names for building, with the build profiles
# given (dpkg-buildpackage's -P options); quiet unless something fails.
build_dep() { # dir profile-options...
  local dir
  dir=$(cd "$1" && pwd)
  shift
  (cd "$dir" && dpkg-checkbuilddeps "$@") 2>/dev/null && return 0
  echo "Installing the build dependencies that debian/control names"
  apt_get update -q >/dev/null
  # apt takes a folder only by a path that starts with / or ./.
  apt_get build-dep -y -q --no-install-recommends "$@" "$dir" >/dev/null
}

build=(g++ make cmake pkg-config qtbase5-dev libhidapi-dev)
case "${1:-build}" in
  build) packages=("${build[@]}") ;;
  # clang and its runtime for the fuzzers (older releases ship the runtime
  # with clang itself and have no libclang-rt-dev), valgrind, Qt 6 for the
  # second build, what the deployment, licence, shell script and package
  # checks use, and the package's own build dependencies (the unit and udev
  # folders' pkg-config files come with systemd and udev up to Debian 12, with
  # systemd-dev later) and what it depends on; mmdebstrap for the other
  # releases' roots and the testbeds, installed here, before any stage, since
  # the roots are made beside stages that use apt themselves; and piuparts,
  # which installs and purges the package in a clean chroot.
  test) packages=("${build[@]}" clang libclang-rt-dev valgrind qt6-base-dev dpkg-dev file man-db groff-base
                  systemd udev lintian devscripts appstream reuse ccache build-essential debhelper blhc
                  autopkgtest mmdebstrap shellcheck piuparts)
        # shellcheck disable=SC1091 # The machine's own file, not the tree's.
        [ "$(. /etc/os-release && echo "${VERSION_ID:-}")" = 12 ] || packages+=(systemd-dev) ;;
  # callgrind counts the instructions, /usr/bin/time the peak memory.
  bench) packages=("${build[@]}" valgrind time) ;;
  # QEMU; busybox and cpio for the initramfs; mmdebstrap for the guests'
  # roots; dpkg-dev and file to build the tool's package; kmod and the
  # decompressors for the kernels' modules.
  lab) packages=("${build[@]}" qemu-system-x86 busybox-static cpio mmdebstrap dpkg-dev file kmod xz-utils zstd) ;;
  # mmdebstrap makes the roots; util-linux has unshare and setsid.
  releases) packages=(mmdebstrap util-linux) ;;
  build-dep) [ $# -ge 2 ] || usage
             shift
             build_dep "$@"
             exit ;;
  *) usage ;;
esac

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

apt_get update -q
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
apt_get install -y -q --no-install-recommends "${available[@]}"
