#!/usr/bin/env bash
# Installs what is missing (the build's packages, TagLib, ffmpeg), builds the benchmark suite in
# Release in build-bench/ and runs it: prints the machine, the date and one table. Arguments go to
# the suite (velomi_bench --help). Not part of the tests; CI does not run it.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh libtag1-dev ffmpeg

log=$(mktemp)
runtime=$(mktemp -d)  # the window item's Qt wants a private runtime folder
trap 'rm -rf "$log" "$runtime"' EXIT
if ! { cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DVELOMI_BUILD_BENCH=ON -DVELOMI_BUILD_TESTS=OFF &&
       cmake --build build-bench -j "$(nproc)"; } >"$log" 2>&1; then
  cat "$log"
  exit 1
fi

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$runtime}
tmp=${TMPDIR:-/tmp}
echo "Date:       $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "CPU:        $(nproc) x $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "Kernel:     $(uname -r)"
echo "Memory:     $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
echo "Folder:     $tmp ($(df -T "$tmp" | awk 'NR==2 {print $2}'))"
echo "Load:       $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min, before the run)"
echo
build-bench/bench/velomi_bench --tmp "$tmp" "$@"
