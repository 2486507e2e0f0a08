#!/usr/bin/env bash
# Checks a package made by scripts/package.sh as a user would meet it.
# - A Debian package: lintian finds no error; the AppStream metadata and the desktop entry inside
#   it pass appstreamcli validate and desktop-file-validate; it installs with apt-get (as root;
#   otherwise it is unpacked into a throw-away root), velomi-tag --version prints the version and
#   the window starts on the offscreen platform and keeps running; then it is removed again.
# - A Windows installer (--windows), under wine: it installs silently into a folder of its own
#   (/S /D=...), velomi-tag.exe --version runs from there, and the uninstaller takes it away.
# Each check whose tool cannot be had is skipped with a line that says why. The window and the
# programs run with a home of their own, so that no journal or setting of the user's is touched.
# Usage: scripts/check-package.sh DEB VERSION
#        scripts/check-package.sh --windows SETUP.EXE VERSION
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-package: $*" >&2; exit 1; }
have() { command -v "$1" >/dev/null; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export HOME=$scratch/home XDG_STATE_HOME=$scratch/home/.local/state
export XDG_CONFIG_HOME=$scratch/home/.config XDG_RUNTIME_DIR=$scratch/run DEBCONF_NOWARNINGS=yes
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# The window, started from PROGRAM on the offscreen platform, is still up after a few seconds.
window_starts() {
  local rc=0
  QT_QPA_PLATFORM=offscreen timeout 5 "$@" >"$scratch/window.log" 2>&1 || rc=$?
  [ "$rc" -eq 124 ] || { cat "$scratch/window.log" >&2; fail "the window ended at once ($rc): $*"; }
  echo "window: started offscreen, still running after 5 s"
}

if [ "${1:-}" = --windows ]; then
  setup=$2 version=$3
  have wine || { echo "Installer check skipped: no wine here."; exit 0; }
  export WINEPREFIX=$scratch/wine WINEDEBUG=-all
  wine "$(realpath "$setup")" /S '/D=C:\velomi-check' >/dev/null 2>&1
  wineserver -w
  folder=$WINEPREFIX/drive_c/velomi-check
  [ -f "$folder/velomi.exe" ] && [ -f "$folder/uninstall.exe" ] || fail "$setup installed nothing"
  menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
  [ -f "$menu/VelomiMP3批量更名.lnk" ] || fail "no Start-menu entry in $menu"
  out=$(wine "$folder/velomi-tag.exe" --version 2>/dev/null | tr -d '\r')
  [ "$out" = "velomi-tag $version" ] || fail "velomi-tag.exe --version printed \"$out\""
  echo "installed silently, with a Start-menu entry: velomi-tag.exe --version: $out"
  wine "$folder/uninstall.exe" /S >/dev/null 2>&1
  wineserver -w
  [ ! -e "$folder" ] || fail "the uninstaller left $(find "$folder" | head -3)"
  [ ! -e "$menu/VelomiMP3批量更名.lnk" ] || fail "the uninstaller left the Start-menu entry"
  echo "uninstalled: its folder and its Start-menu entry are gone"
  wineserver -k 2>/dev/null || true
  exit 0
fi

deb=$(realpath "$1") version=$2
dpkg-deb -x "$deb" "$scratch/root"

if have lintian; then
  # Run as root, lintian says that it is: that line is no finding.
  rc=0
  lintian --fail-on error --display-info "$deb" >"$scratch/lintian.log" 2>&1 || rc=$?
  grep -v 'running with root privileges' "$scratch/lintian.log" || true
  [ "$rc" -eq 0 ] || fail "lintian found errors in $deb"
  echo "lintian: no error"
else
  echo "lintian skipped: lintian is not installed (scripts/deps.sh installs it)."
fi
metainfo=$(find "$scratch/root/usr/share/metainfo" -name '*.metainfo.xml')
desktop=$(find "$scratch/root/usr/share/applications" -name '*.desktop')
if have appstreamcli; then
  appstreamcli validate --no-net "$metainfo"
else
  echo "appstreamcli validate skipped: appstream is not installed."
fi
if have desktop-file-validate; then
  desktop-file-validate "$desktop" && echo "desktop-file-validate: $(basename "$desktop") passes"
else
  echo "desktop-file-validate skipped: desktop-file-utils is not installed."
fi

installed=no
if dpkg-query -W -f='${Status}' velomi 2>/dev/null | grep -q 'install ok installed'; then
  installed=yes
fi
if [ "$(id -u)" -eq 0 ] && have apt-get && [ "$installed" = no ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
  trap 'DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velomi >/dev/null; rm -rf "$scratch"' EXIT
  bin=/usr/bin
  echo "installed with apt-get: $(dpkg-query -W -f='${Package} ${Version}' velomi)"
else
  if [ "$installed" = yes ]; then
    echo "Not installed into the machine, which has velomi installed already (the check would" \
      "remove it): run from a throw-away root."
  else
    echo "Not installed into the machine (that takes root and apt-get): run from a throw-away root."
  fi
  bin=$scratch/root/usr/bin
fi
out=$("$bin/velomi-tag" --version)
[ "$out" = "velomi-tag $version" ] || fail "velomi-tag --version printed \"$out\""
echo "velomi-tag --version: $out"
window_starts "$bin/velomi"
if [ "$bin" = /usr/bin ]; then
  DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velomi >/dev/null
  trap 'rm -rf "$scratch"' EXIT
  [ ! -e /usr/bin/velomi ] || fail "/usr/bin/velomi is still there after the removal"
  echo "removed again"
fi
