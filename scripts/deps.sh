#!/usr/bin/env bash
# Installs, as root with apt-get, whatever the build and the tests need that the machine lacks.
# Usage: scripts/deps.sh [extra package...]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-translations-l10n
  qt6-tools-dev qt6-l10n-tools help2man
  fonts-arphic-uming fonts-wqy-microhei
  ffmpeg python3-mutagen xfsprogs btrfs-progs exfatprogs exfat-fuse
  libtag1-dev id3v2 strace
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
