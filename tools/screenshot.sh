#!/usr/bin/env bash
# Starts a program of the build under Wine on a 24-bit Xvfb screen and saves screenshots.
#   tools/screenshot.sh [-o DIR] [-t "0.8 3"] [-a "none about"] [PROGRAM [ARGS...]]
# PROGRAM defaults to the main program; -t lists the seconds after start at which shots
# are taken (shot-1.png, shot-2.png, ... in DIR, default build/screenshots). -a gives one
# action per shot that the capture asks of the running main program first: none, about
# (the About box) or tray (the tray icon's menu). The capture runs inside Wine (GDI+), so it
# sees exactly what the program drew; it covers the program's windows and open menus.
# It builds the programs that ship first, and PROGRAM too when it is a program of the build (the
# start prompt, a shot program), and nothing else.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
base=$build
out=$build/screenshots
times="0.8 3"
actions=""
while getopts "o:t:a:" opt; do
  case $opt in
    o) out=$OPTARG ;;
    t) times=$OPTARG ;;
    a) actions=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
. "$root/tools/wine-env.sh"
build=$(zul_run_build "$build")
prog=${1:-$build/bin/KVR ZUL.exe}
[ $# -gt 0 ] && shift
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
zul_prepare_prefix "$WINEPREFIX"
mkdir -p "$out" "$build/tools"
out=$(cd "$out" && pwd)
case $prog in /*) ;; *) prog=$PWD/$prog ;; esac
extra=()
case $prog in
  "$build/bin/"*.exe)
    name=$(basename "$prog" .exe)
    case $name in "KVR ZUL"|ZULTray) ;; *) extra=("$name") ;; esac ;;
esac
BUILD_DIR=$base bash "$root/tools/build.sh" --programs "${extra[@]}" >&2
shot=$build/tools/zulshot.exe
if [ ! -f "$shot" ] || [ "$root/tools/zulshot.cpp" -nt "$shot" ]; then
  "$ZUL_ARCH"-w64-mingw32-g++ -O2 -municode -static -o "$shot" "$root/tools/zulshot.cpp" -lgdiplus -lgdi32 -luser32
fi
export ZUL_WINE ZUL_SHOT_PROG=$prog ZUL_SHOT_OUT=$out ZUL_SHOT_TIMES=$times ZUL_SHOT_ACTIONS=$actions ZUL_SHOT_EXE=$shot
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  cd "$(dirname "$ZUL_SHOT_PROG")"
  timeout -k 5 180 "$ZUL_WINE" "$ZUL_SHOT_PROG" "$@" >/dev/null 2>&1 &
  pid=$!
  start=$(date +%s.%N)
  n=0
  set -- $ZUL_SHOT_ACTIONS
  for t in $ZUL_SHOT_TIMES; do
    n=$((n + 1))
    action=${1:-none}
    [ $# -gt 0 ] && shift
    now=$(date +%s.%N)
    wait_for=$(awk -v s="$start" -v t="$t" -v n="$now" "BEGIN { d = s + t - n; print (d > 0 ? d : 0) }")
    sleep "$wait_for"
    # The unix root is drive Z: in every prefix.
    winout="Z:$(echo "$ZUL_SHOT_OUT/shot-$n.png" | tr / \\\\)"
    timeout -k 5 60 "$ZUL_WINE" "$ZUL_SHOT_EXE" "$winout" "$action" >/dev/null 2>&1 \
      || echo "screenshot: capture $n failed" >&2
    echo "$ZUL_SHOT_OUT/shot-$n.png"
  done
  kill "$pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
' bash "$@"
