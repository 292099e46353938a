#!/usr/bin/env bash
# tools/setup.sh against stand-ins for dpkg, dpkg-query, apt-get and the compiler of the 32-bit
# probe, so that its handling of the i386 architecture is seen without touching the machine.
#
# The stand-ins keep their state in $STUB: "archs" (the foreign architectures), "pkgarchs" (the
# architecture of each installed package), "wine32" (present once the 32-bit Wine is installed),
# "wine32-fails" (its install fails), "many" (dpkg-query lists a long run of amd64 packages after
# the i386 ones) and "log" (what was changed). PROBE_RC is the probe's answer.
set -u
root=$(pwd)
fails=0
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT

bin=$top/bin
mkdir -p "$bin"
cat >"$bin/dpkg" <<'EOF'
#!/usr/bin/env bash
case $1 in
  --print-foreign-architectures) cat "$STUB/archs" 2>/dev/null; exit 0 ;;
  --add-architecture) echo "$2" >>"$STUB/archs"; echo "add $2" >>"$STUB/log" ;;
  --remove-architecture)
    grep -vx "$2" "$STUB/archs" >"$STUB/archs.new"; mv "$STUB/archs.new" "$STUB/archs"
    echo "remove $2" >>"$STUB/log" ;;
  *) exit 2 ;;
esac
EOF
cat >"$bin/dpkg-query" <<'EOF'
#!/usr/bin/env bash
pkg=""
for a in "$@"; do case $a in -*) ;; *) pkg=$a ;; esac; done
if [ -n "$pkg" ]; then
  if [ "$pkg" = wine32:i386 ] && [ ! -e "$STUB/wine32" ]; then
    echo "dpkg-query: no packages found matching $pkg" >&2
    exit 1
  fi
  printf 'install ok installed\n'
  exit 0
fi
cat "$STUB/pkgarchs"
# Far more than a pipe holds: a reader that stops early ends this with a broken pipe.
if [ -e "$STUB/many" ]; then
  yes amd64 | head -n 200000
fi
EOF
cat >"$bin/apt-get" <<'EOF'
#!/usr/bin/env bash
case " $* " in
  *" update "*) exit 0 ;;
  *" wine32:i386 "*)
    if [ -e "$STUB/wine32-fails" ]; then
      echo "E: Unable to correct problems, you have held broken packages."
      exit 100
    fi
    case " $* " in *" -s "*) exit 0 ;; esac
    touch "$STUB/wine32"; echo i386 >>"$STUB/pkgarchs"; echo "install wine32:i386" >>"$STUB/log" ;;
esac
exit 0
EOF
cat >"$bin/cc" <<'EOF'
#!/usr/bin/env bash
while [ $# -gt 0 ]; do
  if [ "$1" = -o ]; then printf '#!/bin/sh\nexit %s\n' "${PROBE_RC:-0}" >"$2"; chmod +x "$2"; fi
  shift
done
EOF
chmod +x "$bin"/*

# run NAME ARCHS PKGARCHS FLAGS PROBE_RC ZUL_ARCH: a fresh state, then the set-up; its status in
# rc, its messages in out, what it changed in changes and the architectures it left in archs_after.
run() {
  name=$1
  STUB=$top/$name
  mkdir -p "$STUB"
  printf '%s' "$2" >"$STUB/archs"
  printf '%s' "$3" >"$STUB/pkgarchs"
  : >"$STUB/log"
  local f
  for f in $4; do touch "$STUB/$f"; done
  out=$(STUB=$STUB PROBE_RC=$5 ZUL_ARCH=$6 PATH="$bin:$PATH" timeout 60 bash "$root/tools/setup.sh" 2>&1)
  rc=$?
  changes=$(tr '\n' ',' <"$STUB/log")
  archs_after=$(tr '\n' ',' <"$STUB/archs")
}

# expect WHAT CONDITION...: one verdict of the case last run.
expect() {
  local what=$1
  shift
  if ! "$@"; then
    echo "setup_check: $name: $what (status $rc, changes '$changes', architectures '$archs_after')"
    echo "$out" | sed 's/^/    /'
    fails=$((fails + 1))
  fi
}
contains() { case $1 in *"$2"*) return 0 ;; esac; return 1; }

# The i386 architecture: only what this run added is taken away, and only when it holds nothing.
run admin-i386-kept 'i386
' 'amd64
' wine32-fails 0 ""
expect "ends well without the 32-bit Wine" [ "$rc" -eq 0 ]
expect "keeps the administrator's i386 architecture" [ "$changes" = "" ]
expect "i386 still enabled" [ "$archs_after" = "i386," ]

run own-i386-dropped '' 'amd64
' wine32-fails 0 ""
expect "ends well without the 32-bit Wine" [ "$rc" -eq 0 ]
expect "takes away the architecture it added" [ "$changes" = "add i386,remove i386," ]
expect "no foreign architecture left" [ "$archs_after" = "" ]

run own-i386-in-use '' 'amd64
i386
' "wine32-fails many" 0 ""
expect "ends well without the 32-bit Wine" [ "$rc" -eq 0 ]
expect "keeps an added architecture that holds a package, however long dpkg's list" \
  [ "$changes" = "add i386," ]

run wine32-installed '' 'amd64
' "" 0 ""
expect "ends well" [ "$rc" -eq 0 ]
expect "adds i386 and installs the 32-bit Wine" [ "$changes" = "add i386,install wine32:i386," ]

run no-32-bit-machine '' 'amd64
' "" 1 ""
expect "ends well: the tests run from the 64-bit build" [ "$rc" -eq 0 ]
expect "asks for no i386 package" [ "$changes" = "" ]

# ZUL_ARCH=i686 insists on the 32-bit tests: where they cannot run, the set-up says so and fails.
run forced-no-32-bit-machine '' 'amd64
' "" 1 i686
expect "fails" [ "$rc" -eq 1 ]
expect "says the machine cannot run 32-bit code" contains "$out" "ZUL_ARCH=i686"
expect "says the machine cannot run 32-bit code" contains "$out" "cannot run 32-bit code"
expect "changes nothing" [ "$changes" = "" ]

run forced-no-wine32 '' 'amd64
' wine32-fails 0 i686
expect "fails" [ "$rc" -eq 1 ]
expect "names the 32-bit Wine that could not be installed" contains "$out" "ZUL_ARCH=i686"
expect "names the 32-bit Wine that could not be installed" contains "$out" "wine32:i386"
expect "takes away the architecture it added" [ "$changes" = "add i386,remove i386," ]

run forced-admin-i386 'i386
' 'amd64
' wine32-fails 0 i686
expect "fails" [ "$rc" -eq 1 ]
expect "keeps the administrator's i386 architecture" [ "$archs_after" = "i386," ]

[ "$fails" -eq 0 ]
