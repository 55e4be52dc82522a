#!/usr/bin/env bash
# Installs the Debian packages that are missing for a purpose: "build" (the
# tool and the virtual receiver) or "test" (everything the test suite uses).
# Usage: tools/deps.sh build|test
set -euo pipefail

packages=(g++ make cmake pkg-config qtbase5-dev libhidapi-dev)
case "${1:-build}" in
  build) ;;
  test) packages+=(dpkg-dev file man-db groff-base systemd) ;;
  *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
