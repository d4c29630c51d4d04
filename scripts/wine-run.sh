#!/usr/bin/env bash
# Runs one Windows program under Wine, in the prefix the caller prepared
# (scripts/wine-env.sh), never longer than DOVEL_WINE_TIMEOUT seconds.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run.sh: WINEPREFIX is not set; run through scripts/dovel.sh test windows" >&2
  exit 125
fi
exec timeout -k 5 "${DOVEL_WINE_TIMEOUT:-240}" "${WINE64:-/usr/lib/wine/wine64}" "$@"
