#!/usr/bin/env bash
# Builds a release build in build-package/ and from it the Debian package
# build/dosemanager_<version>_amd64.deb, whose path it prints last.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/install-deps.sh"

builddir="$here/build-package"
# Debian's hardening flags, as a Debian build uses them (without -g: the
# programs are stripped anyway).
export DEB_CXXFLAGS_MAINT_STRIP="-g"
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
export CXXFLAGS LDFLAGS
cmake -S "$here" -B "$builddir" -DCMAKE_BUILD_TYPE=Release -DDOSE_TESTS=OFF -DDOSE_BENCH=OFF
cmake --build "$builddir" -j2

rm -rf "$builddir/package"
(cd "$builddir" && cpack -G DEB -B "$builddir/package")
mkdir -p "$here/build"
debs=("$builddir"/package/dosemanager_*_amd64.deb)
deb="$here/build/$(basename "${debs[0]}")"
mv "${debs[0]}" "$deb"
echo "$deb"
