#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The Debian releases that the test command proves, and how it proves them
# on a machine of another release: in a root file system of that release
# (made with mmdebstrap from this machine's mirrors, with everything
# tools/deps.sh installs for the tests, and cached), entered with chroot in a
# mount namespace of its own, where run-tests.sh runs the stages below. The
# root is deleted afterwards, whatever happened.
# A release is skipped, with a line "SKIP: reason", only when its root cannot
# be made: its archive cannot be reached or its packages cannot be installed
# together (a transition in testing). The exit status is 77 when a release
# was skipped and none failed.
# Usage: tools/releases.sh [CODENAME...]   (every release but this machine's)
#        tools/releases.sh --testbed CODENAME PACKAGE_DIR
#        (the package built in PACKAGE_DIR, installed, tested and purged in
#        throwaway testbeds of the release: piuparts in a clean chroot, and
#        the checks of tests/deploy/package-test.sh --installed, autopkgtest
#        among them, in a fresh root)
#        PELMOR_RELEASE_STAGES="STAGE..." PELMOR_AS_MACHINE=1 tools/releases.sh CODENAME
#        (the root stands in for a machine of that release: the stages run as
#        on the machine's own release, the package's reproducibility included)
#        source tools/releases.sh          (for release_sources, in the lab)
set -euo pipefail

# codename   name        apt suites beside the main one ("-": none)
releases=(
  "bookworm  Debian-12   updates security"
  "trixie    Debian-13   updates security"
  # Testing has only its main suite, and its Release file may be out of date.
  "forky     testing     -"
)
# What runs in each; the lab asks for the package alone.
# The package stage runs the suite inside the package's build, and fails on
# any warning in its log, so a build stage of its own would add nothing.
read -r -a release_stages <<<"${PELMOR_RELEASE_STAGES:-licences package qt6}"
release_cache=${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/pelmor-helper-releases

# The first URI in this machine's apt sources that serves a suite matching
# the pattern, in either format of sources file.
apt_uri() { # suite-pattern
  local file
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    if [[ $file == *.sources ]]; then
      awk -v re="$1" 'BEGIN { RS = "" }
        { uri = ""; hit = 0
          for (i = 1; i <= NF; i++) {
            if ($i == "URIs:") uri = $(i + 1)
            if ($i == "Suites:") for (j = i + 1; j <= NF && $j !~ /:$/; j++) if ($j ~ re) hit = 1
          }
          if (hit && uri != "" && $0 ~ /Types:[^\n]*deb( |$|\n)/) { print uri; exit } }' "$file"
    else
      sed 's/\[[^]]*\]//' "$file" | awk -v re="$1" '$1 == "deb" && $3 ~ re { print $2; exit }'
    fi
  done | head -n 1
}

# mmdebstrap's sources and options for a release.
release_sources() { # codename
  local codename=$1 row name suites mirror security suite
  for row in "${releases[@]}"; do
    read -r name _ suites <<<"$row"
    [ "$name" = "$codename" ] || continue
    mirror=$(apt_uri '^[a-z]+$')
    security=$(apt_uri '-security$')
    [ -n "$mirror" ] || { echo "no Debian mirror in this machine's apt sources" >&2; return 1; }
    echo "deb $mirror $codename main"
    for suite in $suites; do
      case $suite in
        -) echo '--aptopt=Acquire::Check-Valid-Until "false"' ;;
        security) [ -n "$security" ] && echo "deb $security $codename-security main" ;;
        *) echo "deb $mirror $codename-$suite main" ;;
      esac
    done
    return 0
  done
  echo "unknown release: $codename" >&2
  return 1
}

# mmdebstrap for a release, from this machine's mirrors.
release_mmdebstrap() { # codename target mmdebstrap-options...
  local codename=$1 target=$2 options=() sources=() line
  shift 2
  while read -r line; do
    case $line in --*) options+=("$line") ;; *) sources+=("$line") ;; esac
  done < <(release_sources "$codename")
  mmdebstrap --quiet --format=tar "${options[@]}" "$@" "$codename" "$target" "${sources[@]}"
}

# The cached root of a release with the test dependencies installed, made
# again when the dependencies change or after a week. Prints its path.
release_root() { # codename source-dir
  local codename=$1 source=$2 tarball
  tarball=$release_cache/$codename-$(md5sum <"$source/tools/deps.sh" | cut -c1-8).tar
  if [ ! -f "$tarball" ] || [ -n "$(find "$tarball" -mtime +7)" ]; then
    mkdir -p "$release_cache"
    rm -f "$release_cache/$codename"-*.tar "$tarball.part"
    echo "Making a $codename root with the test dependencies (once a week; about two minutes)" >&2
    # shellcheck disable=SC2016 # mmdebstrap runs the hook with the root as $1.
    release_mmdebstrap "$codename" "$tarball.part" --variant=apt \
      --customize-hook="upload $source/tools/deps.sh /tmp/deps.sh" \
      --customize-hook='chroot "$1" bash /tmp/deps.sh test && rm "$1/tmp/deps.sh" && chroot "$1" apt-get clean' \
      >&2 || return 1
    mv "$tarball.part" "$tarball"
  fi
  echo "$tarball"
}

# Runs a command in a fresh copy of a release's root, with TREE (a source
# tree, without its build folders and Git data) at /src. The packages it
# leaves in /src/build-package land in TREE/build-releases/CODENAME.
in_release_root() { # codename source-dir tree command...
  local codename=$1 source=$2 tree=$3 tarball stages status=0
  shift 3
  tarball=$(release_root "$codename" "$source") || {
    echo "SKIP: $codename: its root cannot be made (archive out of reach, or packages not installable)"
    return 77
  }
  mkdir -p "$source/build-releases"
  # Global: the exit trap may run after this function has gone.
  root=$(mktemp -d "$source/build-releases/$codename.XXXXXX")
  # Gone however this ends. An interruption stops the command (its own
  # process group) first.
  trap 'rm -rf --one-file-system "$root"' EXIT
  tar -C "$root" -xf "$tarball"
  mkdir -p "$root/src" "$root/root/.cache/ccache" "$release_cache/ccache-$codename"
  tar -C "$tree" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$root/src" -xf -
  # Private mounts: they go with the namespace, whatever the command does.
  # The root is a mount point of its own, as / is on a machine, so that
  # tools run there can make namespaces of their own too.
  # shellcheck disable=SC2016 # The script expands its own arguments ($1...) and CI.
  setsid unshare --mount --propagation private -- bash -c '
    root=$1
    mount --bind "$root" "$root" && mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
      mount -t sysfs -o ro sysfs "$root/sys" && mount -t tmpfs tmpfs "$root/tmp" &&
      mount -t tmpfs tmpfs "$root/run" && mount --bind "$2" "$root/root/.cache/ccache" || exit 1
    other=$3
    shift 3
    exec chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
      CI="$CI" PELMOR_OTHER_RELEASE="$other" PELMOR_THROWAWAY_ROOT=1 "$@"' _ "$root" "$release_cache/ccache-$codename" \
    "$([ -n "${PELMOR_AS_MACHINE:-}" ] || echo 1)" "$@" &
  stages=$!
  trap 'kill -TERM -- -"$stages" 2>/dev/null; wait "$stages"; exit 143' INT TERM
  wait "$stages" || status=$?
  rm -rf "$tree/build-releases/$codename" && mkdir -p "$tree/build-releases/$codename"
  cp "$root"/src/build-package/pelmor-helper_*.deb "$tree/build-releases/$codename/" 2>/dev/null || true
  rm -rf --one-file-system "$root"
  trap - EXIT INT TERM
  return "$status"
}

# A clean chroot of a release for piuparts: minbase with systemd and udev,
# which the package depends on, so that what they leave behind is part of
# the base rather than counted against the package. Made again after a week.
piuparts_base() { # codename: prints the tarball
  local tarball=$release_cache/piuparts-$1.tar.gz
  if [ ! -f "$tarball" ] || [ -n "$(find "$tarball" -mtime +7)" ]; then
    mkdir -p "$release_cache"
    rm -f "$tarball.part.tar.gz"
    release_mmdebstrap "$1" "$tarball.part.tar.gz" --variant=minbase --include=systemd,udev >&2 || return 1
    mv "$tarball.part.tar.gz" "$tarball"
  fi
  echo "$tarball"
}

# The package in PACKAGE_DIR installed, tested and purged where nothing of
# it can stay: piuparts (install, purge, and anything left after it, files
# and the maintainer scripts' records alike) in a clean chroot, beside the
# installed checks and the package's own tests in a fresh root. The machine
# running this never has the package installed, nor its maintainer scripts
# run.
release_testbed() { # codename source-dir package-dir
  local codename=$1 source=$2 packages=$3 base mirror tree status=0 piuparts_status=0 piuparts_pid
  base=$(piuparts_base "$codename") || {
    echo "SKIP: $codename: no clean chroot for piuparts (archive out of reach)"
    return 77
  }
  mirror=$(apt_uri '^[a-z]+$')
  piuparts --basetgz="$base" --distribution="$codename" --mirror="$mirror main" --no-upgrade-test \
    --log-file="$packages/piuparts.log" "$packages"/pelmor-helper_*.deb >/dev/null 2>&1 &
  piuparts_pid=$!
  tree=$(mktemp -d)
  mkdir -p "$tree/tests/deploy" "$tree/packages"
  cp "$source/tests/deploy/package-test.sh" "$tree/tests/deploy/"
  find "$packages" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.dsc' -o -name '*.tar.*' \) \
    -exec cp {} "$tree/packages/" \;
  # piuparts checks the purge there; the fresh root checks the rest.
  in_release_root "$codename" "$source" "$tree" \
    env PELMOR_PURGE_BY_PIUPARTS=1 /src/tests/deploy/package-test.sh --installed /src/packages || status=$?
  rm -rf "$tree"
  wait "$piuparts_pid" || piuparts_status=$?
  if [ "$piuparts_status" -eq 0 ]; then
    echo "piuparts: PASS (install and purge in a clean $codename chroot)"
  else
    grep -E 'FAIL|ERROR' "$packages/piuparts.log" | tail -n 20
    echo "FAIL: piuparts ($piuparts_status); its log: $packages/piuparts.log"
    [ "$status" -ne 0 ] || status=1
  fi
  return "$status"
}

# Runs the release stages of run-tests.sh in a fresh copy of the root; the
# package built for the release stays for the lab's guest of it.
run_release() { # codename source-dir
  in_release_root "$1" "$2" "$2" /src/run-tests.sh "${release_stages[@]}"
}

main() {
  local source here row codename name wanted=("$@") result=0 skipped=0 start status summary=()
  source=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  # shellcheck disable=SC1091 # The machine's own file, not the tree's.
  here=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  "$source/tools/deps.sh" releases
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: the release roots need root (chroot and mounts)"; return 77; }
  if [ "${1:-}" = --testbed ]; then
    release_testbed "$2" "$source" "$3"
    return
  fi
  mkdir -p "$source/build-releases"
  for row in "${releases[@]}"; do
    read -r codename name _ <<<"$row"
    [ ${#wanted[@]} -eq 0 ] || [[ " ${wanted[*]} " == *" $codename "* ]] || continue
    if [ "$codename" = "$here" ]; then
      summary+=("$name ($codename): this machine, every stage above")
      continue
    fi
    echo "== $name ($codename): ${release_stages[*]}"
    start=$SECONDS
    status=0
    run_release "$codename" "$source" || status=$?
    case $status in
      0) summary+=("$name ($codename): PASS in $((SECONDS - start)) s") ;;
      77) summary+=("$name ($codename): SKIP (its root cannot be made)"); skipped=1 ;;
      *) summary+=("$name ($codename): FAIL after $((SECONDS - start)) s"); result=1 ;;
    esac
  done
  printf '%s\n' "${summary[@]}"
  [ "$result" -ne 0 ] || [ "$skipped" -eq 0 ] || result=77
  return "$result"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  main "$@"
fi
