#!/usr/bin/env bash
# Makes the README's pictures of the main window at work (docs/screenshots/backup-page-filled,
# progress-running, progress-result, page-quick, page-backup, page-manage, page-settings .png):
#   bash tests/app/shots/road_shots.sh          # BUILD_DIR=build unless set
# The program sets up the road tests' scene and saves each picture itself. Only it and the
# programs that ship are built first.
set -eu
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
. "$root/tools/wine-env.sh"
BUILD_DIR=$build bash "$root/tools/build.sh" --programs road_shots
build=$(zul_run_build "$build")
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
zul_prepare_prefix "$WINEPREFIX"
out=$root/docs/screenshots
mkdir -p "$out"
winout="Z:$(echo "$out" | tr / \\\\)"
# The program reads its own folder's resources: start it there. No window manager runs on the
# Xvfb screen: Wine handles the program's windows itself. Both Wine calls share the screen (a
# server started without one would leave the program no desktop).
cd "$build/bin"
export ZUL_WINE winout
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  timeout -k 5 60 "$ZUL_WINE" reg add "HKCU\Software\Wine\AppDefaults\road_shots.exe\X11 Driver" \
    /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  timeout -k 5 300 "$ZUL_WINE" ./road_shots.exe "$winout"' \
  || { echo "road_shots: failed ($?)" >&2; exit 1; }
ls "$out"/backup-page-filled.png "$out"/progress-*.png "$out"/page-*.png
