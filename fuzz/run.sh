#!/usr/bin/env bash
# Builds and runs every native fuzzer for a bounded time.
#
# Convention: every fuzz/<name>_fuzz.cpp is one libFuzzer program. It defines
# LLVMFuzzerTestOneInput and #includes (by relative path) the product .cpp files it needs; it must
# build natively with clang, so it may only use code that keeps free of platform headers.
# Its seed corpus is committed in fuzz/corpus/<name>/, where <name> is the file name without
# "_fuzz.cpp" (fuzz/corpus/<name>_fuzz/ is taken as well). An optional fuzz/<name>.args (or
# <name>_fuzz.args) holds extra libFuzzer flags on one line, e.g. -max_len=70000.
# Each fuzzer runs for ${FUZZ_SECONDS:-60} seconds on a copy of its corpus, so new inputs it finds
# do not change the committed one. Programs and crash inputs go to
# ${FUZZ_BUILD_DIR:-${BUILD_DIR:-build}/fuzz}.
# The fuzzers build and run side by side, each on one processor (the run takes about
# ${FUZZ_SECONDS} seconds however many there are); their reports are printed in turn at the end.
# The exit status is not zero when a fuzzer fails to build or finds a crash.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
out=${FUZZ_BUILD_DIR:-${BUILD_DIR:-$root/build}/fuzz}
seconds=${FUZZ_SECONDS:-60}
cxx=${FUZZ_CXX:-clang++}
mkdir -p "$out"

# fuzz_one SRC: builds and runs one fuzzer; prints its report, exits 1 on a failure.
fuzz_one() {
  local src=$1 base name bin work corpus args extra
  base=$(basename "$src" .cpp)
  name=${base%_fuzz}
  bin="$out/$base"
  echo "fuzz: building $base"
  if ! "$cxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address \
      -I"$root/core/xml" -I"$root/core/engine" -I"$root/framework" -I"$root/tests/core/xml" -I"$root/tests/core/engine" "$src" -o "$bin" 2>&1; then
    echo "fuzz: $base does not build"
    return 1
  fi
  work=$(mktemp -d)
  for corpus in "$here/corpus/$name" "$here/corpus/$base"; do
    if [ -d "$corpus" ]; then
      cp -r "$corpus/." "$work/"
    fi
  done
  extra=""
  for args in "$here/$name.args" "$here/$base.args"; do
    [ -f "$args" ] && extra=$(head -n 1 "$args")
  done
  echo "fuzz: running $base for $seconds s"
  # shellcheck disable=SC2086
  if ! "$bin" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/$base-" $extra "$work" >"$out/$base.log" 2>&1; then
    echo "fuzz: $base found a failure; see $out/$base.log and $out/$base-*"
    tail -n 40 "$out/$base.log"
    rm -rf "$work"
    return 1
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$out/$base.log" | sed "s/^/fuzz: $base /"
  rm -rf "$work"
}

pids=()
reports=()
for src in "$here"/*_fuzz.cpp; do
  [ -e "$src" ] || continue
  report="$out/$(basename "$src" .cpp).report"
  fuzz_one "$src" >"$report" 2>&1 &
  pids+=($!)
  reports+=("$report")
done
status=0
for i in "${!pids[@]}"; do
  wait "${pids[$i]}" || status=1
  cat "${reports[$i]}"
done
exit $status
