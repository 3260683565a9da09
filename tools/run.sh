#!/usr/bin/env bash
# Builds the program in Release and starts it. Arguments are passed to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTARJETAS_BUILD_TESTS=OFF > /dev/null
cmake --build build --parallel "$(nproc)" --target tarjetas
exec build/tarjetas "$@"
