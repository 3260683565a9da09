#!/usr/bin/env bash
# Builds and runs every test, then builds again with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own and runs the tests there too, and the tests of
# work done on threads once more under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/deps.sh
jobs="$(nproc)"

# A PostgreSQL cluster of the tests' own, so that the store's tests run on both engines; it is
# stopped and deleted at the end whatever happens.
pg_dir="$(mktemp -d -u "${TMPDIR:-/tmp}/tarjetas-pg.XXXXXX")"
trap 'tools/pg_cluster.sh stop "$pg_dir"' EXIT
TARJETAS_TEST_PG="$(tools/pg_cluster.sh start "$pg_dir")"
export TARJETAS_TEST_PG

cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build-test --parallel "$jobs"
(cd build-test && ctest --output-on-failure --parallel "$jobs")

if [ "${TARJETAS_SKIP_SANITIZERS:-0}" != "1" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARJETAS_SANITIZE=ON \
        -DTARJETAS_BUILD_BENCH=OFF > /dev/null
  cmake --build build-asan --parallel "$jobs"
  (cd build-asan && ctest --output-on-failure --parallel "$jobs")
  # ThreadSanitizer for the tests of what runs on a thread: the backup copy's check, and the
  # export's writing beside the store's reading.
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DTARJETAS_SANITIZE_THREAD=ON \
        -DTARJETAS_BUILD_BENCH=OFF > /dev/null
  cmake --build build-tsan --parallel "$jobs" --target test_backup test_csv_export
  (cd build-tsan && ctest --output-on-failure -R '^(test_backup|test_csv_export)$')
fi
