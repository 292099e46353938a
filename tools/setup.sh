#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Installs only what is missing, so a second run costs a few seconds.
#
# The tests run under 32-bit Wine where this machine runs 32-bit code (tools/ia32-probe.c), and
# otherwise from a 64-bit test build under 64-bit Wine (tools/wine-env.sh). The i386 architecture
# and the 32-bit Wine are asked for only in the first case.
#
# A mirror caught mid-sync may fail one package list for hours. The set-up then goes on with the
# lists that did arrive: it retries the install with the suites whose lists failed set back behind
# the others (so that a 32-bit library gets the version of its installed 64-bit twin where one is
# there), and when the 32-bit Wine still cannot be had it installs the rest and leaves the tests to
# the 64-bit build; a later run picks the 32-bit Wine up once the mirror has healed. When even that
# fails it ends with one line naming the package and the list that failed.
#
# ZUL_ARCH=i686 asks for the 32-bit tests whatever the probe says: where the machine cannot run
# 32-bit code, or the 32-bit Wine cannot be installed, the set-up ends with an error instead.
#
# The i386 architecture is taken away again only when this run added it and no i386 package
# came with it; one that was there before is left as it was.
#
# Extra package names given as arguments are installed as well.
set -eu -o pipefail
export DEBIAN_FRONTEND=noninteractive
here=$(cd "$(dirname "$0")" && pwd)

say() { echo "setup: $*" >&2; }
# The answers of dpkg are read whole before they are looked at: a reader that stops at the first
# match would end dpkg with a broken pipe, and pipefail would turn that into the wrong answer.
have() {
  local status
  status=$(dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null) || return 1
  grep -qx 'install ok installed' <<<"$status"
}
i386_enabled() {
  local archs
  archs=$(dpkg --print-foreign-architectures)
  grep -qx i386 <<<"$archs"
}
i386_in_use() {
  local archs
  # Where dpkg cannot say, the architecture counts as used.
  archs=$(dpkg-query -W -f='${Architecture}\n') || return 0
  grep -qx i386 <<<"$archs"
}
# Another apt run (an unattended upgrade, say) holds the lock for a while at most.
apt_opts=(-q -o DPkg::Lock::Timeout=300)

base=(cmake make gcc g++ libc6-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
      wine wine64 xvfb xauth clang libclang-rt-14-dev libz-mingw-w64-dev zlib1g-dev libxml2-dev
      pkg-config dosfstools mtools googletest)
wine32=wine32:i386

work=$(mktemp -d)
# However the run ends, an i386 architecture it added for nothing goes again.
trap 'drop_idle_i386 || true; rm -rf "$work"' EXIT
failed_lists=()   # "URI suite/component arch what", one per list that could not be fetched
failed_why=()     # apt's reason for each
failed_suites=()

# update_lists: apt-get update, tried three times a few seconds apart while lists fail.
# Leaves the lists that still failed in failed_lists.
update_lists() {
  local attempt log=$work/update.log
  for attempt in 1 2 3; do
    failed_lists=(); failed_why=(); failed_suites=()
    apt-get update "${apt_opts[@]}" 2>&1 | tee "$log" || true
    local line why
    while IFS= read -r line; do
      failed_lists+=("$line")
    done < <(sed -n -E 's/^Err:[0-9]+ +(.*[^ ]) *$/\1/p' "$log" | sort -u)
    [ ${#failed_lists[@]} -eq 0 ] && return 0
    for line in "${failed_lists[@]}"; do
      # apt's reason is the indented line below "Err:N <list>"
      why=$(awk -v l="$line" 'f { sub(/^ +/, ""); sub(/ *\[IP:.*/, ""); print; exit }
        /^Err:[0-9]+ / { x = $0; sub(/^Err:[0-9]+ +/, "", x); sub(/ +$/, "", x); if (x == l) f = 1 }' "$log")
      # apt keeps or drops the lists of one release together: one bad list holds back the rest
      failed_why+=("${why:-held back with the other lists of its release}")
      failed_suites+=("$(echo "$line" | awk '{print $2}' | cut -d/ -f1)")
    done
    if [ "$attempt" -lt 3 ]; then
      say "${#failed_lists[@]} package list(s) failed to download; trying again in 5 s"
      sleep 5
    fi
  done
  mapfile -t failed_suites < <(printf '%s\n' "${failed_suites[@]}" | sort -u)
  # The lists that failed for a reason of their own first.
  local i lists=() whys=()
  for i in "${!failed_lists[@]}"; do
    case ${failed_why[$i]} in held\ back*) ;; *) lists+=("${failed_lists[$i]}"); whys+=("${failed_why[$i]}") ;; esac
  done
  for i in "${!failed_lists[@]}"; do
    case ${failed_why[$i]} in held\ back*) lists+=("${failed_lists[$i]}"); whys+=("${failed_why[$i]}") ;; esac
  done
  failed_lists=("${lists[@]}"); failed_why=("${whys[@]}")
  for i in "${!failed_lists[@]}"; do
    say "the package list ${failed_lists[$i]} could not be fetched (${failed_why[$i]})"
  done
  return 0
}

# Preferences that set the suites with a failed list behind the others (and behind what is
# installed), so that apt takes its versions from the lists that did arrive.
prefs=$work/preferences
write_prefs() {
  : >"$prefs"
  local s
  for s in "${failed_suites[@]}"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 90\n\nPackage: *\nPin: release a=%s\nPin-Priority: 90\n\n' \
      "$s" "$s" >>"$prefs"
  done
}

# run_install [apt options] -- packages...
run_install() {
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  [ $# -gt 0 ] || return 0
  apt-get install -y --no-install-recommends "${apt_opts[@]}" "${opts[@]}" "$@" </dev/null 2>&1 \
    | tee "$work/install.log"
}

# install_set packages...: plainly first; where lists failed, again with their suites set back.
install_set() {
  run_install -- "$@" && return 0
  [ ${#failed_suites[@]} -gt 0 ] || return 1
  write_prefs
  say "retrying with the lists that arrived preferred over those of ${failed_suites[*]}"
  run_install -o Dir::Etc::Preferences="$prefs" -- "$@"
}

# An i386 architecture that this run added and that holds no package serves nothing, and its
# lists would fail every later apt-get update while the mirror is broken; the next run adds it
# again. One that was there before this run is not ours to take away.
added_i386=""
drop_idle_i386() {
  [ -n "$added_i386" ] || return 0
  if i386_enabled && ! i386_in_use; then
    dpkg --remove-architecture i386
    added_i386=""
    say "took the i386 architecture away again (no i386 package is installed)"
  fi
}

# give_up packages...: one line naming the first package that cannot be installed and why.
give_up() {
  local p bad="" why=""
  for p in "$@"; do
    if ! apt-get install -s --no-install-recommends "${apt_opts[@]}" "$p" </dev/null >"$work/sim.log" 2>&1; then
      bad=$p
      why=$(grep -m1 -E '^E: ' "$work/sim.log" | sed 's/^E: //' || true)
      break
    fi
  done
  bad=${bad:-$*}
  drop_idle_i386
  if [ ${#failed_lists[@]} -eq 1 ]; then
    say "cannot install $bad: the package list ${failed_lists[0]} could not be fetched (${failed_why[0]}); run this again once the mirror has caught up"
  elif [ ${#failed_lists[@]} -gt 1 ]; then
    local all
    all=$(printf '%s, ' "${failed_lists[@]}")
    say "cannot install $bad: the package lists ${all%, } could not be fetched (${failed_why[0]}); run this again once the mirror has caught up"
  else
    say "cannot install $bad: ${why:-apt-get install failed}"
  fi
  exit 1
}

need=()
for p in "${base[@]}" "$@"; do have "$p" || need+=("$p"); done
updated=""

# The probe needs only the native compiler.
if ! command -v cc >/dev/null 2>&1; then
  update_lists; updated=1
  install_set gcc libc6-dev || give_up gcc libc6-dev
fi

want32=""
forced32=""
case ${ZUL_ARCH:-} in
  x86_64) ;;
  *)
    [ "${ZUL_ARCH:-}" = i686 ] && forced32=1
    probe=$work/ia32-probe
    if ! cc -O0 -o "$probe" "$here/ia32-probe.c"; then
      if [ -n "$forced32" ]; then
        say "the 32-bit probe does not build; going on with ZUL_ARCH=i686 as asked"
        want32=1
      else
        say "the 32-bit probe does not build; the tests will run from the 64-bit build"
      fi
    elif "$probe"; then
      want32=1
    elif [ -n "$forced32" ]; then
      say "ZUL_ARCH=i686 asks for the 32-bit tests, but this machine cannot run 32-bit code (its kernel runs no 32-bit programs), so 32-bit Wine cannot start here; unset ZUL_ARCH or set ZUL_ARCH=x86_64 to test from the 64-bit build"
      exit 1
    else
      say "this machine cannot run 32-bit code: the tests will run from the 64-bit build"
    fi ;;
esac

if [ -n "$want32" ] && ! have "$wine32"; then
  if ! i386_enabled; then
    dpkg --add-architecture i386
    added_i386=1
    updated=""
  fi
  need+=("$wine32")
fi

[ ${#need[@]} -gt 0 ] || exit 0
[ -n "$updated" ] || update_lists

if install_set "${need[@]}"; then
  exit 0
fi
# Without the 32-bit Wine the tests still run, from the 64-bit build.
rest=()
for p in "${need[@]}"; do
  case $p in *:i386) ;; *) rest+=("$p") ;; esac
done
if [ ${#rest[@]} -eq ${#need[@]} ]; then
  give_up "${need[@]}"
fi
install_set "${rest[@]}" || give_up "${rest[@]}"
drop_idle_i386
if [ -n "$forced32" ]; then
  if [ ${#failed_lists[@]} -gt 0 ]; then
    say "ZUL_ARCH=i686 asks for the 32-bit tests, but the 32-bit Wine ($wine32) could not be installed because the package list ${failed_lists[0]} could not be fetched; the rest is installed. Run this again once the mirror has caught up, or unset ZUL_ARCH to test from the 64-bit build"
  else
    say "ZUL_ARCH=i686 asks for the 32-bit tests, but the 32-bit Wine ($wine32) could not be installed (see above); the rest is installed. Unset ZUL_ARCH to test from the 64-bit build"
  fi
  exit 1
fi
if [ ${#failed_lists[@]} -gt 0 ]; then
  say "the 32-bit Wine ($wine32) could not be installed because the package list ${failed_lists[0]} could not be fetched; the rest is installed, and the tests run from the 64-bit build until a later run of this script gets the 32-bit Wine"
else
  say "the 32-bit Wine ($wine32) could not be installed (see above); the rest is installed, and the tests run from the 64-bit build"
fi
exit 0
