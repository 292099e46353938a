#!/usr/bin/env bash
# Disk clone benchmark on two image files of ${CLONE_BENCH_MB:-2048} MiB, all in one run and on the
# same files: the source's read rate and the target's write rate (dd), a native
# `dd bs=8M conv=fsync` copy, and the clone worker under Wine with one buffer and with
# read-ahead. Each figure is the median of ${CLONE_BENCH_ROUNDS:-3} rounds; every round starts
# from a synced, dropped page cache when the system allows it. Every copy is checked
# byte for byte. Not part of the test command.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mb=${CLONE_BENCH_MB:-2048}
rounds=${CLONE_BENCH_ROUNDS:-3}
dir=${CLONE_BENCH_DIR:-$build/clone_bench_data}
. "$root/tools/wine-env.sh"
export WINEPREFIX=$build/wineprefix
zul_prepare_prefix "$WINEPREFIX"
exe=$build/bin/clone_bench.exe
[ -f "$exe" ] || { echo "build first: BUILD_DIR=$build bash tools/build.sh" >&2; exit 1; }

mkdir -p "$dir"
src=$dir/source.img
dst=$dir/target.img
bytes=$((mb * 1024 * 1024))
count=$((mb / 8))

cache=warm
drop_caches() {
  sync
  if echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then cache=cold; fi
}
now() { date +%s.%N; }
declare -A times
# timed NAME COMMAND...: runs the command and records its wall time up to a completed sync.
# Wine does not make write-through handles synchronous, so the worker's figure also runs to
# the fsync of the target that puts its writes on the disk, as dd's does; Wine's start (a fraction of
# a second with the server kept up) is included.
timed() {
  local name=$1; shift
  local t0 t1
  t0=$(now); "$@"; sync "$dst"; t1=$(now)
  times[$name]="${times[$name]:-} $(awk -v s="$t0" -v e="$t1" 'BEGIN { printf "%.3f", e - s }')"
}
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
report() {
  local m; m=$(median "${times[$1]}")
  awk -v b="$bytes" -v t="$m" -v l="$2" -v all="${times[$1]}" \
    'BEGIN { printf "%-34s %8.1f MB/s  (median %.2f s of:%s)\n", l, b / t / 1e6, t, all }'
}

if [ "$(stat -c %s "$src" 2>/dev/null || echo 0)" != "$bytes" ]; then
  dd if=/dev/urandom of="$src" bs=8M count=$count iflag=fullblock status=none
fi
if [ "$(stat -c %s "$dst" 2>/dev/null || echo 0)" != "$bytes" ]; then
  dd if=/dev/zero of="$dst" bs=8M count=$count status=none
fi
# Keep one Wine server up for the whole run so each worker run starts in a fraction of a second.
timeout 10 wineserver -p 60 || true
# Wine's service processes inherit a program's output handles and outlive it, so output
# goes through a file rather than a pipe that would never close.
out=$(mktemp)
trap 'rm -f "$out"; timeout 30 wineserver -k >/dev/null 2>&1 || true' EXIT
timeout 60 winepath -w "$src" >"$out" 2>/dev/null; winsrc=$(cat "$out")
timeout 60 winepath -w "$dst" >"$out" 2>/dev/null; windst=$(cat "$out")
wipe_target() { dd if=/dev/zero of="$dst" bs=8M count=$count conv=fsync,notrunc status=none; }
worker() {
  timeout -k 10 1800 wine "$exe" "$winsrc" "$windst" "$1" >"$out" 2>&1 || true
  tr -d '\r' <"$out" | sed 's/^/    /'
}

for r in $(seq 1 "$rounds"); do
  echo "round $r"
  drop_caches; timed read dd if="$src" of=/dev/null bs=8M status=none
  # The write rate with the source's own (random) data, read from a warm page cache: some
  # storage writes zeros far faster than real data.
  wipe_target; drop_caches; cat "$src" >/dev/null
  timed write dd if="$src" of="$dst" bs=8M conv=fsync,notrunc status=none
  drop_caches; timed dd dd if="$src" of="$dst" bs=8M conv=fsync,notrunc status=none
  cmp "$src" "$dst"
  for mode in onebuffer readahead; do
    wipe_target; drop_caches; timed "$mode" worker "$mode"
    cmp "$src" "$dst"
  done
done
echo "$mb MiB, page cache $cache at the start of each step; every copy identical to its source"
report read "source read (dd bs=8M)"
report write "target write (dd bs=8M conv=fsync)"
echo "  (the target write reads its data from a warm cache)"
report dd "copy: dd bs=8M conv=fsync"
report onebuffer "copy: worker, one buffer"
report readahead "copy: worker, read-ahead"
