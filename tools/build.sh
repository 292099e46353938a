#!/usr/bin/env bash
# Configures and builds everything for 32-bit Windows into ${BUILD_DIR:-build}.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)"
