#!/usr/bin/env bash
# Configures and builds into ${BUILD_DIR:-build}. The programs ship as 32-bit Windows programs;
# where the tests run from that 32-bit build it holds every program, the test and benchmark
# programs included. Where the tests run from a 64-bit build instead (see tools/wine-env.sh), the
# same sources are built with the tests for 64-bit Windows into build/x64, and the 32-bit build
# beside it still compiles every program, the test and benchmark programs included (they are not
# run there), so that a fault that only the 32-bit compiler sees fails the build as well.
#   build.sh                      both
#   build.sh --tests              only the build the tests and the program run from
#   build.sh --i686               only the 32-bit build beside the 64-bit test build (--ship is
#                                 the same); it goes on past a failing program (make -k) so that
#                                 one run shows every fault
#   build.sh --programs [TARGET...]
#                                 only the programs that ship (the main program, the device
#                                 library, the launcher, the language files) in the build they
#                                 run from, and the named targets (a screenshot program, say):
#                                 nothing else, so that a test program that does not build
#                                 cannot keep the program from starting
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
what=${1:-all}
[ $# -gt 0 ] && shift
. "$root/tools/wine-env.sh"
jobs=${ZUL_BUILD_JOBS:-$(nproc)}
# The targets that make the program folder as it ships.
shipped=(kvrzul zedousb zultray zul_language)

configure() { # folder toolchain
  # The tests are always configured in: the programs that ship do not depend on them, and a
  # build of only those (--programs) leaves them alone.
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2.cmake" -DZUL_TESTS=ON >/dev/null
}
build_tree() { # folder toolchain [cmake --build options...]
  local dir=$1 chain=$2; shift 2
  configure "$dir" "$chain"
  cmake --build "$dir" -j"$jobs" "$@"
}

if [ "$ZUL_ARCH" = x86_64 ]; then
  run_tree=$build/x64 run_chain=mingw-x86_64
else
  run_tree=$build run_chain=mingw-i686
fi

case $what in
  all|--tests|--i686|--ship|--programs) ;;
  *) echo "build: unknown option $what (--tests, --i686, --programs [TARGET...])" >&2; exit 2 ;;
esac

if [ "$what" = --programs ]; then
  configure "$run_tree" "$run_chain"
  targets=("${shipped[@]}" "$@")
  echo "build: ${targets[*]} in $run_tree"
  exec cmake --build "$run_tree" -j"$jobs" --target "${targets[@]}"
fi

if [ "$ZUL_ARCH" = x86_64 ]; then
  case $what in
    all|--i686|--ship)
      echo "build: the 32-bit build with every program (not run here) in $build"
      configure "$build" mingw-i686
      keep_going=-k
      grep -q '^CMAKE_GENERATOR:INTERNAL=Ninja' "$build/CMakeCache.txt" && keep_going="-k 0"
      cmake --build "$build" -j"$jobs" -- $keep_going ;;
  esac
  case $what in
    all|--tests)
      echo "build: the tests run from the 64-bit build in $build/x64"
      build_tree "$build/x64" mingw-x86_64 ;;
  esac
else
  # Where the tests run from the 32-bit build, it is the only build.
  build_tree "$build" mingw-i686
fi
