#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# The real-kernel lab: boots small virtual machines with the shipped
# pelmor-helper and the real hidapi, and fails unless every scenario passes.
#   uhid: emulated receivers on /dev/uhid (tests/lab/guest-init.sh)
#   usb:  a USB gadget with three HID interfaces on dummy_hcd, and the
#         project's udev rule under systemd-udevd (tests/lab/guest-usb-init.sh)
# Usage: tests/lab/run-lab.sh [uhid|usb|all]   (work files in build-lab/)
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
work=$source_dir/build-lab
variant=${1:-all}
timeout_seconds=300

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
missing=()
for package in qemu-system-x86 busybox-static cpio udev; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
mkdir -p "$work"

# The tool as shipped: a release build without tests.
cmake -S "$source_dir" -B "$work/tool" -DCMAKE_BUILD_TYPE=Release -DPELMOR_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/tool" -j"$(nproc)" --target pelmor-helper >/dev/null
cc -Wall -Wextra -Werror -O2 -o "$work/uhid-receiver" tests/lab/uhid-receiver.c

# A Debian kernel of a flavour, downloaded and unpacked, not installed. The
# metapackage names the current ABI. Prints the unpacked folder.
fetch_kernel() { # flavour: cloud-amd64 | amd64
  local package download
  package=$(apt-cache depends "linux-image-$1" | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  [ -n "$package" ] || { echo "cannot resolve linux-image-$1" >&2; return 1; }
  if [ ! -d "$work/kernel/$package" ]; then
    download=$(mktemp -d)
    [ "$(id -u)" -eq 0 ] && chown _apt "$download"
    (cd "$download" && apt-get download "$package" >/dev/null 2>&1) \
      || { "${sudo[@]}" apt-get update -q >/dev/null && (cd "$download" && apt-get download "$package" >/dev/null); }
    mkdir -p "$work/kernel/$package"
    dpkg-deb -x "$download"/*.deb "$work/kernel/$package"
    rm -rf "$download"
  fi
  echo "$work/kernel/$package"
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
build_initramfs() { # kernel-folder init-script output modules...
  local kroot=$1 init=$2 output=$3 root=$work/root modules applet
  shift 3
  modules=$(ls -d "$kroot"/lib/modules/*)
  rm -rf "$root"
  mkdir -p "$root"/{bin,sbin,proc,sys,dev,tmp,run,etc,lib/modules}
  cp /bin/busybox "$root/bin/busybox"
  for applet in $("$root/bin/busybox" --list); do
    [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
  done
  local order=()
  add_module() {
    local name=$1 file dependency
    [[ " ${order[*]} " == *" $name "* ]] && return
    file=$(find "$modules" -name "$name.ko" -o -name "${name//_/-}.ko" -o -name "${name//-/_}.ko" | head -n 1)
    [ -n "$file" ] || { echo "module $name not found" >&2; exit 1; }
    for dependency in $(grep -a -o 'depends=[^[:cntrl:]]*' "$file" | sed 's/^depends=//' | tr ',' ' '); do
      add_module "$dependency"
    done
    cp "$file" "$root/lib/modules/$name.ko"
    order+=("$name")
  }
  for module in "$@"; do add_module "$module"; done
  printf '%s\n' "${order[@]}" >"$root/lib/modules/load-order"
  cp "$work/tool/pelmor-helper" "$work/uhid-receiver" "$root/bin/"
  copy_binaries "$root" "$work/tool/pelmor-helper" "$work/uhid-receiver"
  cp "$init" "$root/init"
  chmod 755 "$root/init"
  # What the USB variant needs: the gadget's report descriptor (the same as
  # the emulated receiver's) and systemd-udevd with the project's rule only.
  printf '\x06\x00\xff\x09\x01\xa1\x01\x15\x00\x26\xff\x00\x75\x08\x85\x10\x95\x1f\x09\x02\xb1\x02'\
'\x85\x11\x95\x1f\x09\x03\x91\x02\x85\x12\x95\x1f\x09\x04\x81\x02\xc0' >"$root/etc/report_desc.bin"
  if [ -x /lib/systemd/systemd-udevd ]; then
    copy_binaries "$root" /lib/systemd/systemd-udevd "$(command -v udevadm)"
    mkdir -p "$root/etc/udev/rules.d"
    cp data/udev/70-pelmor.rules "$root/etc/udev/rules.d/"
  fi
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$output"
}

# Boots a kernel with an initramfs and checks the scenarios it must pass.
boot() { # name kernel-folder initramfs scenarios...
  local name=$1 kroot=$2 initramfs=$3 start status=0 scenario result=0
  shift 3
  echo "== lab $name: booting $(basename "$kroot") ($(du -h "$initramfs" | cut -f1) initramfs)"
  start=$(date +%s)
  timeout "$timeout_seconds" qemu-system-x86_64 -accel tcg -cpu max -m 512 -nographic -no-reboot -net none \
    -kernel "$(ls "$kroot"/boot/vmlinuz-*)" -initrd "$initramfs" \
    -append "console=ttyS0 quiet panic=-1 oops=panic" </dev/null >"$work/console-$name.log" 2>&1 || status=$?
  tr -d '\r' <"$work/console-$name.log" | grep -a -v $'\e' >"$work/console-$name.txt" || true
  grep -a -v -E '^\s*$|^\[' "$work/console-$name.txt" || true
  echo "lab $name took $(( $(date +%s) - start )) s (qemu status $status)"
  for scenario in "$@"; do
    grep -qx "LAB PASS $scenario" "$work/console-$name.txt" || { echo "FAIL: $name scenario $scenario"; result=1; }
  done
  grep -q '^LAB FAIL' "$work/console-$name.txt" && result=1
  grep -qx 'LAB DONE' "$work/console-$name.txt" || { echo "FAIL: the $name guest did not finish"; result=1; }
  [ "$result" = 0 ] && echo "lab $name: all $# scenarios passed"
  return "$result"
}

# The lab boots Debian's kernel packages; elsewhere (Ubuntu names them
# otherwise) it says so and stops without failing.
apt-cache show linux-image-cloud-amd64 >/dev/null 2>&1 || "${sudo[@]}" apt-get update -q >/dev/null
for flavour in cloud-amd64 amd64; do
  if ! apt-cache show "linux-image-$flavour" >/dev/null 2>&1; then
    echo "SKIP: the lab needs Debian's linux-image-$flavour package, which this machine's apt does not offer"
    exit 0
  fi
done

result=0
if [ "$variant" = uhid ] || [ "$variant" = all ]; then
  kernel=$(fetch_kernel cloud-amd64)
  build_initramfs "$kernel" tests/lab/guest-init.sh "$work/initramfs-uhid.gz" hid hid-generic uhid
  boot uhid "$kernel" "$work/initramfs-uhid.gz" \
    init-defaults init-config-file init-one-refusing heartbeat-until-unplugged plain-file-device devnull-device \
    || result=1
fi
if [ "$variant" = usb ] || [ "$variant" = all ]; then
  kernel=$(fetch_kernel amd64)
  build_initramfs "$kernel" tests/lab/guest-usb-init.sh "$work/initramfs-usb.gz" \
    hid hid-generic usbhid dummy_hcd configfs libcomposite usb_f_hid
  boot usb "$kernel" "$work/initramfs-usb.gz" \
    usb-interfaces-1-and-2-only udev-uaccess-on-every-interface udev-init-unit-requested udev-link-to-interface-1 \
    udev-link-removed-on-unbind || result=1
fi
exit "$result"
