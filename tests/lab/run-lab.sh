#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The real-kernel lab: boots virtual machines with the shipped pelmor-helper
# and the real hidapi, and fails unless every scenario passes.
#   uhid:   emulated receivers on /dev/uhid, in a busybox initramfs
#           (tests/lab/guest-init.sh runs tests/lab/uhid/*.sh)
#   system: a whole Debian system of each release in system_releases, with
#           that release's kernel, systemd as PID 1 and the project's
#           package built for that release installed with dpkg; the
#           receiver is a USB gadget with three HID functions on dummy_hcd,
#           plugged in and out by binding it (tests/lab/guest-system.sh runs
#           tests/lab/system/*.sh). Booted with the receiver plugged in
#           later, and again for the scenarios marked "# boot: coldplug",
#           with it present at boot.
# The scenarios are the files there: each proves one thing, sets up what it
# needs and leaves the guest as it found it, so any of them, in any order,
# give the same verdicts.
# Usage: tests/lab/run-lab.sh [--alone] [uhid|system|all] [SCENARIO...]
#        tests/lab/run-lab.sh --list
#   SCENARIO...  only these, in this order (all, in the order of their names,
#                by default)
#   --alone      boot each guest once for each scenario
#   --list       the scenarios, each with what it proves
# Work files in build-lab/.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
work=$source_dir/build-lab
# Kernels and the guest's root file system outlive a checkout: every clone on
# this machine reuses them, and each is made again when missing.
cache=${XDG_CACHE_HOME:-${HOME:-/root}/.cache}/pelmor-helper-lab
if [ "${1:-}" = --list ]; then
  for file in tests/lab/uhid/*.sh tests/lab/system/*.sh; do
    printf '%-6s  %-48s  %s\n' "$(basename "$(dirname "$file")")" "$(basename "$file" .sh)" "$(sed -n '2s/^# //p' "$file")"
  done
  exit 0
fi
alone=
if [ "${1:-}" = --alone ]; then alone=1; shift; fi
variant=${1:-all}
case $variant in
  uhid | system | all) ;;
  *) echo "usage: $0 [--alone] [uhid|system|all] [SCENARIO...]" >&2; exit 2 ;;
esac
shift || true
wanted=("$@")
system_releases=(bookworm trixie)
# shellcheck source=tools/releases.sh
source tools/releases.sh
# shellcheck disable=SC1091 # the machine's own file, not the tree's
here=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")

tools/deps.sh lab
mkdir -p "$work" "$cache"

# The Debian package built as the README says (the suite is the other
# stages' job), and the binary as it ships in it. The test command hands over
# the one its package stage has just built and checked, which is the same
# bytes (that stage checks the build is reproducible without the suite).
built=$(ls "${PELMOR_BUILT_PACKAGE_DIR:-/nonexistent}"/pelmor-helper_*_amd64.deb 2>/dev/null || true)
if [ -n "$built" ]; then
  rm -rf "$work/tool" && mkdir -p "$work/tool" && cp "$built" "$work/tool/"
else
  DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" tools/debian-package.sh "$work/tool" -b
fi
rm -rf "$work/tool/root" && dpkg-deb -x "$(ls "$work"/tool/pelmor-helper_*_amd64.deb)" "$work/tool/root"
cc -Wall -Wextra -Werror -O2 -o "$work/uhid-receiver" tests/lab/uhid-receiver.c
cc -Wall -Wextra -Werror -O2 -o "$work/hidg-log" tests/lab/hidg-log.c

# A guest's scenarios, as the names of their files: those asked for, in that
# order, or all of them; with a mode, only the system scenarios of that boot.
scenarios_of() { # uhid|system [hotplug|coldplug]
  local file name names=()
  for file in tests/lab/"$1"/*.sh; do
    name=$(basename "$file" .sh)
    if [ -n "${2:-}" ]; then
      if grep -qx '# boot: coldplug' "$file"; then [ "$2" = coldplug ] || continue
      else [ "$2" = hotplug ] || continue; fi
    fi
    names+=("$name")
  done
  if [ ${#wanted[@]} -eq 0 ]; then printf '%s\n' "${names[@]}"; return; fi
  for name in "${wanted[@]}"; do
    [[ " ${names[*]} " != *" $name "* ]] || echo "$name"
  done
}
for name in "${wanted[@]}"; do
  [ -f "tests/lab/uhid/$name.sh" ] || [ -f "tests/lab/system/$name.sh" ] \
    || { echo "no scenario $name in tests/lab/uhid or tests/lab/system" >&2; exit 2; }
done

# A boot's time limit: about 30 s to boot and 10 to 40 s a scenario are
# usual under TCG; a guest that hangs is stopped well after that.
timeout_for() { echo $((150 + 40 * $1)); }

# apt for a release's archive, whatever release this machine runs, with
# lists of its own in the cache.
release_apt() { # codename apt-get|apt-cache arguments...
  local codename=$1 tool=$2 state=$cache/apt-$1
  shift 2
  mkdir -p "$state/lists/partial" "$state/archives/partial"
  release_sources "$codename" | grep '^deb ' >"$state/sources.list"
  "$tool" -o Dir::Etc::SourceList="$state/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
    -o Dir::State::Lists="$state/lists" -o Dir::Cache="$state" -o Dir::Cache::Archives="$state/archives" \
    -o Dir::State::Status=/var/lib/dpkg/status "$@"
}

# A Debian kernel of a release and flavour, downloaded and unpacked, not
# installed. The metapackage names the current ABI. Prints the unpacked folder;
# fails when the archive cannot be reached (command substitution runs this
# without errexit, so every step says so itself).
fetch_kernel() { # codename flavour: cloud-amd64 | amd64
  local codename=$1 package download
  [ -n "$(ls "$cache/apt-$codename/lists/"*Packages* 2>/dev/null)" ] \
    || release_apt "$codename" apt-get update -q >&2 || return 1
  package=$(release_apt "$codename" apt-cache depends "linux-image-$2" | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  [ -n "$package" ] || { echo "cannot resolve linux-image-$2 in $codename" >&2; return 1; }
  if [ ! -d "$cache/kernel/$package" ]; then
    download=$(mktemp -d)
    [ "$(id -u)" -eq 0 ] && chown _apt "$download"
    (cd "$download" && release_apt "$codename" apt-get download "$package" >/dev/null 2>&1) \
      || { release_apt "$codename" apt-get update -q >/dev/null && (cd "$download" && release_apt "$codename" apt-get download "$package" >/dev/null); } \
      || { rm -rf "$download"; return 1; }
    rm -rf "$cache/kernel/$package.part" && mkdir -p "$cache/kernel/$package.part"
    dpkg-deb -x "$download"/*.deb "$cache/kernel/$package.part" || return 1
    mv "$cache/kernel/$package.part" "$cache/kernel/$package" || return 1
    rm -rf "$download"
  fi
  echo "$cache/kernel/$package"
}

# A kernel's modules folder: under lib/ up to Debian 12, usr/lib/ after.
kernel_modules() { # kernel-folder
  local folder
  for folder in "$1"/lib/modules/* "$1"/usr/lib/modules/*; do
    [ -d "$folder" ] && { echo "$folder"; return; }
  done
  return 1
}

# The package for a release's guest, built on this machine for its own
# release, in a root of the release otherwise (again when a source is newer).
# Prints nothing where the release's root cannot be made.
guest_package() { # codename: prints the .deb
  local deb status=0
  if [ "$1" = "$here" ]; then
    compgen -G "$work/tool/pelmor-helper_*_amd64.deb"
    return
  fi
  deb=$(compgen -G "build-releases/$1/pelmor-helper_*_amd64.deb" | head -n 1)
  if [ -z "$deb" ] || [ -n "$(find CMakeLists.txt cmake src data man debian -newer "$deb" -print -quit)" ]; then
    # 77: the release's root cannot be made here, which is no failure.
    PELMOR_RELEASE_STAGES=package tools/releases.sh "$1" >&2 || status=$?
    [ "$status" = 0 ] || { [ "$status" = 77 ] && return 0; return 1; }
    deb=$(compgen -G "build-releases/$1/pelmor-helper_*_amd64.deb" | head -n 1)
  fi
  [ -z "$deb" ] || echo "$source_dir/$deb"
}

# The package that users have: 0.1.0, which has no Debian source package
# and is built with CPack, as that tree's README says. Built from its tree
# for each guest's release (on this machine for its own, in a root
# otherwise) and kept in the cache, since the tree never changes. Prints
# nothing without the project's Git history (a tarball, a shallow clone).
cpack_commit=92ffba2d2eaf2775afc063cef04cf3c555080a17
# shellcheck disable=SC2016 # expanded by the bash -c that runs it, with the tree as $0
cpack_build='cmake -S "$0" -B "$0/build-package" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DPELMOR_BUILD_TESTS=OFF && cmake --build "$0/build-package" -j"$(nproc)" && cd "$0/build-package" && cpack -G DEB'
cpack_package() { # codename: prints the .deb
  local deb=$cache/cpack-0.1.0-$1.deb tree=$work/cpack-0.1.0-$1 log=$work/cpack-0.1.0-$1.log
  if [ ! -f "$deb" ]; then
    git cat-file -e "$cpack_commit^{commit}" 2>/dev/null || return 0
    rm -rf "$tree" && mkdir -p "$tree" && git archive "$cpack_commit" | tar -C "$tree" -xf -
    if [ "$1" = "$here" ]; then
      bash -c "$cpack_build" "$tree" >"$log" 2>&1
    else
      mkdir -p "$tree/build-package" &&
        in_release_root "$1" "$source_dir" "$tree" bash -c "$cpack_build" /src >"$log" 2>&1 &&
        cp "$tree/build-releases/$1"/*.deb "$tree/build-package/"
    fi || { tail -n 20 "$log" >&2; echo "FAIL: the CPack package did not build for $1" >&2; return 1; }
    cp "$tree/build-package/pelmor-helper_0.1.0_amd64.deb" "$deb.part" && mv "$deb.part" "$deb" && rm -rf "$tree"
  fi
  echo "$deb"
}

# Copies binaries with every library they load into the root.
copy_binaries() { # root binaries...
  local root=$1 binary library
  shift
  for binary in "$@"; do
    mkdir -p "$root$(dirname "$binary")"
    cp -L "$binary" "$root$binary"
    for library in $(ldd "$binary" | grep -o '/[^ ]*'); do
      mkdir -p "$root$(dirname "$library")"
      cp -L "$library" "$root$library"
    done
  done
}

# Builds an initramfs: busybox, modules in load order (dependencies first,
# read from each module's depends= field), the tool and the receiver, /init.
# Modules are stored uncompressed, since busybox's insmod takes them so
# whatever the kernel's package ships (Debian 13 compresses them with xz).
build_initramfs() { # kernel-folder init-script output modules...
  local kroot=$1 init=$2 output=$3 root=$work/root modules applet
  shift 3
  modules=$(kernel_modules "$kroot")
  rm -rf "$root"
  mkdir -p "$root"/{bin,sbin,proc,sys,dev,tmp,run,etc,lib/modules}
  cp /bin/busybox "$root/bin/busybox"
  for applet in $("$root/bin/busybox" --list); do
    [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
  done
  local order=()
  add_module() {
    local name=$1 file dependency copy=$root/lib/modules/$1.ko
    [[ " ${order[*]} " == *" $name "* ]] && return
    file=$(find "$modules" -regextype posix-extended \
      -regex ".*/($name|${name//_/-}|${name//-/_})\.ko(\.xz|\.zst|\.gz)?" | head -n 1)
    [ -n "$file" ] || { echo "module $name not found" >&2; exit 1; }
    case $file in
      *.xz) xz -dc "$file" >"$copy" ;;
      *.zst) zstd -qdc "$file" >"$copy" ;;
      *.gz) gzip -dc "$file" >"$copy" ;;
      *) cp "$file" "$copy" ;;
    esac
    for dependency in $(grep -a -o 'depends=[^[:cntrl:]]*' "$copy" | sed 's/^depends=//' | tr ',' ' '); do
      add_module "$dependency"
    done
    order+=("$name")
  }
  for module in "$@"; do add_module "$module"; done
  printf '%s\n' "${order[@]}" >"$root/lib/modules/load-order"
  cp "$work/tool/root/usr/bin/pelmor-helper" "$work/uhid-receiver" "$root/bin/"
  copy_binaries "$root" "$work/tool/root/usr/bin/pelmor-helper" "$work/uhid-receiver"
  cp "$init" "$root/init"
  chmod 755 "$root/init"
  mkdir -p "$root/lab"
  cp -r tests/lab/lib tests/lab/uhid "$root/lab/"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$output"
}

# The whole-system guest's root: systemd, udev, logind and what the package
# depends on in that release, made with mmdebstrap from this machine's
# mirrors and kept as a tarball (made again when missing or when the package
# list changes).
system_packages=systemd,systemd-sysv,udev,dbus,libpam-systemd,kmod,acl,procps
build_rootfs() { # codename deb: prints the tarball
  local packages tarball
  packages=$system_packages,$(dpkg-deb -f "$2" Depends | sed 's/([^)]*)//g; s/ //g')
  tarball=$cache/rootfs-$1-$(md5sum <<<"$packages" | cut -c1-8).tar
  if [ ! -f "$tarball" ]; then
    echo "Building the $1 guest's root file system with mmdebstrap (once; about a minute)" >&2
    rm -rf "$tarball" "$tarball.part"
    release_mmdebstrap "$1" "$tarball.part" --variant=minbase --include="$packages" \
      --dpkgopt='path-exclude=/usr/share/man/*' --dpkgopt='path-exclude=/usr/share/doc/*' \
      --dpkgopt='path-exclude=/usr/share/locale/*' >&2 || return 1
    mv "$tarball.part" "$tarball" || return 1
  fi
  echo "$tarball"
}

# A lab unit of the whole-system guest: guest-system.sh ACTION as a service.
lab_unit() { # name type action [unit lines...]
  local name=$1 type=$2 action=$3
  shift 3
  printf '[Unit]\n%s\n[Service]\nType=%s\nExecStart=/usr/local/lib/pelmor-lab/guest-system.sh %s\n' \
    "$(printf '%s\n' "$@")" "$type" "$action" >"$root/etc/systemd/system/$name.service"
}

# Unpacks the root, adds the kernel's modules, installs the package with
# dpkg, adds the lab's users, units and tools, and packs it all as an
# uncompressed initramfs whose /init is systemd.
build_system_initramfs() { # codename kernel-folder root-tarball deb output [cpack-deb]
  local codename=$1 kroot=$2 tarball=$3 deb=$4 output=$5 cpack=${6:-} modules version root=$work/system-root-$1 lab
  modules=$(kernel_modules "$kroot")
  version=$(basename "$modules")
  rm -rf "$root"
  mkdir -p "$root"
  tar -C "$root" -xf "$tarball"
  mkdir -p "$root/lib/modules/$version/kernel/drivers" "$root/lib/modules/$version/kernel/fs"
  cp -a "$modules/kernel/drivers/"{usb,hid,input} "$root/lib/modules/$version/kernel/drivers/"
  cp -a "$modules/kernel/fs/"{configfs,autofs} "$root/lib/modules/$version/kernel/fs/"
  cp "$modules/"modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$version/"
  depmod -b "$root" "$version"

  lab=$root/usr/local/lib/pelmor-lab
  mkdir -p "$lab"
  install -m 755 tests/lab/guest-system.sh "$work/hidg-log" "$lab/"
  cp -r tests/lab/lib tests/lab/system "$lab/"
  "$work/uhid-receiver" -d >"$lab/report_desc.bin"
  cp "$deb" "$lab/pelmor-helper.deb"
  # The same package as a newer version, for the upgrade.
  rm -rf "$work/upgrade-$codename" && dpkg-deb -R "$lab/pelmor-helper.deb" "$work/upgrade-$codename"
  sed -i 's/^Version: .*/&+lab1/' "$work/upgrade-$codename/DEBIAN/control"
  dpkg-deb -b "$work/upgrade-$codename" "$lab/pelmor-helper-upgrade.deb" >/dev/null
  [ -z "$cpack" ] || cp "$cpack" "$lab/pelmor-helper-cpack.deb"
  chroot "$root" dpkg -i /usr/local/lib/pelmor-lab/pelmor-helper.deb >/dev/null
  chroot "$root" useradd -m lab
  chroot "$root" useradd -m outsider

  # The seat's user: logged in on tty1 by getty, so that logind gives it an
  # active session on seat0.
  mkdir -p "$root/etc/systemd/system/getty@tty1.service.d"
  # shellcheck disable=SC2016 # $TERM is systemd's to expand, in the unit
  printf '[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin lab --noclear %%I $TERM\n' \
    >"$root/etc/systemd/system/getty@tty1.service.d/autologin.conf"
  lab_unit lab-gadget oneshot early DefaultDependencies=no After=systemd-modules-load.service \
    Before=systemd-udev-trigger.service
  printf 'RemainAfterExit=yes\n' >>"$root/etc/systemd/system/lab-gadget.service"
  lab_unit lab-readers exec readers DefaultDependencies=no After=lab-gadget.service \
    Before=systemd-udev-trigger.service
  lab_unit lab-scenarios exec scenarios "After=getty@tty1.service systemd-logind.service lab-readers.service"
  mkdir -p "$root/etc/systemd/system/sysinit.target.wants" "$root/etc/systemd/system/multi-user.target.wants"
  ln -s ../lab-gadget.service ../lab-readers.service "$root/etc/systemd/system/sysinit.target.wants/"
  ln -s ../lab-scenarios.service "$root/etc/systemd/system/multi-user.target.wants/"
  ln -sf /lib/systemd/systemd "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet) >"$output"
  rm -rf "$root"
}

# A guest that never reported its end and no failure either was stopped by
# the machine, not by a scenario: TCG sometimes resets a guest (at an S3
# resume, for one) or leaves it hanging. Such a boot is made once more,
# saying so; a scenario that reported FAIL is never retried. The first
# boot's logs are kept beside the second's, with ".first" in their names.
# True when the boot is to be made again.
lost_report() { # name report-file qemu-status time-limit
  local name=$1 report=$2 file
  if grep -qx 'LAB DONE' "$report" || grep -q '^LAB FAIL' "$report"; then
    return 1
  fi
  echo "RETRY: lab $name: the guest ended without its last report ($(lost_why "$3" "$report" "$4")); booting it once more"
  for file in "$work"/{console,report,journal}-"$name".*; do
    if [ -e "$file" ]; then mv "$file" "${file%.*}.first.${file##*.}"; fi
  done
}

lost_why() { # qemu-status report-file time-limit
  case $1 in
    124) printf 'hung: stopped after %s s' "$3" ;;
    0) printf 'reset or powered off' ;;
    *) printf 'qemu status %s' "$1" ;;
  esac
  printf ", last line '%s'" "$(grep -a . "$2" 2>/dev/null | tail -n 1)"
}

# Reads a guest's report: every scenario passed, none failed, and it ended.
# Each scenario gets a line "lab-scenario PASS|FAIL GUEST/SCENARIO SECONDS",
# which the test command's summary repeats.
check_report() { # name report-file scenarios...
  local name=$1 report=$2 scenario result=0 verdict ms
  shift 2
  for scenario in "$@"; do
    verdict=PASS
    grep -qx "LAB PASS $scenario" "$report" || { verdict=FAIL; result=1; }
    ms=$(sed -n "s/^LAB TIME verdict-$scenario-ms \([0-9]*\)$/\1/p" "$report" | tail -n 1)
    echo "lab-scenario $verdict $name/$scenario $(awk -v ms="${ms:-}" 'BEGIN { if (ms == "") print "-"; else printf "%.1f", ms / 1000 }')"
  done
  grep -q '^LAB FAIL' "$report" && result=1
  grep -qx 'LAB DONE' "$report" || { echo "FAIL: the $name guest did not finish"; result=1; }
  [ "$result" = 0 ] && echo "lab $name: all $# scenarios passed"
  return "$result"
}

# Boots a guest (once more if the machine lost it) and checks the scenarios
# it ran. The scenarios go to the guest on the kernel command line.
boot_and_check() { # uhid|system name kernel-folder initramfs mode scenarios...
  local kind=$1 name=$2 kroot=$3 initramfs=$4 mode=$5 limit status=0 report
  shift 5
  limit=$(timeout_for $#)
  report=$work/report-$name.txt
  [ "$kind" = system ] || report=$work/console-$name.txt
  rm -f "$work"/{console,report,journal}-"$name".first.*
  boot_once "$kind" "$name" "$kroot" "$initramfs" "$mode" "$limit" "$(IFS=,; echo "$*")" || status=$?
  if lost_report "$name" "$report" "$status" "$limit"; then
    boot_once "$kind" "$name" "$kroot" "$initramfs" "$mode" "$limit" "$(IFS=,; echo "$*")" || true
  fi
  check_report "$name" "$report" "$@"
}

boot_once() { # uhid|system name kernel-folder initramfs mode time-limit scenarios
  if [ "$1" = system ]; then shift; boot_system_once "$@"; else shift; boot_uhid_once "$@"; fi
}

boot_uhid_once() { # name kernel-folder initramfs mode time-limit scenarios: returns qemu's status
  local name=$1 kroot=$2 initramfs=$3 start status=0
  echo "== lab $name: booting $(basename "$kroot") ($(du -h "$initramfs" | cut -f1) initramfs)"
  start=$(date +%s)
  timeout "$5" qemu-system-x86_64 -accel tcg -cpu max -m 512 -nographic -no-reboot -net none \
    -kernel "$(ls "$kroot"/boot/vmlinuz-*)" -initrd "$initramfs" \
    -append "console=ttyS0 quiet panic=-1 oops=panic pelmor.scenarios=$6" </dev/null >"$work/console-$name.log" 2>&1 \
    || status=$?
  tr -d '\r' <"$work/console-$name.log" | grep -a -v $'\e' >"$work/console-$name.txt" || true
  grep -a -v -E '^\s*$|^\[|^LAB TIME' "$work/console-$name.txt" || true
  echo "lab $name took $(( $(date +%s) - start )) s (qemu status $status)"
  return "$status"
}

# ttyS0 is the console, ttyS1 the report, ttyS2 the journal, dumped at the
# end. One virtual CPU: with two, TCG now and then crashes the Debian 13
# guest's kernel while it patches its own code at boot (an int3 Oops in
# sched_clock_cpu) or brings the second CPU back at resume, or hangs it in
# S3.
boot_system_once() { # name kernel-folder initramfs mode time-limit scenarios: returns qemu's status
  local name=$1 kroot=$2 initramfs=$3 start status=0
  echo "== lab $name: booting $(basename "$kroot") with systemd ($(du -h "$initramfs" | cut -f1) initramfs)"
  start=$(date +%s)
  timeout "$5" qemu-system-x86_64 -accel tcg -cpu max -smp 1 -m 2048 -display none -no-reboot \
    -net none -serial "file:$work/console-$name.log" -serial "file:$work/report-$name.log" \
    -serial "file:$work/journal-$name.log" -kernel "$(ls "$kroot"/boot/vmlinuz-*)" -initrd "$initramfs" \
    -append "console=ttyS0 quiet panic=-1 systemd.show_status=0 pelmor.lab=$4 pelmor.scenarios=$6" \
    </dev/null || status=$?
  tr -d '\r' <"$work/report-$name.log" >"$work/report-$name.txt"
  grep -a -v '^LAB TIME' "$work/report-$name.txt" || true
  echo "lab $name took $(( $(date +%s) - start )) s (qemu status $status)"
  grep -a '^LAB TIME' "$work/report-$name.txt" | sed 's/^LAB TIME /  figure: /' || true
  return "$status"
}

# Boots a guest for the scenarios, all in one boot, or each in its own with
# --alone. No scenario, no boot.
boot_scenarios() { # uhid|system name kernel-folder initramfs mode scenarios...
  local kind=$1 name=$2 kroot=$3 initramfs=$4 mode=$5 scenario result=0
  shift 5
  [ $# -gt 0 ] || return 0
  if [ -z "$alone" ]; then
    boot_and_check "$kind" "$name" "$kroot" "$initramfs" "$mode" "$@"
    return
  fi
  for scenario in "$@"; do
    boot_and_check "$kind" "$name-$scenario" "$kroot" "$initramfs" "$mode" "$scenario" || result=1
  done
  return "$result"
}

# The lab boots Debian's kernel packages from this machine's Debian mirror;
# elsewhere (Ubuntu, or a Debian release it does not know) it says so and
# stops with 77, a skip: it proved nothing, and failed nothing either.
release_sources "$here" >/dev/null 2>&1 || {
  echo "SKIP: the lab needs a Debian release it knows (${releases[*]%% *}) with a Debian mirror; this is '$here'"
  exit 77
}

# What a guest that cannot be made says: the machine's failure, not the
# tool's, like a release whose root cannot be made. Each such guest or row
# is a skip, said again at the end; a run with skips and no failure ends
# with 77.
lost_archive="its kernel or root file system cannot be fetched (the archive is out of reach)"
skip() { echo "SKIP: $1"; }

uhid_guest() {
  local kernel scenarios
  mapfile -t scenarios < <(scenarios_of uhid)
  [ ${#scenarios[@]} -gt 0 ] || return 0
  kernel=$(fetch_kernel "$here" cloud-amd64) || { skip "the uhid guest: $lost_archive"; return 0; }
  build_initramfs "$kernel" tests/lab/guest-init.sh "$work/initramfs-uhid.gz" hid hid-generic uhid
  boot_scenarios uhid uhid "$kernel" "$work/initramfs-uhid.gz" - "${scenarios[@]}"
}

# A release's whole-system guest, made and booted for its hotplug and its
# coldplug scenarios.
system_guest() { # codename
  local codename=$1 deb kernel rootfs cpack="" hotplug coldplug initramfs=$work/initramfs-system-$1.cpio status=0
  mapfile -t hotplug < <(scenarios_of system hotplug)
  mapfile -t coldplug < <(scenarios_of system coldplug)
  [ $((${#hotplug[@]} + ${#coldplug[@]})) -gt 0 ] || return 0
  deb=$(guest_package "$codename")
  [ -n "$deb" ] || { skip "the $codename guest: that release's root cannot be made"; return 0; }
  if ! kernel=$(fetch_kernel "$codename" amd64) || ! rootfs=$(build_rootfs "$codename" "$deb"); then
    skip "the $codename guest: $lost_archive"
    return 0
  fi
  # The upgrade from the package users have runs where that can be built.
  if [[ " ${hotplug[*]} " == *" package-upgraded-from-cpack "* ]]; then
    cpack=$(cpack_package "$codename") || return 1
    if [ -z "$cpack" ]; then
      skip "the $codename guest's upgrade from the CPack package: no Git history to build it from"
      mapfile -t hotplug < <(printf '%s\n' "${hotplug[@]}" | grep -vx package-upgraded-from-cpack)
    fi
  fi
  build_system_initramfs "$codename" "$kernel" "$rootfs" "$deb" "$initramfs" "$cpack"
  boot_scenarios system "system-$codename-hotplug" "$kernel" "$initramfs" hotplug "${hotplug[@]}" || status=1
  boot_scenarios system "system-$codename-coldplug" "$kernel" "$initramfs" coldplug "${coldplug[@]}" || status=1
  rm -f "$initramfs"
  return "$status"
}

# Each guest has one virtual CPU, and this machine two or more: the
# releases' guests boot side by side, each in a lane of its own (the uhid
# guest, which is short, first in the first lane), and the lanes' output
# follows in order once all are done.
lane() { # index codename
  local status=0
  if [ "$1" = 0 ] && [ "$variant" != system ]; then uhid_guest || status=1; fi
  if [ "$variant" != uhid ]; then system_guest "$2" || status=1; fi
  return "$status"
}
result=0
lanes=()
echo "== lab: $([ "$variant" = uhid ] && echo "the uhid guest" || echo "the ${system_releases[*]} guests, side by side")"
for index in "${!system_releases[@]}"; do
  [ "$variant" != uhid ] || [ "$index" = 0 ] || break
  lane "$index" "${system_releases[$index]}" >"$work/lane-$index.log" 2>&1 &
  lanes+=("$!:$index")
done
for entry in "${lanes[@]}"; do
  wait "${entry%%:*}" || result=1
  cat "$work/lane-${entry#*:}.log"
done
mapfile -t skipped < <(cat "$work"/lane-*.log 2>/dev/null | sed -n 's/^SKIP: //p')
rm -f "$work"/lane-*.log
if [ "$result" = 0 ] && [ ${#skipped[@]} -gt 0 ]; then
  printf 'SKIP: %s\n' "${skipped[@]}"
  exit 77
fi
exit "$result"
