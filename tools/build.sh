#!/usr/bin/env bash
# Configures and builds for 32-bit Windows into ${BUILD_DIR:-build}: the programs that ship, with
# the test and benchmark programs where the tests run from that build. Where the tests run from a
# 64-bit build instead (see tools/wine-env.sh), the 32-bit build makes only what ships (its
# compile-time layout checks still hold) and the same sources are built with the tests for 64-bit
# Windows into build/x64.
#   build.sh           both
#   build.sh --tests   only the build the tests and the program run from
#   build.sh --ship    only the 32-bit build of what ships
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
what=${1:-all}
. "$root/tools/wine-env.sh"
jobs=${ZUL_BUILD_JOBS:-$(nproc)}

build_tree() { # folder toolchain tests(ON|OFF)
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2.cmake" -DZUL_TESTS="$3" >/dev/null
  cmake --build "$1" -j"$jobs"
}

if [ "$ZUL_ARCH" = x86_64 ]; then
  case $what in
    all|--ship) build_tree "$build" mingw-i686 OFF ;;
  esac
  case $what in
    all|--tests)
      echo "build: the tests run from the 64-bit build in $build/x64"
      build_tree "$build/x64" mingw-x86_64 ON ;;
  esac
else
  build_tree "$build" mingw-i686 ON
fi
