#!/usr/bin/env bash
# Installs what is missing, builds everything twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds; makes the Debian package of the
# plain build and checks it (scripts/check-package.sh); builds the fuzz targets with clang and runs
# each for a few seconds; then, where the Qt SDK for Windows is at hand (scripts/windows-sdk.sh),
# builds for Windows, runs those tests under wine, and makes the installer and installs it under
# wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

export QT_QPA_PLATFORM=offscreen
export CTEST_OUTPUT_ON_FAILURE=1
jobs=$(nproc)

echo "== Build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELOMI_BUILD_TESTS=ON -DVELOMI_BUILD_UI=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --timeout 300
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)

echo "== The Debian package: made from this build, checked, installed, started and removed"
start=$SECONDS
deb=$(scripts/package.sh --build build --no-windows)
scripts/check-package.sh "$deb" "$version"
echo "(the package and its checks: $((SECONDS - start)) s)"

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELOMI_SANITIZE=ON -DVELOMI_BUILD_TESTS=ON -DVELOMI_BUILD_UI=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j "$jobs" --timeout 600

echo "== Build the fuzz targets with clang and run each for a few seconds"
# fuzz/CMakeLists.txt: libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer. Each target
# starts from the test files and the kept reproducers; what it finds new goes into a folder that is
# thrown away, so that the repository stays as it was.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELOMI_BUILD_FUZZ=ON \
  -DVELOMI_BUILD_TESTS=OFF -DVELOMI_BUILD_UI=OFF
cmake --build build-fuzz -j "$jobs"
corpus=$(mktemp -d)
for fuzzer in fuzz_wma_read fuzz_wma_save fuzz_id3v2; do
  dict=()
  case $fuzzer in fuzz_wma_*) dict=(-dict=fuzz/wma.dict) ;; esac
  mkdir -p "$corpus/$fuzzer"
  build-fuzz/fuzz/$fuzzer "${dict[@]}" -max_total_time=5 -print_final_stats=0 \
    "$corpus/$fuzzer" tests/data fuzz/reproducers 2>"$corpus/$fuzzer.log" ||
    { tail -40 "$corpus/$fuzzer.log"; echo "$fuzzer failed (its input: see above)"; exit 1; }
  echo "$fuzzer: 5 s, $(ls "$corpus/$fuzzer" | wc -l) new inputs, no failure"
done
rm -rf "$corpus"

echo "== Build for Windows and test under wine"
# Everything built for Windows with the Qt SDK for mingw-w64 and a static TagLib of its own
# (scripts/windows-taglib.sh, made once), and the tag, platform, core, velomi-tag and window tests
# run under wine (the window's on the offscreen platform).
if sdk=$(scripts/windows-sdk.sh --check); then
  ui=ON
  if ! taglib=$(scripts/windows-taglib.sh); then
    echo "No TagLib for Windows (see above): only the tag code and the platform are built for Windows, with their tests (the core needs the ID3v2 code)."
    taglib=
    ui=OFF
  fi
  cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$sdk/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw64.cmake" \
    -DVELOMI_TAGLIB_ROOT="$taglib" -DVELOMI_BUILD_TESTS=ON -DVELOMI_BUILD_UI=$ui
  cmake --build build-win -j "$jobs"
  export WINEPREFIX="${XDG_CACHE_HOME:-$HOME/.cache}/velomi/wine"
  ctest --test-dir build-win -j "$jobs" --timeout 300
  wineserver -k 2>/dev/null || true
  echo "== The Windows installer: made from this build, installed and removed under wine"
  if [ "$ui" = ON ]; then
    start=$SECONDS
    setup=$(scripts/package.sh --no-deb --windows-build build-win | tail -n 1)
    ls -l "$setup"
    scripts/check-package.sh --windows "$setup" "$version"
    echo "(the installer and its checks: $((SECONDS - start)) s)"
  else
    echo "Windows installer skipped: this Windows build has no programs (no TagLib for Windows)."
  fi
else
  echo "Windows build skipped: no Qt SDK for mingw-w64 here. Get it with scripts/windows-sdk.sh (it unpacks ../shared/windows/qt-6.4.2-mingw-w64.tar.xz, or builds it from Debian's qt6-base source in about 30 minutes)."
  echo "Windows installer skipped too: it is made from that build."
fi
