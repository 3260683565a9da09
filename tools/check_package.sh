#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as a practice's PC would meet it:
# its contents and metadata, lintian, the menu entry and AppStream files, and the unpacked program
# started under Xvfb with an empty HOME, which must make its registry in the user's data folder.
# Usage: tools/check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FALLA: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out" > "$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/tarjetas_*_amd64.deb)
echo "paquete: $(basename "$deb")"

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/tarjetas "./usr/share/tarjetas/Clientes Tolvane.INI" \
            ./usr/share/applications/cl.tarjetas.Tarjetas.desktop \
            ./usr/share/metainfo/cl.tarjetas.Tarjetas.metainfo.xml \
            ./usr/share/man/man1/tarjetas.1.gz ./usr/share/man/es/man1/tarjetas.1.gz \
            ./usr/share/doc/tarjetas/copyright ./usr/share/doc/tarjetas/changelog.Debian.gz; do
  grep -qF " $path" <<<"$contents" || fail "falta $path"
done
for size in 16 32 48 64 128 256; do
  grep -qF "./usr/share/icons/hicolor/${size}x${size}/apps/tarjetas.png" <<<"$contents" ||
    fail "falta el ícono de ${size}x${size}"
done
# Nothing outside /usr: the registry and the data folder belong to the user, not to the package.
if grep -vE ' \./(usr/.*)?$' <<<"$contents"; then fail "archivos fuera de /usr"; fi

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dep in libqt6widgets6 libqt6sql6 libqt6charts6 libsqlite3-0 libmdb3 libqt6sql6-sqlite libqt6sql6-psql libpq5 qt6-qpa-plugins fonts-liberation; do
  grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "Depends no nombra $dep"
done

# A package for the practices, not for Debian's archive: no bug to close with its first upload.
lintian --fail-on error --suppress-tags initial-upload-closes-no-bugs "$deb" > "$work/lintian.log" 2>&1 ||
  { cat "$work/lintian.log"; fail "lintian"; }
grep -v "running with root privileges" "$work/lintian.log" || true

dpkg-deb -x "$deb" "$work/root"
desktop-file-validate "$work/root/usr/share/applications/cl.tarjetas.Tarjetas.desktop" ||
  fail "desktop-file-validate"
appstreamcli validate --no-net "$work/root/usr/share/metainfo/cl.tarjetas.Tarjetas.metainfo.xml" ||
  fail "appstreamcli validate"

# The unpacked program, as a new user starts it from the menu.
home="$work/home"
mkdir -p "$home"
export HOME="$home"
unset XDG_DATA_HOME
# Read whole before looking: grep -q leaving early would end the program with SIGPIPE once the
# help is longer than one pipe write.
help_text="$("$work/root/usr/bin/tarjetas" --help)"
grep -q "Programa instalado" <<<"$help_text" || fail "--help no dice dónde está el registro"
grep -q '^StartupWMClass=tarjetas$' "$work/root/usr/share/applications/cl.tarjetas.Tarjetas.desktop" ||
  fail "el menú no dice la clase de la ventana (StartupWMClass)"
manual=$(MANWIDTH=100 man -l "$work/root/usr/share/man/man1/tarjetas.1.gz" 2>&1)
synopsis=$(sed -n '/^SINOPSIS/,/^DESCRIPCI/p;/^VARIOS/p' <<<"$manual")
for option in --restaurar --copiar-a-servidor --depurar "VARIOS USUARIOS EN UN PC"; do
  grep -qF -- "$option" <<<"$synopsis" ||
    fail "la página de manual no trae $option en su sinopsis"
done
# Spanish words split by English hyphenation rules ("vet-erinaria") at the end of a line.
if grep -E '[[:alpha:]]‐$|[[:alpha:]]-$' <<<"$manual"; then fail "la página de manual parte palabras"; fi
# Without a display: a Spanish message and exit code 1, not Qt's English abort.
set +e
nodisplay=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$work/root/usr/bin/tarjetas" 2>&1)
code=$?
set -e
[ "$code" = 1 ] && grep -q "No se puede abrir la ventana" <<<"$nodisplay" ||
  fail "sin pantalla: código $code, $nodisplay"
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  "$1" & pid=$!
  for _ in $(seq 300); do  # up to a minute: the suite runs beside it
    if [ -f "$HOME/.local/share/tarjetas/DAT.db" ] &&
       wid=$(xdotool search --onlyvisible --name "Tarjeta de Identificacion" 2>/dev/null); then
      # The taskbar ties the window to its menu entry by the window class.
      xprop -id "${wid%%[[:space:]]*}" WM_CLASS | grep -qF "\"tarjetas\", \"tarjetas\"" || { kill $pid; exit 5; }
      kill $pid; wait $pid 2>/dev/null; exit 0
    fi
    kill -0 $pid 2>/dev/null || exit 3
    sleep 0.2
  done
  kill $pid; exit 4' bash "$work/root/usr/bin/tarjetas" || fail "la ventana no se abrió con su registro (código $?)"
[ -f "$home/TOLVANE_FILES/Clientes Tolvane.INI" ] || fail "no se copió la configuración maestra"
[ ! -e "$work/root/usr/bin/DAT.db" ] || fail "el registro quedó junto al ejecutable"
# The owners' personal data is the user's alone: folders 0700, the registry 0600.
for path in "$home/.local/share/tarjetas" "$home/TOLVANE_FILES"; do
  [ "$(stat -c %a "$path")" = 700 ] || fail "$path tiene modo $(stat -c %a "$path"), no 700"
done
[ "$(stat -c %a "$home/.local/share/tarjetas/DAT.db")" = 600 ] || fail "DAT.db no tiene modo 600"
