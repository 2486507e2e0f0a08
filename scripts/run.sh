#!/usr/bin/env bash
# Installs what building and running the program need and the machine lacks (through sudo when
# not root), builds the program and starts its window, both as the calling user: the user who ran
# it, also when that was through sudo, so that the build, the settings and the journal of changes
# are that user's and not root's.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh --build

as_user=()
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  # sudo resets the environment: hand the user's desktop session back to the window.
  as_user=(sudo -u "$SUDO_USER" -H env)
  for v in DISPLAY WAYLAND_DISPLAY XAUTHORITY XDG_RUNTIME_DIR DBUS_SESSION_BUS_ADDRESS \
    XDG_SESSION_TYPE QT_QPA_PLATFORM LANG LC_ALL; do
    if [ -n "${!v:-}" ]; then as_user+=("$v=${!v}"); fi
  done
  # A build folder left by an earlier run as root would not be writable by the user.
  if [ -d build ] && [ "$(stat -c %U build)" != "$SUDO_USER" ]; then
    chown -R "$SUDO_USER": build
  fi
fi

"${as_user[@]}" cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELOMI_BUILD_TESTS=OFF
"${as_user[@]}" cmake --build build -j "$(nproc)"
exec "${as_user[@]}" build/src/ui/velomi
