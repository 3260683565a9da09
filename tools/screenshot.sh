#!/usr/bin/env bash
# Builds the program, fills a registry with generated cards, starts the program on it under a
# virtual X display and saves a PNG of the screen.
#   tools/screenshot.sh [output.png] [cards]
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-screenshot.png}")"
cards="${2:-300}"

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
import -window root "$out"
kill \$pid
SHOOT
chmod +x "$work/shoot.sh"
xvfb-run -a -s "-screen 0 1024x700x24 -dpi 96" "$work/shoot.sh"
echo "$out"
