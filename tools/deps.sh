#!/bin/sh
# Installs the Debian packages that building and testing Orvane need, when any
# is missing. Quick when everything is there.
set -eu

PACKAGES="build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
qt6-base-dev libgl-dev libcurl4-openssl-dev libgtest-dev libgmock-dev libbenchmark-dev
libicu-dev libre2-dev
python3 python3-pyftpdlib vsftpd curl dbus openssl libssl-dev openssh-server openssh-client
qt6-svg-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools qt6-translations-l10n fonts-wqy-microhei desktop-file-utils
dpkg-dev lintian appstream bash-completion fish man-db"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  echo "Installing:$missing"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi

# pure-ftpd conflicts with vsftpd as a package; the tests run its programs
# from an unpacked copy.
fetch="$(dirname "$0")/../tests/fixtures/fetch_pure_ftpd.sh"
if ! "$fetch" 2>/dev/null; then
  # The package lists may be missing when nothing else had to be installed.
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  "$fetch" || echo "warning: pure-ftpd unavailable; its interoperability tests will be skipped" >&2
fi
