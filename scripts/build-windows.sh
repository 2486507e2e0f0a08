#!/usr/bin/env bash
# Cross-builds the Windows programs (velomi.exe and velomi-tag.exe, Release) on Debian and gathers
# them with what they need to run into dist/velomi-windows-x64/ and dist/velomi-windows-x64.zip:
# the Qt DLLs, the windows platform plugin and the Windows style, the compiler's runtime DLLs,
# Qt's Chinese translations and a qt.conf that points Qt at them. TagLib (the ID3v2 code) is
# linked in statically.
# Usage: scripts/build-windows.sh [BUILD]
#   BUILD  a cross build already configured (the test command's build-win): its two programs are
#          built and gathered, its configuration left as it is; else build-win-release, Release
set -euo pipefail
cd "$(dirname "$0")/.."

sdk=$(scripts/windows-sdk.sh)
if ! taglib=$(scripts/windows-taglib.sh); then
  echo "scripts/build-windows.sh: no TagLib for Windows (see above); the programs need it for" \
    "the ID3v2 tag." >&2
  exit 1
fi
scripts/deps.sh zip qt6-translations-l10n qt6-l10n-tools >&2

build=${1:-}
if [ -z "$build" ]; then
  build=build-win-release
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw64.cmake" \
    -DVELOMI_TAGLIB_ROOT="$taglib" -DVELOMI_BUILD_TESTS=OFF -DVELOMI_BUILD_UI=ON >&2
fi
cmake --build "$build" -j "$(nproc)" --target velomi-tag velomi >&2

dist=dist/velomi-windows-x64
rm -rf "$dist" "$dist.zip"
mkdir -p "$dist/platforms" "$dist/styles" "$dist/translations"
cp "$build/src/ui/velomi.exe" "$build/src/cli/velomi-tag.exe" "$dist/"
x86_64-w64-mingw32-strip --strip-unneeded "$dist/velomi.exe" "$dist/velomi-tag.exe"
cp "$sdk/bin/Qt6Core.dll" "$sdk/bin/Qt6Gui.dll" "$sdk/bin/Qt6Widgets.dll" "$dist/"
cp "$sdk/plugins/platforms/qwindows.dll" "$dist/platforms/"
cp "$sdk/plugins/styles/qwindowsvistastyle.dll" "$dist/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  cp "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")" "$dist/"
  x86_64-w64-mingw32-strip --strip-unneeded "$dist/$dll"  # Debian ships them with symbols
done
# Qt's own messages in Chinese (the standard buttons read 是 / 否 / 确定); velomi-tag's are
# inside the program.
cp /usr/share/qt6/translations/qtbase_zh_CN.qm "$dist/translations/"
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\nTranslations = translations\r\n' > "$dist/qt.conf"

(cd dist && zip -qr9 velomi-windows-x64.zip velomi-windows-x64)
echo "$dist.zip"
