#!/usr/bin/env bash
# Makes the Qt 6 SDK for 64-bit Windows (mingw-w64) ready for the Windows build and prints its path.
#
# The SDK goes into a cache folder outside the repository, ${XDG_CACHE_HOME:-~/.cache}/velomi/, once.
# It is unpacked from ../shared/windows/qt-6.4.2-mingw-w64.tar.xz (beside the repository) when that
# archive is there; elsewhere it is built from Debian's own qt6-base source (about 30 minutes on 2
# cores; Core, Gui, Widgets, Test and the windows, offscreen and minimal platform plugins).
# Installs, as root with apt-get, the cross compiler, wine and the host's Qt tools it needs.
#
# Usage: scripts/windows-sdk.sh          prints the SDK's folder (making it first when needed)
#        scripts/windows-sdk.sh --check  prints it only when it is ready or can be unpacked at once;
#                                        exits 1, printing nothing, otherwise
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
version=6.4.2
name=qt-$version-mingw-w64
cache=${XDG_CACHE_HOME:-$HOME/.cache}/velomi
sdk=$cache/$name
archive=$here/../shared/windows/$name.tar.xz

ready() { [ -f "$sdk/lib/cmake/Qt6/qt.toolchain.cmake" ] && [ -f "$sdk/bin/Qt6Core.dll" ]; }

if [ "${1:-}" = --check ]; then
  if ready || [ -f "$archive" ]; then :; else exit 1; fi
fi

# The cross compiler, wine, the host's Qt tools (moc, rcc, uic, lrelease) and GoogleTest's source.
"$here/scripts/deps.sh" g++-mingw-w64-x86-64-posix wine64 wine qt6-base-dev-tools xz-utils >&2

if ! ready; then
  mkdir -p "$cache"
  if [ -f "$archive" ]; then
    echo "Unpacking $archive into $cache" >&2
    rm -rf "$sdk.partial" && mkdir -p "$sdk.partial"
    tar -xJf "$archive" -C "$sdk.partial"
    rm -rf "$sdk" && mv "$sdk.partial/$name" "$sdk" && rmdir "$sdk.partial"
  else
    echo "No $archive: building the Qt $version SDK for mingw-w64 (about 30 minutes)" >&2
    work=$cache/qt-build
    "$here/scripts/deps.sh" dpkg-dev >&2
    mkdir -p "$work" && cd "$work"
    # The source package needs a deb-src entry; add one beside the system's own list if there is none.
    if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
      sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
        > /etc/apt/sources.list.d/debian-src.sources
      apt-get update -qq
    fi
    [ -f qt6-base_$version+dfsg.orig.tar.xz ] || apt-get source --download-only qt6-base >&2
    [ -d qtbase-everywhere-src-$version ] || tar -xf qt6-base_$version+dfsg.orig.tar.xz
    rm -rf build-qt && mkdir build-qt && cd build-qt
    # Debian's source leaves out src/3rdparty/wintab, so tablet events are off. direct2d stays at its
    # default: without it the windows platform plugin does not link in 6.4.2.
    ../qtbase-everywhere-src-$version/configure -xplatform win32-g++ -qt-host-path /usr \
      -prefix "$sdk.partial" -release \
      -nomake examples -nomake tests -no-dbus -no-icu -no-opengl \
      -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent \
      -no-feature-xml -no-feature-tabletevent -no-libjpeg -qt-zlib -qt-pcre -qt-harfbuzz \
      -qt-freetype -qt-libpng -qt-doubleconversion \
      -- -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw64.cmake" \
      -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >&2
    cmake --build . --parallel >&2
    cmake --install . >&2
    find "$sdk.partial" -name '*.dll' -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
    rm -rf "$sdk" && mv "$sdk.partial" "$sdk"
    cd "$cache" && rm -rf "$work"
  fi
fi
ready || { echo "The SDK in $sdk is incomplete" >&2; exit 1; }
# What qtbase lacks for the programs and their tests: Qt's Chinese messages (qttranslations is a
# module of its own; Debian's are the same files for every system), and the fonts that the
# offscreen platform of the window's tests draws with (those in its lib/fonts): the ones the
# window's captions are measured in on Linux.
if [ ! -f "$sdk/translations/qtbase_zh_CN.qm" ] || [ ! -e "$sdk/lib/fonts/uming.ttc" ]; then
  "$here/scripts/deps.sh" qt6-translations-l10n fonts-arphic-uming fonts-wqy-microhei \
    fonts-dejavu-core >&2
  mkdir -p "$sdk/translations" "$sdk/lib/fonts"
  cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$sdk/translations/"
  ln -sf /usr/share/fonts/truetype/arphic/uming.ttc /usr/share/fonts/truetype/wqy/wqy-microhei.ttc \
    /usr/share/fonts/truetype/dejavu/*.ttf "$sdk/lib/fonts/"
fi
echo "$sdk"
