# Sourced by scripts that run the Windows build under Wine. Gives the caller
# a fresh 64-bit prefix of its own and takes it down again on exit, with the
# prefix's wineserver: a killed client leaves a COM server behind, and only
# ending the wineserver ends it.
WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

dovel_wine_down() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
}

dovel_wine_up() {
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/dovel-wine.XXXXXX)
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY
  trap dovel_wine_down EXIT
  timeout 180 "$WINE64" wineboot -i >/dev/null 2>&1
  # Without this wait the first out-of-process activation in a new prefix hangs.
  timeout 180 "$WINESERVER" -w
}
