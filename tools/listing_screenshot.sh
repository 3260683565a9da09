#!/usr/bin/env bash
# Starts the program on a generated registry under a virtual X display, clicks "Imprimir
# Listado" as a user would, and saves a PNG of the screen with the preview beside the main window.
#   tools/listing_screenshot.sh [output.png] [cards]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-listing.png}")"
cards="${2:-40}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Debug > /dev/null
cmake --build build -j2 --target tarjetas gen_registry > /dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/data"
cp build/tarjetas "build/Clientes Tolvane.INI" "$work/app/"
build/gen_registry "$cards" 7 "$work/app/DAT.db" > /dev/null

# At 96 dpi the window opens in the top-left corner with "Imprimir Listado" at (55, 487).
cat > "$work/shoot.sh" <<SHOOT
#!/usr/bin/env bash
"$work/app/tarjetas" --data-dir "$work/data" --export-dir "$work" &
pid=\$!
sleep 3
xdotool mousemove 55 487 click 1
sleep 4
import -window root "$out"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 1600x1000x24 -dpi 96" "$work/shoot.sh"
echo "$out"
