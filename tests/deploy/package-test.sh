#!/usr/bin/env bash
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

cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPELMOR_BUILD_TESTS=OFF -DPELMOR_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null 2>&1)
deb=$(ls "$build"/pelmor-helper_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "package: ${deb##*/}; depends: $depends"
for library in libhidapi-hidraw0 libqt5core5a; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library"
done

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
man -w pelmor-helper | grep -q '^/usr/share/man/man1/pelmor-helper\.1' || fail "man page not found"
man -w 5 pelmor.conf | grep -q '^/usr/share/man/man5/pelmor\.conf\.5' || fail "pelmor.conf(5) not found"
grep -qx '/usr/share/doc/pelmor-helper/pelmor.conf.example' <<<"$installed" || fail "no example configuration"
grep -q 'rules.d/70-pelmor.rules$' <<<"$installed" || fail "no udev rule"
grep -q 'system/pelmor-heartbeat.service$' <<<"$installed" || fail "no heartbeat unit"

"${sudo[@]}" dpkg --purge pelmor-helper >/dev/null
trap - EXIT
left=()
while read -r path; do
  # Directories are shared with other packages (and /lib may be a link to one).
  [ -d "$path" ] && continue
  if [ -e "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
done <<<"$installed"
[ ${#left[@]} -eq 0 ] || fail "left behind: ${left[*]}"
echo "PASS: package installs, works from the PATH and removes cleanly"
