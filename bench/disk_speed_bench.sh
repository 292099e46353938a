#!/usr/bin/env bash
# Raw read/write benchmark of the disk utilities, in one run on one image file: the library's
# locked-volume transfers on the disk model (under Wine, the image behind the model) and dd reading
# the same area and writing the same bytes back over it, in pieces of the same 32 MiB. Prints the rates and
# the ratios (library / dd). Best of ${DISK_BENCH_ROUNDS:-3} rounds each; the page cache stays
# warm for both. Not part of the test command.
#   DISK_BENCH_MB    area in MiB (default 512)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mb=${DISK_BENCH_MB:-512}
rounds=${DISK_BENCH_ROUNDS:-3}
offset=64
. "$root/tools/wine-env.sh"
runbuild=$(zul_run_build "$build")
export WINEPREFIX=$runbuild/wineprefix
zul_prepare_prefix "$WINEPREFIX"
exe=$runbuild/bin/disk_speed_bench.exe
[ -f "$exe" ] || { echo "build first: BUILD_DIR=$build bash tools/build.sh" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
img=$dir/disk.img
# The area holds data (not a hole), written once before anything is timed.
truncate -s $(((offset + mb + 2) * 1048576)) "$img"
dd if=/dev/urandom of="$img" bs=1M seek=$offset count="$mb" conv=notrunc status=none
sum_before=$(dd if="$img" bs=1M skip=$offset count="$mb" status=none | sha1sum)

out=$(timeout 1200 "$ZUL_WINE" "$exe" "Z:${img//\//\\}" "$mb" "$offset" "$rounds" 2>&1)
echo "$out"
lib_read=$(echo "$out" | sed -n 's/^model read MiB\/s: //p')
lib_write=$(echo "$out" | sed -n 's/^model write MiB\/s: //p')

pieces=$((mb / 32))
rate() { # bytes seconds -> MiB/s
  awk -v b="$1" -v s="$2" 'BEGIN { printf "%.1f", b / s / 1048576 }'
}
# dd writes the area back from a copy of it, as the library writes back from its buffer.
dd if="$img" of="$dir/area.bin" bs=1M skip=$offset count="$mb" status=none
best_read=0
best_write=0
for ((r = 0; r < rounds; r++)); do
  t0=$(date +%s.%N)
  dd if="$img" of=/dev/null bs=32M skip=$((offset / 32)) count=$pieces status=none
  t1=$(date +%s.%N)
  dd if="$dir/area.bin" of="$img" bs=32M seek=$((offset / 32)) count=$pieces conv=notrunc status=none
  t2=$(date +%s.%N)
  rd=$(rate $((mb * 1048576)) "$(echo "$t1 - $t0" | bc -l)")
  wr=$(rate $((mb * 1048576)) "$(echo "$t2 - $t1" | bc -l)")
  echo "dd round $((r + 1)): read $rd MiB/s, write back $wr MiB/s"
  best_read=$(awk -v a="$best_read" -v b="$rd" 'BEGIN { print (b > a ? b : a) }')
  best_write=$(awk -v a="$best_write" -v b="$wr" 'BEGIN { print (b > a ? b : a) }')
done
sum_after=$(dd if="$img" bs=1M skip=$offset count="$mb" status=none | sha1sum)
[ "$sum_before" = "$sum_after" ] && echo "area unchanged: yes" || { echo "area unchanged: NO"; exit 1; }

echo "dd read MiB/s: $best_read"
echo "dd write MiB/s: $best_write"
awk -v lr="$lib_read" -v lw="$lib_write" -v dr="$best_read" -v dw="$best_write" \
  'BEGIN { printf "ratio read (library/dd): %.2f\nratio write (library/dd): %.2f\n", lr / dr, lw / dw }'
