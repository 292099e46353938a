#!/usr/bin/env bash
# Builds the XML benchmark natively beside the host's libxml2 and runs both on the same file.
# Usage: bash bench/xml_bench.sh [entries] [runs]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${BUILD_DIR:-$root/build}/native
mkdir -p "$out"
${CXX:-clang++} -std=c++20 -O2 -DNDEBUG -DZUL_BENCH_NATIVE $(pkg-config --cflags libxml-2.0) \
  "$root/bench/xml_bench.cpp" -o "$out/xml_bench" $(pkg-config --libs libxml-2.0)
"$out/xml_bench" "${1:-100000}" "${2:-5}" "$out"
