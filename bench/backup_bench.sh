#!/usr/bin/env bash
# Backup throughput: the copy engine against Wine's xcopy and robocopy and the native cp -a,
# on the same generated trees inside the Wine prefix's C: drive.
#   big:   1 file of 1 GiB          -> MB/s
#   small: 20,000 files of 8 KiB    -> files/s
# Every run starts with an empty target. Each run is timed twice: until the tool has ended
# ("unsynced"), and until a sync after it has ended ("synced": what the tool wrote has reached
# the disk; the engine flushes every copy itself, the other tools leave that to the sync). The
# tools take turns, ${BENCH_REPEAT:-5} rounds of each set after a warm-up round that is not
# counted, and the summary gives, for each of the two timings, the median time of each tool and
# the median of the per-round ratios (each round's tools ran under the same load). The load
# average is printed before and after.
# Every round gives the tools the same footing: the tool that runs first after the trees are made
# or after the previous copies are deleted pays for that writeback (a first round of the large
# file took two to three times as long as the later ones), so the warm-up round takes that cost,
# and the order of the tools turns by one place from round to round, so that each runs first
# as often as the others. Usage:
#   BUILD_DIR=build [BENCH_REPEAT=3] [BENCH_KEEP=1] [BENCH_SETS="big small"] [BENCH_LANES=N]
#   [BENCH_PROGRAM=<another backup_bench.exe>] [WINEPREFIX=<an existing prefix>]
#   bash bench/backup_bench.sh
# BENCH_SETS names the sets to run, in order; only their trees are made and only their rows are
# printed (BENCH_SETS=small writes no 1 GiB file).
# BENCH_PROGRAM measures another build of the engine (an older one, say) with the same trees.
# On a machine without 32-bit support the 64-bit build (see tools/wine-env.sh) runs under 64-bit
# Wine, and so does the xcopy it is measured against.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
# The sets to run, in this order; only these are made and reported.
sets=${BENCH_SETS:-big small}
n_sets=0
for set in $sets; do
  case $set in
    big|small) n_sets=$((n_sets + 1)) ;;
    *) echo "backup_bench: unknown set $set in BENCH_SETS (big, small)" >&2; exit 2 ;;
  esac
done
[ "$n_sets" -gt 0 ] || { echo "backup_bench: BENCH_SETS names no set (big, small)" >&2; exit 2; }
build=${BUILD_DIR:-$root/build}
case $build in /*) ;; *) build=$PWD/$build ;; esac   # Wine needs an absolute prefix
. "$root/tools/wine-env.sh"
wine=$ZUL_WINE
[ -f "$(zul_run_build "$build")/bin/backup_bench.exe" ] || BUILD_DIR=$build bash "$root/tools/build.sh" --tests
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
  export WINEPREFIX
else
  export WINEPREFIX=$(zul_run_build "$build")/wineprefix
  zul_prepare_prefix "$WINEPREFIX"
fi
bin=$(zul_run_build "$build")/bin
engine_exe=${BENCH_PROGRAM:-$bin/backup_bench.exe}
server=$(dirname "$(command -v "$wine")")/wineserver
[ -x "$server" ] || server=wineserver
timeout -k 5 20 "$server" -p </dev/null >/dev/null 2>&1 || true
trap 'timeout -k 5 60 "$server" -k >/dev/null 2>&1 || true' EXIT

base=$WINEPREFIX/drive_c/zulbench
win='C:\zulbench'
mkdir -p "$base"

# Only the sets that run are made: with BENCH_SETS=small no 1 GiB file is written. Each set's
# tree has a mark of its own, so that a kept tree (BENCH_KEEP=1) serves a later run of that set.
for set in $sets; do
  [ -f "$base/.ready-$set" ] && continue
  echo "generating the $set tree in $base ..."
  rm -rf "${base:?}/$set"
  python3 - "$base" "$set" <<'PY'
import os, sys
base, which = sys.argv[1], sys.argv[2]
if which == "big":
    os.makedirs(os.path.join(base, "big"))
    block = os.urandom(1 << 20)
    with open(os.path.join(base, "big", "big.bin"), "wb") as f:
        for i in range(1024):
            # Different bytes in every MiB, so that nothing can be shared or deduplicated.
            f.write(i.to_bytes(4, "little") + block[4:])
else:
    for d in range(100):
        folder = os.path.join(base, "small", "d%03d" % d)
        os.makedirs(folder)
        for n in range(200):
            with open(os.path.join(folder, "f%05d.bin" % (d * 200 + n)), "wb") as f:
                f.write(os.urandom(8192))
PY
  sync
  touch "$base/.ready-$set"
done

now() { date +%s.%N; }
results=()
label=""     # the round being run, for the lines printed as it goes
counted=1    # 0 in the warm-up round: its times are printed but left out of the summary

# run NAME SET COMMAND...: empties the target, runs the command, syncs, checks the copy.
run() {
  local name=$1 set=$2; shift 2
  rm -rf "$base/out"; mkdir -p "$base/out"; sync
  local t0 tend t1 rc=0
  t0=$(now)
  "$@" >"$base/out.log" 2>&1 || rc=$?
  tend=$(now)
  sync
  t1=$(now)
  local files bytes
  files=$(find "$base/out" -type f | wc -l)
  bytes=$(find "$base/out" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
  local want_files want_bytes
  want_files=$(find "$base/$set" -type f | wc -l)
  want_bytes=$(find "$base/$set" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}')
  local note=""
  if [ "$files" != "$want_files" ] || [ "$bytes" != "$want_bytes" ]; then
    note="INCOMPLETE ($files files, $bytes bytes; exit $rc)"
  fi
  [ "$counted" = 1 ] && results+=("$set $name $t0 $tend $t1 $want_files $want_bytes $note")
  printf '%-8s %-6s %-9s %8.2f s synced %8.2f s unsynced %s\n' "$label" "$set" "$name" \
    "$(echo "$t1 - $t0" | bc)" "$(echo "$tend - $t0" | bc)" "$note"
}

# Some Wine versions ship robocopy as a stub that copies nothing: try it on one small file.
have_robocopy=0
if [ -f "$WINEPREFIX/drive_c/windows/system32/robocopy.exe" ]; then
  rm -rf "$base/probe" "$base/probe-out"; mkdir -p "$base/probe"; echo probe >"$base/probe/p.txt"
  timeout -k 5 120 "$wine" robocopy "$win\\probe" "$win\\probe-out" /E >/dev/null 2>&1 || true
  [ -f "$base/probe-out/p.txt" ] && have_robocopy=1
  rm -rf "$base/probe" "$base/probe-out"
fi
repeat=${BENCH_REPEAT:-5}
# BENCH_LANES=N: the engine copies N files at once (1: one after the other); unset: its default.
# BENCH_ONE_LANE=1: each round also runs the engine copying one file at a time ("engine-1").
lanes_arg=""
[ -n "${BENCH_LANES:-}" ] && lanes_arg="--lanes $BENCH_LANES"
tools=(engine)
[ "${BENCH_ONE_LANE:-0}" = 1 ] && tools+=(engine-1)
tools+=(xcopy)
[ $have_robocopy = 1 ] && tools+=(robocopy)
tools+=("cp -a")

# tool NAME SET: one run of that tool on that set.
tool() {
  case $1 in
    engine) run engine "$2" timeout -k 10 1800 "$wine" "$engine_exe" $lanes_arg "$win\\$2" "$win\\out" ;;
    engine-1) run engine-1 "$2" timeout -k 10 1800 "$wine" "$engine_exe" --lanes 1 "$win\\$2" "$win\\out" ;;
    xcopy) run xcopy "$2" timeout -k 10 1800 "$wine" xcopy "$win\\$2" "$win\\out\\$2\\" /E /K /H /I /Y /Q ;;
    robocopy) run robocopy "$2" timeout -k 10 1800 "$wine" robocopy "$win\\$2" "$win\\out\\$2" /E ;;
    "cp -a") run "cp -a" "$2" cp -a "$base/$2" "$base/out/" ;;
  esac
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "rounds: 1 warm-up (not counted) and $repeat counted of each set; the order of the tools turns by one each round"
n=${#tools[@]}
for set in $sets; do
 for round in $(seq 0 "$repeat"); do
  if [ "$round" = 0 ]; then label=warm-up counted=0; else label="round $round" counted=1; fi
  # The warm-up and the first round in the order above, then one place on each round.
  turn=$(( round > 0 ? round - 1 : 0 ))
  for i in $(seq 0 $((n - 1))); do
    tool "${tools[$(( (turn + i) % n ))]}" "$set"
  done
 done
done
[ $have_robocopy = 1 ] || echo "robocopy: Wine's robocopy here is missing or copies nothing (a stub): left out"
rm -rf "$base/out" "$base/out.log"
# The trees stay for another run only when asked (BENCH_KEEP=1): a walk of C: would see them.
[ "${BENCH_KEEP:-0}" = 1 ] || rm -rf "$base"

echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
summary() {   # summary synced|unsynced
# One row per set that ran and tool that ran in it, the sets in the order they ran.
printf '%s\n' "${results[@]}" | awk -v which="$1" -v sets="$sets" '
function median(list,   n, a, i, j, t) {
  n = split(list, a, " ")
  for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j+1] = a[j]; a[j+1] = t }
  return n % 2 ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2
}
NF == 0 { next }
{
  set=$1; name=$2; if (name == "cp") { name = "cp -a"; off=1 } else off=0
  t0=$(3+off); tend=$(4+off); t1=$(5+off); files=$(6+off); bytes=$(7+off)
  s=(which == "synced" ? t1 : tend)-t0; key=set SUBSEP name
  round[key]++; r=round[key]
  secs[key]=secs[key] " " s; at[key SUBSEP r]=s
  nfiles[set]=files; nbytes[set]=bytes
  if (round[key] > rounds[set]) rounds[set]=round[key]
  if (!(name in seen)) { seen[name]=1; order[++n]=name }
}
END {
  if (which == "synced")
    print "until the data is on the disk (each tool, then a sync):"
  else
    print "until the tool has ended (no sync; the engine still flushes every copy):"
  nsets = split(sets, setorder, " ")
  printf "%-6s %-9s %10s %16s   (medians)\n", "set", "tool", "s", "rate"
  for (k=1; k<=nsets; k++) { set=setorder[k]; if (done[set]++) continue
    for (i=1; i<=n; i++) { t=order[i]; key=set SUBSEP t
      if (!(key in secs)) continue
      m = median(secs[key])
      if (set == "big") rate = m > 0 ? sprintf("%.1f MB/s", nbytes[set]/1e6/m) : "-"
      else rate = m > 0 ? sprintf("%.0f files/s", nfiles[set]/m) : "-"
      printf "%-6s %-9s %10.2f %16s\n", set, t, m, rate
    }
  }
  print ""
  for (k=1; k<=nsets; k++) { set=setorder[k]; if (listed[set]++) continue
    for (i=1; i<=n; i++) { t=order[i]; if (t == "engine") continue
      list = ""
      for (r=1; r<=rounds[set]; r++)
        if (((set SUBSEP "engine" SUBSEP r) in at) && ((set SUBSEP t SUBSEP r) in at))
          list = list " " at[set SUBSEP t SUBSEP r] / at[set SUBSEP "engine" SUBSEP r]
      if (list != "")
        printf "engine speed / %-8s %-6s rounds:%s   median %.2f\n", t, set, list, median(list)
    }
  }
  print ""
}'
}
summary synced
summary unsynced
