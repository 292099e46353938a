#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows test programs under Wine and Xvfb, the native
# checks and the native fuzzers (for a bounded time each). Ends with one line of totals.
#
# The window tests share one desktop and run one at a time; the window-free test programs run
# beside them. The native checks, the fuzzers and (where the tests run from the 64-bit build) the
# 32-bit build of every program, the test and benchmark programs included (compiled, not run),
# run at a lower priority at the same time, on the processors the Windows tests leave idle. Their
# reports follow the Windows tests' report; a 32-bit build that fails shows the compiler's messages
# and counts as a failure in the totals.
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
pid_build32=""; pid_native=""; pid_fuzz=""
if [ "$ZUL_ARCH" = x86_64 ]; then
  beside build32 "the 32-bit build of every program" bash "$root/tools/build.sh" --i686
fi
if [ -f "$root/tests/native/run.sh" ]; then
  beside native "the native checks" bash "$root/tests/native/run.sh"
fi
if [ -f "$root/fuzz/run.sh" ]; then
  beside fuzz "the fuzzers" bash "$root/fuzz/run.sh"
fi

passed=0
failed=0
# add_reports LOG RC EXPECTED PASSED FAILED: adds a runner's reports to the totals. The runner
# prints one line per program, matching PASSED or FAILED (extended expressions), for EXPECTED
# programs. A program without a line of either kind failed (the runner stopped before it), and a
# runner that ended non-zero without reporting a failure counts as one failure of its own.
add_reports() {
  local log=$1 rc=$2 expected=$3 ok bad missing
  ok=$(grep -c -E "$4" "$log") || ok=0
  bad=$(grep -c -E "$5" "$log") || bad=0
  missing=$((expected - ok - bad))
  [ "$missing" -gt 0 ] || missing=0
  bad=$((bad + missing))
  if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then
    echo "test: $(basename "$log" .log) ended with status $rc without reporting a failure"
    bad=1
  fi
  passed=$((passed + ok))
  failed=$((failed + bad))
}

t=$(date +%s)
set +e
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$testbuild" --output-on-failure -j"$(nproc)" 2>&1 | tee "$logs/ctest.log"
rc=${PIPESTATUS[0]}
set -e
took "the Windows tests" "$t"
# ctest's summary: "NN% tests passed, F tests failed out of T"
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/ctest.log" | tail -n 1) || summary=""
if [ -n "$summary" ]; then
  bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
  total=$(echo "$summary" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then
    echo "test: ctest ended with status $rc without reporting a failure"
    failed=$((failed + 1))
  fi
else
  echo "test: ctest gave no summary (status $rc)"
  failed=$((failed + 1))
fi

if [ -n "$pid_build32" ]; then
  if wait "$pid_build32"; then
    tail -n 1 "$logs/build32.log"
  else
    # The compiler's and the linker's messages, without the build's progress lines.
    grep -v -E '^\[ *[0-9]+%\] (Building|Linking|Built target|Generating|Copying|Scanning)|^(Consolidate compiler generated dependencies|Scanning dependencies) ' \
      "$logs/build32.log" || true
    echo "test: the 32-bit build failed (it compiles every program, the tests included); its errors:"
    grep -E ': (fatal )?error|undefined reference|^make.*\*\*\*' "$logs/build32.log" | head -n 20 || true
    failed=$((failed + 1))
  fi
fi

if [ -n "$pid_native" ]; then
  checks=$(ls "$root"/tests/native/*_check.cpp "$root"/tests/native/*_check.sh 2>/dev/null | wc -l)
  rc=0
  wait "$pid_native" || rc=$?
  cat "$logs/native.log"
  add_reports "$logs/native.log" "$rc" "$checks" '^native: .* passed$' '^native: .*(failed|does not build)$'
fi

if [ -n "$pid_fuzz" ]; then
  fuzzers=$(ls "$root"/fuzz/*_fuzz.cpp 2>/dev/null | wc -l)
  rc=0
  wait "$pid_fuzz" || rc=$?
  cat "$logs/fuzz.log"
  # A fuzzer that ran its time prints its final statistics.
  add_reports "$logs/fuzz.log" "$rc" "$fuzzers" '^fuzz: [^ ]+ stat::number_of_executed_units' \
    '^fuzz: .*(found a failure|does not build)'
fi
bg=()
took "the test command"
echo "total: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
