#!/usr/bin/env bash
# Sets up, builds and starts the main program under Wine (needs a display; uses Xvfb when there is none).
# It builds only the programs that ship, in the build they run from (build/x64 where the tests
# run from the 64-bit build): a test program that does not build cannot keep the program from
# starting. The test command (tools/test.sh) builds everything.
#   ZUL_RUN_SECONDS   the program is ended after this many seconds (default 3600)
#   ZUL_BUILD_JOBS    parallel build jobs (default: the number of processors; see tools/build.sh)
# On a virtual display nothing shows the program; once it is up, this prints the command that
# saves a picture of it (tools/zulshot.cpp, run in the same Wine prefix on the same display).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" --programs
build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
. "$root/tools/wine-env.sh"
build=$(zul_run_build "$build")
export WINEPREFIX=$build/wineprefix
zul_prepare_prefix "$WINEPREFIX"
seconds=${ZUL_RUN_SECONDS:-3600}
cd "$build/bin"
if [ -n "${DISPLAY:-}" ]; then
  exec timeout -k 5 "$seconds" "$ZUL_WINE" "KVR ZUL.exe"
fi

# The capture program, as tools/screenshot.sh builds it (the message below names it).
shot=$build/tools/zulshot.exe
if [ ! -f "$shot" ] || [ "$root/tools/zulshot.cpp" -nt "$shot" ]; then
  mkdir -p "$build/tools"
  "$ZUL_ARCH"-w64-mingw32-g++ -O2 -municode -static -o "$shot" "$root/tools/zulshot.cpp" \
    -lgdiplus -lgdi32 -luser32 || rm -f "$shot"
fi
# zul_run_notice PID: once the program (process PID) shows its window, prints that it runs on a
# virtual display and how to see it; nothing when the program has ended by then. Runs inside
# xvfb-run, where DISPLAY and XAUTHORITY name the virtual display.
zul_run_notice() {
  local pid=$1 i
  # Without xwininfo (x11-utils) the window is taken to be up after five seconds.
  for i in $(seq 1 120); do
    kill -0 "$pid" 2>/dev/null || return 0
    if command -v xwininfo >/dev/null; then
      xwininfo -root -tree 2>/dev/null | grep -q '"KVR ZUL"' && break
    elif [ "$i" -ge 10 ]; then
      break
    fi
    sleep 0.5
  done
  kill -0 "$pid" 2>/dev/null || return 0
  echo "run: KVR ZUL runs on the virtual display $DISPLAY (Xvfb); no screen shows it."
  if [ -f "$ZUL_RUN_SHOT" ]; then
    echo "run: to see it, save a picture of it from another shell, then open /tmp/kvr-zul.png:"
    printf '  DISPLAY=%s XAUTHORITY=%q ZUL_ARCH=%s %q %q %s\n' "$DISPLAY" "$XAUTHORITY" "$ZUL_ARCH" \
      "$ZUL_RUN_ROOT/tools/wine-run" "$ZUL_RUN_SHOT" "'Z:\tmp\kvr-zul.png'"
  else
    echo "run: tools/zulshot.cpp, which saves a picture of it, did not build; with a real display (DISPLAY set) it shows there."
  fi
}
export ZUL_WINE ZUL_RUN_ROOT=$root ZUL_RUN_SHOT=$shot
# The function goes into the script as text (xvfb-run is a sh script, which passes no exported
# bash function on). The program replaces the shell (exec) and so keeps its process id, which
# the notice watches.
exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$(declare -f zul_run_notice)"'
  zul_run_notice $$ &
  exec timeout -k 5 "$1" "$ZUL_WINE" "KVR ZUL.exe"
' bash "$seconds"
