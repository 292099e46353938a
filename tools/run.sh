#!/usr/bin/env bash
# Sets up, builds and starts the main program under Wine (needs a display; uses Xvfb when there is none).
# It builds only the programs that ship, in the build they run from (build/x64 where the tests
# run from the 64-bit build): a test program that does not build cannot keep the program from
# starting. The test command (tools/test.sh) builds everything.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" --programs
build=${BUILD_DIR:-$root/build}
. "$root/tools/wine-env.sh"
build=$(zul_run_build "$build")
export WINEPREFIX=$build/wineprefix
zul_prepare_prefix "$WINEPREFIX"
cd "$build/bin"
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" timeout -k 5 "${ZUL_RUN_SECONDS:-3600}" "$ZUL_WINE" "KVR ZUL.exe"
fi
exec timeout -k 5 "${ZUL_RUN_SECONDS:-3600}" "$ZUL_WINE" "KVR ZUL.exe"
