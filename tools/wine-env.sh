# Common Wine environment for the project's scripts (sourced).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The programs ship as 32-bit Windows programs and are tested as such under 32-bit Wine.
# Some machines run a kernel without 32-bit support (no 32-bit code segment, so 32-bit Wine
# cannot start), and some have no 32-bit Wine (tools/setup.sh leaves it out there, or when a
# broken package list kept it from being installed); there the same sources are built for 64-bit
# Windows and tested under 64-bit Wine. ZUL_ARCH (i686 or x86_64) may be set to force a choice.

# zul_ia32_runs: true when this machine runs 32-bit code (true too when no compiler builds the probe).
zul_ia32_runs() {
  local here probe
  here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  probe=${TMPDIR:-/tmp}/zul-ia32-probe.$(id -u)
  if [ ! -x "$probe" ] || [ "$here/ia32-probe.c" -nt "$probe" ]; then
    cc -O0 -o "$probe.$$" "$here/ia32-probe.c" 2>/dev/null && mv -f "$probe.$$" "$probe"
  fi
  [ ! -x "$probe" ] || "$probe"
}

# zul_wine32_installed: true when the 32-bit Wine loader is there.
zul_wine32_installed() {
  [ -x /usr/lib/wine/wine ] || [ -x /usr/lib/i386-linux-gnu/wine/wine ]
}

zul_detect_arch() {
  if zul_ia32_runs && zul_wine32_installed; then echo i686; else echo x86_64; fi
}
export ZUL_ARCH=${ZUL_ARCH:-$(zul_detect_arch)}
if [ "$ZUL_ARCH" = x86_64 ]; then
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  ZUL_WINE=/usr/lib/wine/wine64
else
  export WINEARCH=win32
  ZUL_WINE=wine
fi


# zul_prepare_prefix PREFIX: create the private prefix once (serialised with a lock).
zul_prepare_prefix() {
  local prefix=$1
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.zul-ready" ]; then
      rm -rf "$prefix"
      WINEPREFIX="$prefix" timeout -k 10 300 "$ZUL_WINE" wineboot -i >/dev/null 2>&1 || true
      WINEPREFIX="$prefix" timeout -k 10 120 wineserver -w >/dev/null 2>&1 || true
      if [ -f "$prefix/system.reg" ]; then
        touch "$prefix/.zul-ready"
      else
        echo "wine-env: could not create the Wine prefix $prefix" >&2
        exit 1
      fi
    fi
  ) 9>"$prefix.lock"
}

# zul_run_build BUILD: the build folder whose programs run here (BUILD itself, or its 64-bit
# twin BUILD/x64 on a machine without 32-bit support).
zul_run_build() {
  if [ "$ZUL_ARCH" = x86_64 ]; then echo "$1/x64"; else echo "$1"; fi
}
