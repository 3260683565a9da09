#!/usr/bin/env bash
# Builds the Debian package tarjetas_<version>_amd64.deb in Release into build-package/.
# Install it with: sudo apt install ./build-package/tarjetas_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DTARJETAS_BUILD_TESTS=OFF \
      -DTARJETAS_BUILD_BENCH=OFF > /dev/null
cmake --build build-package --parallel "$(nproc)"
(cd build-package && cpack -G DEB)
ls build-package/tarjetas_*_amd64.deb
