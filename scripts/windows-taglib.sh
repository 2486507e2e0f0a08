#!/usr/bin/env bash
# Makes TagLib (the ID3v2 codec of the tag code) ready for the Windows build and prints its folder:
# a static library cross-built with mingw-w64 from Debian's own taglib source package (with zlib,
# as Debian's own TagLib has it, for compressed ID3v2 frames), once, into the cache folder beside
# the Qt SDK of scripts/windows-sdk.sh, ${XDG_CACHE_HOME:-~/.cache}/velomi/. About 3 minutes on 2
# cores. Installs, as root with apt-get, what it needs, and a deb-src entry when there is none.
#
# Usage: scripts/windows-taglib.sh          prints TagLib's folder (building it first when needed)
#        scripts/windows-taglib.sh --check  prints it only when it is ready; exits 1, printing
#                                           nothing, otherwise
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/velomi
version=1.13
prefix=$cache/taglib-$version-mingw-w64

ready() { [ -f "$prefix/lib/libtag.a" ] && [ -f "$prefix/include/taglib/id3v2tag.h" ]; }

if [ "${1:-}" = --check ]; then
  ready || exit 1
  echo "$prefix"
  exit 0
fi

if ! ready; then
  "$here/scripts/deps.sh" g++-mingw-w64-x86-64-posix libz-mingw-w64-dev libutfcpp-dev dpkg-dev \
    cmake ninja-build >&2
  echo "Building TagLib $version for mingw-w64 from Debian's taglib source into $prefix" >&2
  work=$cache/taglib-build
  rm -rf "$work" && mkdir -p "$work" && cd "$work"
  # The source package needs a deb-src entry; add one beside the system's own list if there is none.
  if ! apt-get source --print-uris taglib >/dev/null 2>&1; then
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/debian-src.sources
    apt-get update -qq
  fi
  # Unpacked with Debian's patches applied; one of them takes UTF-8 handling from Debian's utf8cpp
  # (headers only, the same for every target) instead of TagLib's own copy.
  apt-get source taglib >&2
  source=$(find . -maxdepth 1 -type d -name "taglib-$version*" | head -n1)
  [ -n "$source" ] || { echo "No taglib-$version source came with apt-get source" >&2; exit 1; }
  rm -rf "$prefix.partial"
  cmake -S "$source" -B build -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw64.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTING=OFF -DBUILD_EXAMPLES=OFF -DBUILD_BINDINGS=OFF \
    -DWITH_ZLIB=ON -DZLIB_INCLUDE_DIR=/usr/x86_64-w64-mingw32/include \
    -DZLIB_LIBRARY=/usr/x86_64-w64-mingw32/lib/libz.a \
    -DCMAKE_CXX_FLAGS="-isystem /usr/include/utf8cpp" >&2
  cmake --build build --parallel >&2
  cmake --install build --prefix "$prefix.partial" >&2
  rm -rf "$prefix" && mv "$prefix.partial" "$prefix"
  cd "$cache" && rm -rf "$work"
fi
ready || { echo "TagLib in $prefix is incomplete" >&2; exit 1; }
echo "$prefix"
