#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine (run as root).
# Installs only what is missing, so a second run costs a few seconds.
set -eu
export DEBIAN_FRONTEND=noninteractive

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64 xvfb xauth \
         clang libclang-rt-14-dev libz-mingw-w64-dev zlib1g-dev libxml2-dev pkg-config \
         dosfstools mtools; do
  have "$p" || need+=("$p")
done
for p in "$@"; do have "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index now and then; what was fetched still serves.
  apt-get update -q || echo "setup: apt-get update reported errors; going on with the lists it has" >&2
  apt-get install -y -q --no-install-recommends "${need[@]}" </dev/null
fi
[ -d /usr/src/googletest ] || apt-get install -y -q googletest </dev/null
