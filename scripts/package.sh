#!/usr/bin/env bash
# Makes the packages into dist/, installing what it needs that the machine lacks:
# - the Debian 12 package, dist/velomi_<version>_amd64.deb (CPack, cmake/Packaging.cmake), built
#   with Debian's hardening flags in build-package/;
# - where the Qt SDK for mingw-w64 is at hand (scripts/windows-sdk.sh --check), the portable zip
#   (scripts/build-windows.sh) and beside it the installer, dist/velomi-<version>-setup.exe (NSIS).
# The version is the project's in CMakeLists.txt.
#
# Usage: scripts/package.sh [--build DIR] [--windows-build DIR] [--no-windows | --no-deb]
#   --build DIR          package the Linux build in DIR (configured and built already) instead
#   --windows-build DIR  gather the Windows programs from the cross build in DIR (configured
#                        already) instead
#   --no-windows         the Debian package only
#   --no-deb             the Windows installer and zip only
# Prints the path of each package made, one a line, on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."

build=
windows_build=
windows=yes
deb=yes
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --windows-build) windows_build=$2; shift 2 ;;
    --no-windows) windows=no; shift ;;
    --no-deb) deb=no; shift ;;
    *) echo "usage: scripts/package.sh [--build DIR] [--windows-build DIR] [--no-windows | --no-deb]" >&2
       exit 2 ;;
  esac
done

scripts/deps.sh --package >&2
mkdir -p dist

# The Debian package.
if [ "$deb" = yes ] && [ -z "$build" ]; then
  build=build-package
  # As Debian's own packages are built: its compiler and linker flags (hardening), no others.
  CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
  LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DVELOMI_BUILD_TESTS=OFF >&2
  nice cmake --build "$build" -j "$(nproc)" >&2
fi
# The version, as the project in CMakeLists.txt gives it.
version=$(sed -n 's/^project(VelomiMP3 VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
if [ "$deb" = yes ]; then
  package=velomi_${version}_$(dpkg --print-architecture).deb
  rm -rf "$build/cpack"
  (cd "$build" && cpack -G DEB) >&2
  cp "$build/cpack/$package" dist/
  echo "dist/$package"
fi

# The Windows installer, beside the portable zip.
if [ "$windows" = no ]; then
  exit 0
fi
if ! scripts/windows-sdk.sh --check >/dev/null; then
  echo "Windows installer skipped: no Qt SDK for mingw-w64 here (scripts/windows-sdk.sh makes it)." >&2
  exit 0
fi
# TagLib for Windows: built once (about 3 minutes) from Debian's source package.
if ! scripts/windows-taglib.sh >/dev/null; then
  echo "Windows installer skipped: no TagLib for Windows (see above), which the programs need." >&2
  exit 0
fi
scripts/deps.sh --package nsis >&2
zip=$(scripts/build-windows.sh ${windows_build:+"$windows_build"})
echo "$zip"
windows_build=${windows_build:-build-win-release}
setup=dist/velomi-${version}-setup.exe
makensis -V2 -INPUTCHARSET UTF8 -DSOURCE="$PWD/dist/velomi-windows-x64" -DOUTFILE="$PWD/$setup" \
  "$windows_build/velomi.nsi" >&2
echo "$setup"
