#!/usr/bin/env bash
# Builds and runs every test, then builds again with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own and runs the tests there too.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
jobs="$(nproc)"

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-test --parallel "$jobs"
(cd build-test && ctest --output-on-failure --parallel "$jobs")

if [ "${TARJETAS_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARJETAS_SANITIZE=ON \
        -DTARJETAS_BUILD_BENCH=OFF > /dev/null
  cmake --build build-asan --parallel "$jobs"
  (cd build-asan && ctest --output-on-failure --parallel "$jobs")
fi
