#!/usr/bin/env bash
# Runs a Windows executable under Wine, as CTest's emulator for the cross-built tests and by hand:
#   tools/windows/wine-run.sh [--prefix WINEPREFIX] PROGRAM.exe [ARGUMENTS...]
# With QT_QPA_PLATFORM set, PROGRAM must be a Qt program (see below).
# The Wine prefix (default: $WINEPREFIX, else ~/.wine) is made on first use, once, under a lock,
# so that tests started in parallel do not race to create it. Wine's own messages are silenced
# unless WINEDEBUG is set; the exit code is the program's.
set -euo pipefail
if [ "${1:-}" = --prefix ]; then
  export WINEPREFIX="$2"
  shift 2
fi
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer dialogs, no menu entries written to the Linux desktop.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
wine="${TARJETAS_WINE:-/usr/lib/wine/wine64}"
[ -x "$wine" ] || wine="$(command -v wine64 || command -v wine)"

if [ ! -f "$WINEPREFIX/.tarjetas-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tarjetas-ready" ]; then
      "$wine" wineboot --init > /dev/null 2>&1 || true
      # Windows has Arial; here Liberation Sans, of the same metrics, takes its place.
      "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Arial /t REG_SZ \
        /d 'Liberation Sans' /f > /dev/null 2>&1 || true
      "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Arial Narrow' /t REG_SZ \
        /d 'Liberation Sans Narrow' /f > /dev/null 2>&1 || true
      "$(dirname "$wine")/wineserver" -w 2> /dev/null || wineserver -w 2> /dev/null || true
      [ -d "$WINEPREFIX/drive_c" ] || { echo "wine-run: could not make the Wine prefix $WINEPREFIX" >&2; exit 1; }
      touch "$WINEPREFIX/.tarjetas-ready"
    fi
  ) 9> "$WINEPREFIX.lock"
fi
# Wine hands no QT_* variable to Windows programs: a Qt program is given the platform that
# QT_QPA_PLATFORM asks for (offscreen for the tests) on its command line instead.
if [ -n "${QT_QPA_PLATFORM:-}" ] && [ $# -gt 0 ]; then
  program="$1"
  shift
  set -- "$program" -platform "$QT_QPA_PLATFORM" "$@"
fi
exec "$wine" "$@"
