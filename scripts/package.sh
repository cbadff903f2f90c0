#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian packages veltrak and veltrak-logger and checks them with
# lintian.
# Usage: scripts/package.sh [BUILD_DIR]
#   BUILD_DIR  an existing CMake build folder to package (it is brought up to
#              date, not rebuilt); without it, build-pkg/ is configured
#              (RelWithDebInfo, no tests) and built.
# The packages land in BUILD_DIR/packages/. Fails on any lintian error or
# warning that packaging/deb/*.lintian-overrides does not explain.
set -euo pipefail
build="${1:-}"
if [ -n "$build" ]; then
    # Taken from where the script is called, before moving to the tree.
    build="$(cd "$build" && pwd)"
fi
cd "$(dirname "$0")/.."

# dpkg-shlibdeps (dpkg-dev) and file find the packages' dependencies;
# help2man writes the manual pages.
scripts/setup.sh dpkg-dev file lintian help2man

if [ -z "$build" ]; then
    build="build-pkg"
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRAK_BUILD_TESTS=OFF >/dev/null
elif [ ! -f "$build/CMakeCache.txt" ]; then
    echo "package.sh: $build is not a CMake build folder" >&2
    exit 2
else
    # Configuring again finds help2man if the folder was set up without it;
    # the cache keeps the folder's own settings.
    cmake "$build" >/dev/null
fi
if ! grep -q '^HELP2MAN:FILEPATH=/' "$build/CMakeCache.txt"; then
    echo "package.sh: no help2man in $build, so no manual pages" >&2
    exit 1
fi
cmake --build "$build" -j2

out="$build/packages"
rm -rf "$out"
mkdir -p "$out"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out/cpack" >/dev/null
mv "$out"/cpack/*.deb "$out"/
rm -rf "$out/cpack"

for deb in "$out"/*.deb; do
    echo "== $deb"
    dpkg-deb --field "$deb" Package Version Depends
done
echo "== lintian"
lintian --display-info --fail-on error,warning "$out"/*.deb
# Shown apart: with --show-overrides, lintian counts overridden tags as failures.
lintian --show-overrides --fail-on none "$out"/*.deb | grep '^O:' || true
echo "packages: $(cd "$out" && echo *.deb)"
