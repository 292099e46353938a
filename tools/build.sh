#!/usr/bin/env bash
# Configures and builds everything for 32-bit Windows into ${BUILD_DIR:-build}: the programs
# that ship. On a machine that cannot run 32-bit code (see tools/wine-env.sh) the same sources
# are also built for 64-bit Windows into build/x64, where the tests and the program run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
. "$root/tools/wine-env.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"
if [ "$ZUL_ARCH" = x86_64 ]; then
  echo "build: this machine cannot run 32-bit code; building the 64-bit test build in $build/x64"
  cmake -S "$root" -B "$build/x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
  cmake --build "$build/x64" -j"$(nproc)"
fi
