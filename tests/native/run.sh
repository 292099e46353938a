#!/usr/bin/env bash
# Builds and runs every native check with the host compiler.
#
# Convention: every tests/native/<name>_check.cpp is one program. It #includes (by relative path)
# the product .cpp files it needs, which must therefore build without platform headers. It prints
# its own cases and exits 0 only when all passed. Programs go to
# ${NATIVE_BUILD_DIR:-${BUILD_DIR:-build}/native}. Each check ends with one line
# "native: <name> passed", "native: <name> failed" or "native: <name> does not build".
# Every tests/native/<name>_check.sh is a check of the project's scripts, run with bash from the
# repository's root; it ends the same way with "passed" or "failed".
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${NATIVE_BUILD_DIR:-${BUILD_DIR:-$root/build}/native}
cxx=${NATIVE_CXX:-g++}
mkdir -p "$out"
status=0
for src in "$here"/*_check.cpp; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cpp)
  if ! "$cxx" -std=c++20 -O2 -Wall -I"$root/devicelib" "$src" -o "$out/$name"; then
    echo "native: $name does not build"
    status=1
    continue
  fi
  if "$out/$name"; then
    echo "native: $name passed"
  else
    echo "native: $name failed"
    status=1
  fi
done
for src in "$here"/*_check.sh; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .sh)
  if (cd "$root" && bash "$src"); then
    echo "native: $name passed"
  else
    echo "native: $name failed"
    status=1
  fi
done
exit $status
