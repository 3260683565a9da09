#!/usr/bin/env bash
# Runs a Windows executable under Wine, as CTest's emulator for the cross-built tests and by hand:
#   tools/windows/wine-run.sh [--prefix WINEPREFIX] [--env-launcher winenv.exe] PROGRAM.exe [ARGS...]
# The Wine prefix (default: $WINEPREFIX, else ~/.wine) is made on first use, once, under a lock,
# so that tests started in parallel do not race to create it. Wine's own messages are silenced
# unless WINEDEBUG is set; the exit code is the program's.
set -euo pipefail
launcher="${TARJETAS_WINENV:-}"
qtest_log=0
while [ $# -gt 0 ]; do
  case "$1" in
    --prefix) export WINEPREFIX="$2"; shift 2 ;;
    --env-launcher) launcher="$2"; shift 2 ;;
    --qtest-log) qtest_log=1; shift ;;
    *) break ;;
  esac
done
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
# Wine hands no QT_* variable to Windows programs: winenv.exe (built with the tests) sets the
# platform that QT_QPA_PLATFORM asks for (offscreen for the tests) inside Windows. It also
# empties DISPLAY and WAYLAND_DISPLAY there, as on Windows, where they never exist (Wine's own
# display driver reads Linux's DISPLAY, not the Windows program's).
command=("$wine")
if [ -n "$launcher" ] && [ -f "$launcher" ]; then
  command+=("$launcher" DISPLAY= WAYLAND_DISPLAY=)
  [ -n "${QT_QPA_PLATFORM:-}" ] && command+=("QT_QPA_PLATFORM=$QT_QPA_PLATFORM")
  command+=(--)
elif [ -n "${QT_QPA_PLATFORM:-}" ]; then
  echo "wine-run: QT_QPA_PLATFORM does not reach Windows programs without winenv.exe" >&2
fi
if [ $qtest_log = 0 ]; then
  exec "${command[@]}" "$@"
fi
# A Qt Test program's log written to standard output is lost under Wine when that output is a
# pipe (as under CTest): it writes to a file instead, shown here when the program ends.
log="$(mktemp "${TMPDIR:-/tmp}/wine-qtest.XXXXXX")"
trap 'rm -f "$log"' EXIT
"${command[@]}" "$@" -o "Z:${log//\//\\},txt" &
runner=$!
# Now and then Wine never ends a test program that has finished (its log says so, its totals
# written): 30 seconds after that it is ended here, and its totals give the exit code.
finished=""
while kill -0 "$runner" 2> /dev/null; do
  if [ -z "$finished" ] && grep -q '^\*\*\*\*\*\*\*\*\* Finished testing of' "$log"; then
    finished=$SECONDS
  fi
  if [ -n "$finished" ] && [ $((SECONDS - finished)) -ge 30 ]; then
    # The program is the one process whose command line names this log file.
    for pid in $(pgrep -f -- "$(basename "$log"),txt" || true); do kill "$pid" 2> /dev/null || true; done
    kill "$runner" 2> /dev/null || true
    wait "$runner" 2> /dev/null || true
    cat "$log"
    failed="$(sed -n 's/^Totals: [0-9]* passed, \([0-9]*\) failed.*/\1/p' "$log")"
    echo "wine-run: the test program had finished but Wine did not end it; ended after 30 s" >&2
    exit "${failed:-1}"
  fi
  sleep 0.3
done
status=0
wait "$runner" || status=$?
cat "$log"
exit $status
