#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows test programs under Wine and Xvfb,
# then the native fuzzers for a bounded time each.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}
. "$root/tools/wine-env.sh"

status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" || status=1

if [ -f "$root/fuzz/run.sh" ]; then
  bash "$root/fuzz/run.sh" || status=1
fi
exit $status
