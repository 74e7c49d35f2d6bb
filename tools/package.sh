#!/bin/sh
# Builds the Debian package orvane_VERSION_ARCH.deb in the top directory of
# the source tree: installs the build dependencies (tools/deps.sh), builds
# with Debian's hardening flags for /usr, stages `cmake --install` and wraps
# the tree with its control file (dependencies from dpkg-shlibdeps),
# copyright and changelog. Then lintian reports on it.
#
#   tools/package.sh                 the whole build, in build-deb/
#   tools/package.sh --build-dir DIR --output DIR
#                                    packages an existing build instead (the
#                                    test suite lints the package so)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=""
out="$src"
while [ $# -gt 0 ]; do
  case $1 in
    --build-dir) build=$(cd "$2" && pwd); shift 2 ;;
    --output) out=$(cd "$2" && pwd); shift 2 ;;
    *) echo "usage: tools/package.sh [--build-dir DIR] [--output DIR]" >&2; exit 2 ;;
  esac
done
umask 022

version=$(sed -n 's/^project(Orvane VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
released=$(sed -n 's/^set(ORVANE_RELEASE_DATE \([0-9-]*\))/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)

if [ -z "$build" ]; then
  "$src/tools/deps.sh"
  build="$src/build-deb"
  # Debian's flags: hardening (fortified functions, stack protector, full
  # RELRO, PIE) and the source path mapped out of the debug information.
  eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
  CXXFLAGS="$CXXFLAGS $CPPFLAGS" CFLAGS="$CFLAGS $CPPFLAGS" \
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DORVANE_TESTS=OFF -DORVANE_BENCH=OFF >/dev/null
  cmake --build "$build"
fi

# The package's files under $work/debian/orvane, as dpkg-gencontrol and
# dpkg-shlibdeps expect them.
work="$build/deb"
stage="$work/debian/orvane"
rm -rf "$work"
mkdir -p "$work/debian"
cp "$src/tools/debian/control" "$work/debian/control"
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >/dev/null
# What the compiler notes about itself is of no use in the package.
strip --remove-section=.comment --remove-section=.note "$stage/usr/bin/orvane" \
  "$stage/usr/bin/orvane-cli"

doc="$stage/usr/share/doc/orvane"
mkdir -p "$doc"
cp "$src/tools/debian/copyright" "$doc/copyright"
cat >"$work/debian/changelog" <<CHANGELOG
orvane ($version) unstable; urgency=medium

  * Orvane $version, packaged from the project's own tree.

 -- $(sed -n 's/^Maintainer: //p' "$src/tools/debian/control")  $(date -R -u -d "$released")
CHANGELOG
# A native package: its changelog is changelog.gz.
gzip -9n -c "$work/debian/changelog" >"$doc/changelog.gz"

cd "$work"
# dpkg-shlibdeps finds the package's root by its DEBIAN directory.
mkdir -p "$stage/DEBIAN"
dpkg-shlibdeps -Tdebian/substvars debian/orvane/usr/bin/orvane debian/orvane/usr/bin/orvane-cli
# Nothing of debhelper's adds to it here.
echo "misc:Depends=" >>debian/substvars
dpkg-gencontrol -porvane -Pdebian/orvane -Tdebian/substvars
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"
deb="$out/orvane_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
# Errors fail the build; the warnings kept are listed in the README.
lintian --fail-on error "$deb" >&2
echo "$deb"
