#!/usr/bin/env bash
# Installs with apt-get (through sudo when not root) whatever the machine lacks of a group of
# packages, and any extra packages named.
# Usage: scripts/deps.sh [--build | --package] [extra package...]
#   --build    what building and running the programs needs, nothing more (scripts/run.sh)
#   --package  that, and what making the Debian package needs (scripts/package.sh)
#   (neither)  all of it, and the tools of the tests and of the package's checks (scripts/test.sh)
set -euo pipefail

build=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-translations-l10n
  qt6-tools-dev qt6-l10n-tools help2man
  fonts-arphic-uming fonts-wqy-microhei
  libtag1-dev
)
package=(dpkg-dev file binutils)
tests=(
  libgtest-dev libgmock-dev
  ffmpeg python3-mutagen xfsprogs btrfs-progs exfatprogs exfat-fuse
  id3v2 strace
  clang libclang-rt-14-dev
  lintian appstream desktop-file-utils nsis
)

case "${1:-}" in
  --build) shift; packages=("${build[@]}") ;;
  --package) shift; packages=("${build[@]}" "${package[@]}") ;;
  *) packages=("${build[@]}" "${package[@]}" "${tests[@]}") ;;
esac
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "scripts/deps.sh: installing takes root: run this as root, or install sudo." >&2
      exit 1
    fi
    sudo=(sudo)
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
