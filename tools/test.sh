#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows test programs under Wine and Xvfb,
# then the native fuzzers for a bounded time each. Ends with one line of totals.
set -eu -o pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
bash "$root/tools/build.sh"
build=${BUILD_DIR:-$root/build}
. "$root/tools/wine-env.sh"
testbuild=$(zul_run_build "$build")
echo "test: running the $ZUL_ARCH test build in $testbuild"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$testbuild" --output-on-failure -j"$(nproc)" 2>&1 | tee "$log" || true
# ctest's summary: "NN% tests passed, F tests failed out of T"
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
if [ -n "$summary" ]; then
  failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$summary" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
else
  failed=1
  total=1
fi
passed=$((total - failed))
[ "$failed" -eq 0 ] || status=1

if [ -f "$root/fuzz/run.sh" ]; then
  fuzzers=$(ls "$root"/fuzz/*_fuzz.cpp 2>/dev/null | wc -l)
  bash "$root/fuzz/run.sh" 2>&1 | tee "$log" || status=1
  bad=$(grep -c -E '^fuzz: .*(found a failure|does not build)' "$log" || true)
  passed=$((passed + fuzzers - bad))
  failed=$((failed + bad))
fi
echo "total: $passed passed, $failed failed"
exit $status
