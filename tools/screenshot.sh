#!/usr/bin/env bash
# Builds the program, fills a registry with generated cards, starts the program on it under a
# virtual X display and saves a PNG of the screen. With --listing it first clicks "Imprimir
# Listado" as a user would, so that the preview stands beside the main window.
#   tools/screenshot.sh [--listing] [output.png] [cards]
set -euo pipefail
cd "$(dirname "$0")/.."
listing=0
if [ "${1:-}" = "--listing" ]; then
  listing=1
  shift
fi
out="$(realpath -m "${1:-screenshot.png}")"
cards="${2:-300}"
screen="1024x700x24"
click=""
if [ "$listing" = 1 ]; then
  screen="1600x1000x24"
  # At 96 dpi the window opens in the top-left corner with "Imprimir Listado" at (55, 487).
  click="xdotool mousemove 55 487 click 1; sleep 4"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug > /dev/null
cmake --build build -j2 --target tarjetas gen_registry > /dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/data"
cp build/tarjetas "build/Clientes Tolvane.INI" "$work/app/"
build/gen_registry "$cards" 7 "$work/app/DAT.db" > /dev/null

cat > "$work/shoot.sh" <<SHOOT
#!/usr/bin/env bash
"$work/app/tarjetas" --data-dir "$work/data" --export-dir "$work" &
pid=\$!
sleep 3
$click
import -window root "$out"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 $screen -dpi 96" "$work/shoot.sh"
echo "$out"
