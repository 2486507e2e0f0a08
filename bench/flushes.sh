#!/usr/bin/env bash
# What an in-place WMA save costs through velomi-tag: the flushes it makes (counted with strace)
# and its time, for this tree against an earlier revision built beside it. Two cases: one save of
# one file, and one `set` of 100 files; every file was saved once before, so that its header has
# room and each save below writes the header in place. The two sides run in turns, 15 rounds, each
# with a state folder of its own; the table gives medians and the ratio of ours to the baseline's.
#
# Usage: bench/flushes.sh [BASE_REVISION] (default: the commit before the journal's owners and
# roll-forward). Needs strace (installed when missing). Not part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-0396ce4}
rounds=15

scripts/deps.sh strace >/dev/null
work=$(mktemp -d)
trap 'git worktree remove --force "$work/base" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

build() {  # build() SOURCE BUILD: a Release velomi-tag
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELOMI_BUILD_TESTS=OFF >/dev/null
  cmake --build "$2" --target velomi-tag -j "$(nproc)" >/dev/null
}
build . build-flushes
git worktree add --detach "$work/base" "$base" >/dev/null 2>&1
build "$work/base" "$work/base-build"
ours=build-flushes/src/cli/velomi-tag
theirs=$work/base-build/src/cli/velomi-tag

# Each side's corpus and journal: one file, and 100 files, each saved once.
for side in ours theirs; do
  mkdir -p "$work/$side/one" "$work/$side/many" "$work/$side/state"
  cp tests/data/wma_ascii.wma "$work/$side/one/song.wma"
  for i in $(seq -w 1 100); do cp tests/data/wma_ascii.wma "$work/$side/many/$i.wma"; done
done
run() {  # run() SIDE TITLE FILES...: one velomi-tag set, quiet
  local side=$1 title=$2
  shift 2
  local tag=$ours
  [ "$side" = theirs ] && tag=$theirs
  XDG_STATE_HOME=$work/$side/state "$tag" set --title "$title" "$@" >/dev/null
}
for side in ours theirs; do
  run "$side" "Made room" "$work/$side/one/song.wma"
  run "$side" "Made room" "$work/$side/many/"*.wma
done

flushes() {  # flushes() SIDE FILES...: the flush calls of one set, as "N fsync/fdatasync, M syncfs"
  local side=$1
  shift
  local tag=$ours
  [ "$side" = theirs ] && tag=$theirs
  XDG_STATE_HOME=$work/$side/state strace -f -c -o "$work/strace" \
    -e trace=fsync,fdatasync,syncfs "$tag" set --title "Counted" "$@" >/dev/null
  awk '$NF == "fsync" || $NF == "fdatasync" {f += $4} $NF == "syncfs" {s += $4}
       END {printf "%d fsync/fdatasync, %d syncfs", f, s}' "$work/strace"
}

median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
ms() { date +%s%N; }
declare -A times
for case in one many; do
  for round in $(seq 1 $rounds); do
    # The side that goes first changes each round; the title keeps its length so that every save
    # stays in place.
    order="ours theirs"
    [ $((round % 2)) -eq 0 ] && order="theirs ours"
    for side in $order; do
      files=("$work/$side/$case/"*.wma)
      start=$(ms)
      run "$side" "Round $((round % 10))" "${files[@]}"
      times[$side.$case]+="$(( ($(ms) - start) / 1000 )) "
    done
  done
done

echo "Date:       $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Folder:     $work ($(df -T "$work" | awk 'NR==2 {print $2}'))"
echo "Baseline:   $base ($(git log -1 --format=%s "$base" | cut -c1-60)...)"
echo
printf '| %-34s | %-28s | %12s | %s |\n' "case" "flushes" "median (µs)" "ours ÷ baseline"
printf '|%s|%s|%s|%s|\n' "------------------------------------" "------------------------------" \
  "--------------" "----------------"
for case in one many; do
  label="one file"
  [ "$case" = many ] && label="100 files in one set"
  o=$(echo "${times[ours.$case]}" | tr ' ' '\n' | grep . | median)
  t=$(echo "${times[theirs.$case]}" | tr ' ' '\n' | grep . | median)
  files=("$work/ours/$case/"*.wma)
  fo=$(flushes ours "${files[@]}")
  files=("$work/theirs/$case/"*.wma)
  ft=$(flushes theirs "${files[@]}")
  printf '| %-34s | %-28s | %12s | %s |\n' "$label, this tree" "$fo" "$o" \
    "$(awk -v a="$o" -v b="$t" 'BEGIN {printf "%.2f", a / b}')"
  printf '| %-34s | %-28s | %12s | %s |\n' "$label, baseline" "$ft" "$t" ""
done
