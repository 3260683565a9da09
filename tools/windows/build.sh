#!/usr/bin/env bash
# Cross-builds the program for 64-bit Windows with MinGW-w64 and the prefix that
# tools/windows/toolchain.sh makes, in Release, with its tests (run them with
# `ctest --test-dir BUILD_DIR`; they run under Wine). Leaves:
#   BUILD_DIR/stage/      the installed layout the installer packs: bin\tarjetas.exe with its DLLs,
#                         Qt's plugins and Spanish texts, share\tarjetas\ with the master INI;
#   BUILD_DIR/portable/   the same program as one folder with the master INI beside tarjetas.exe,
#                         which keeps DAT.db beside it (a USB stick, a shared folder).
# The prefix holds no Qt Charts, so the report's chart is the one drawn with a painter
# (TARJETAS_CHARTS=OFF).
# Usage: tools/windows/build.sh [BUILD_DIR]        (default build-win)
# Environment: TARJETAS_WIN64_PREFIX (default /opt/tarjetas-win64); TARJETAS_WIN_TESTS=0 builds
# the program alone.
set -euo pipefail
cd "$(dirname "$0")/../.."
prefix="${TARJETAS_WIN64_PREFIX:-/opt/tarjetas-win64}"
build="${1:-build-win}"
tests="${TARJETAS_WIN_TESTS:-1}"
jobs="$(nproc)"

if [ ! -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ]; then
  echo "No Windows prefix in $prefix: run tools/windows/toolchain.sh first." >&2
  exit 1
fi

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$prefix/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=Release -DTARJETAS_BUILD_BENCH=OFF -DTARJETAS_CHARTS=OFF \
  -DTARJETAS_BUILD_TESTS="$([ "$tests" = 0 ] && echo OFF || echo ON)" > /dev/null
cmake --build "$build" --parallel "$jobs"

rm -rf "$build/stage" "$build/portable"
cmake --install "$build" --prefix "$build/stage" --strip > /dev/null
cp -r "$build/stage/bin" "$build/portable"
cp "$build/stage/share/tarjetas/Clientes Tolvane.INI" "$build/portable/"
echo "Windows build: $build/stage (installed layout), $build/portable (one folder)"
