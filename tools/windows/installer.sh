#!/usr/bin/env bash
# Packs the Windows build (tools/windows/build.sh) into its NSIS installer,
# BUILD_DIR/tarjetas-<versión>-instalador.exe, and prints the installer's path.
# Usage: tools/windows/installer.sh [BUILD_DIR]        (default build-win)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(cd "${1:-build-win}" && pwd)"
stage="$build/stage"
if [ ! -f "$build/tarjetas.exe" ]; then
  echo "No Windows build in $build: run tools/windows/build.sh first." >&2
  exit 1
fi
# The installed layout, afresh from the build.
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" --strip > /dev/null
version="$(sed -n 's/^project(tarjetas VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
out="$build/tarjetas-$version-instalador.exe"
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DSTAGE="$stage" \
  -DICON="$PWD/packaging/windows/tarjetas.ico" -DOUTFILE="$out" packaging/windows/tarjetas.nsi >&2
echo "$out"
