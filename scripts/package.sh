#!/usr/bin/env bash
# Builds the Debian package build/plimo_<version>_<arch>.deb from its own
# build tree, build-deb, configured for /usr with Debian's hardening flags.
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2

# The same sources give the same package: time stamps come from the last commit.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(dpkg-buildflags --export=sh)"
# CMake does not read CPPFLAGS (_FORTIFY_SOURCE lives there).
export CFLAGS="$CPPFLAGS $CFLAGS" CXXFLAGS="$CPPFLAGS $CXXFLAGS"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DPLIMO_TESTS=OFF >&2
cmake --build build-deb -j"$jobs" >&2
rm -f build-deb/plimo_*.deb
(cd build-deb && cpack -G DEB) >&2

debs=(build-deb/plimo_*.deb)
mkdir -p build
mv -f "${debs[0]}" build/
echo "build/$(basename "${debs[0]}")"
