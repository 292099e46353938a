#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows test programs under Wine and Xvfb, the native
# checks and the native fuzzers (for a bounded time each). Ends with one line of totals.
#
# The window tests share one desktop and run one at a time; the window-free test programs run
# beside them. The native checks, the fuzzers and (where the tests run from the 64-bit build) the
# 32-bit build of what ships run at a lower priority at the same time, on the processors the
# Windows tests leave idle. Their reports follow the Windows tests' report.
set -eu -o pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
t0=$(date +%s)
took() { echo "test: $1 took $(( $(date +%s) - ${2:-$t0} )) s"; }

bash "$root/tools/setup.sh"
took "the set-up"
build=${BUILD_DIR:-$root/build}
. "$root/tools/wine-env.sh"
t=$(date +%s)
bash "$root/tools/build.sh" --tests
took "the test build" "$t"
testbuild=$(zul_run_build "$build")
echo "test: running the $ZUL_ARCH test build in $testbuild"

logs=$(mktemp -d)
bg=()
cleanup() {
  local p
  for p in "${bg[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$logs"
}
trap cleanup EXIT
# beside NAME WHAT COMMAND...: runs COMMAND at a low priority in the background, output to a log.
beside() {
  local name=$1 what=$2; shift 2
  ( t=$(date +%s); rc=0; nice -n 10 "$@" >"$logs/$name.log" 2>&1 || rc=$?
    echo "test: $what took $(( $(date +%s) - t )) s" >>"$logs/$name.log"; exit $rc ) &
  bg+=($!)
  eval "pid_$name=$!"
}
pid_ship=""; pid_native=""; pid_fuzz=""
if [ "$ZUL_ARCH" = x86_64 ]; then
  beside ship "the 32-bit build of what ships" bash "$root/tools/build.sh" --ship
fi
if [ -f "$root/tests/native/run.sh" ]; then
  beside native "the native checks" bash "$root/tests/native/run.sh"
fi
if [ -f "$root/fuzz/run.sh" ]; then
  beside fuzz "the fuzzers" bash "$root/fuzz/run.sh"
fi

status=0
t=$(date +%s)
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$testbuild" --output-on-failure -j"$(nproc)" 2>&1 | tee "$logs/ctest.log" || true
took "the Windows tests" "$t"
# ctest's summary: "NN% tests passed, F tests failed out of T"
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/ctest.log" | tail -n 1 || true)
if [ -n "$summary" ]; then
  failed=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$summary" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
else
  failed=1
  total=1
fi
passed=$((total - failed))
[ "$failed" -eq 0 ] || status=1

if [ -n "$pid_ship" ]; then
  if wait "$pid_ship"; then
    tail -n 1 "$logs/ship.log"
  else
    cat "$logs/ship.log"
    echo "test: the 32-bit build of what ships failed"
    failed=$((failed + 1))
    status=1
  fi
fi

if [ -n "$pid_native" ]; then
  checks=$(ls "$root"/tests/native/*_check.cpp 2>/dev/null | wc -l)
  wait "$pid_native" || status=1
  cat "$logs/native.log"
  bad=$(grep -c -E '^native: .*(failed|does not build)$' "$logs/native.log" || true)
  passed=$((passed + checks - bad))
  failed=$((failed + bad))
fi

if [ -n "$pid_fuzz" ]; then
  fuzzers=$(ls "$root"/fuzz/*_fuzz.cpp 2>/dev/null | wc -l)
  wait "$pid_fuzz" || status=1
  cat "$logs/fuzz.log"
  bad=$(grep -c -E '^fuzz: .*(found a failure|does not build)' "$logs/fuzz.log" || true)
  passed=$((passed + fuzzers - bad))
  failed=$((failed + bad))
fi
bg=()
took "the test command"
echo "total: $passed passed, $failed failed"
exit $status
