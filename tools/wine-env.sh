# Common Wine environment for the project's scripts (sourced).
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32

# zul_prepare_prefix PREFIX: create the private prefix once (serialised with a lock).
zul_prepare_prefix() {
  local prefix=$1
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [ ! -f "$prefix/.zul-ready" ]; then
      rm -rf "$prefix"
      WINEPREFIX="$prefix" timeout -k 10 300 wineboot -i >/dev/null 2>&1 || true
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
