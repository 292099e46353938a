#!/usr/bin/env bash
# The totals line of tools/test.sh, with stand-ins for everything it runs: the set-up, the builds,
# ctest (under xvfb-run), the native checks and the fuzzers. Each stand-in prints what its
# variable holds and ends with the status given.
set -u
root=$(pwd)
fails=0
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT

fake=$top/repo
mkdir -p "$fake/tools" "$fake/tests/native" "$fake/fuzz" "$top/bin"
cp "$root/tools/test.sh" "$fake/tools/"
echo 'exit 0' >"$fake/tools/setup.sh"
cat >"$fake/tools/build.sh" <<'EOF'
case ${1:-} in
  --i686|--ship)
    echo "[ 50%] Building CXX object tests/app/CMakeFiles/x.dir/x.cpp.obj"
    [ "${BUILD32_RC:-0}" -eq 0 ] || echo "x.cpp:82:9: error: invalid conversion (32-bit only)"
    exit "${BUILD32_RC:-0}" ;;
esac
EOF
cat >"$fake/tools/wine-env.sh" <<'EOF'
export ZUL_ARCH=x86_64
zul_run_build() { echo "$1/x64"; }
EOF
echo 'printf "%b" "${NATIVE_OUT:-}"; exit "${NATIVE_RC:-0}"' >"$fake/tests/native/run.sh"
touch "$fake/tests/native/one_check.cpp" "$fake/tests/native/two_check.sh"
echo 'printf "%b" "${FUZZ_OUT:-}"; exit "${FUZZ_RC:-0}"' >"$fake/fuzz/run.sh"
touch "$fake/fuzz/one_fuzz.cpp"
cat >"$top/bin/xvfb-run" <<'EOF'
#!/usr/bin/env bash
while [ "$1" != ctest ]; do shift; done
exec "$@"
EOF
cat >"$top/bin/ctest" <<'EOF'
#!/usr/bin/env bash
printf "%b" "${CTEST_OUT:-}"
exit "${CTEST_RC:-0}"
EOF
chmod +x "$top/bin/"*

good_ctest='100% tests passed, 0 tests failed out of 5\n'
good_native='native: one_check passed\nnative: two_check passed\n'
good_fuzz='fuzz: one_fuzz stat::number_of_executed_units: 1000\n'

# run NAME VAR=VALUE...: test.sh with the stand-ins set so; its totals line in totals, status in rc.
run() {
  name=$1
  shift
  out=$(env CTEST_OUT="$good_ctest" NATIVE_OUT="$good_native" FUZZ_OUT="$good_fuzz" "$@" \
    BUILD_DIR="$top/build" PATH="$top/bin:$PATH" timeout 120 bash "$fake/tools/test.sh" 2>&1)
  rc=$?
  totals=$(grep '^total:' <<<"$out")
}
expect() {
  local want=$1 wantrc=$2
  if [ "$totals" != "$want" ] || [ "$rc" -ne "$wantrc" ]; then
    echo "test_totals_check: $name: got '$totals' (status $rc), want '$want' (status $wantrc)"
    echo "$out" | sed 's/^/    /'
    fails=$((fails + 1))
  fi
}

run all-pass
expect "total: 8 passed, 0 failed" 0

# A runner that ends non-zero is a failure in the totals, whatever lines it printed.
run ctest-fails-silently CTEST_RC=8
expect "total: 8 passed, 1 failed" 1

run native-stops-early NATIVE_OUT='native: one_check passed\n' NATIVE_RC=1
expect "total: 7 passed, 1 failed" 1

run native-fails-silently NATIVE_RC=1
expect "total: 8 passed, 1 failed" 1

run fuzz-stops-early FUZZ_OUT='fuzz: building one_fuzz\n' FUZZ_RC=1
expect "total: 7 passed, 1 failed" 1

run build32-fails BUILD32_RC=2
expect "total: 8 passed, 1 failed" 1
# The compiler's message of a failing 32-bit build is shown, its progress lines are not.
if ! grep -q '^x.cpp:82:9: error: invalid conversion (32-bit only)$' <<<"$out"; then
  echo "test_totals_check: build32-fails: the compiler's message is not shown"
  echo "$out" | sed 's/^/    /'
  fails=$((fails + 1))
fi
if grep -q 'Building CXX object' <<<"$out"; then
  echo "test_totals_check: build32-fails: the build's progress lines are shown"
  fails=$((fails + 1))
fi
# A 32-bit build that passes shows only the line with its time.
run build32-passes
if grep -q -E 'error|Building CXX' <<<"$out"; then
  echo "test_totals_check: build32-passes: the 32-bit build's log is shown"
  echo "$out" | sed 's/^/    /'
  fails=$((fails + 1))
fi

run ctest-without-summary CTEST_OUT='Segmentation fault\n' CTEST_RC=139
expect "total: 3 passed, 1 failed" 1

[ "$fails" -eq 0 ]
