#!/usr/bin/env bash
# The Windows stage of the tests: completes the cross-building prefix (tools/windows/toolchain.sh),
# cross-builds the program and its tests, runs the tests as Windows executables under Wine
# (offscreen), then the installer's test in a fresh Wine prefix. Skipped, and said so, when
# neither the prefix nor the shared archive it is made from is there.
#   tools/windows/test.sh [BUILD_DIR]        (default build-win)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="${1:-build-win}"
prefix="${TARJETAS_WIN64_PREFIX:-/opt/tarjetas-win64}"
archive="${TARJETAS_WIN64_ARCHIVE:-}"
# shared/ lies beside the clone (in a worktree of it, one level further up); a clone made
# elsewhere on this machine (CI's) finds it in /work.
# The tests' data files (tests/support/TestData.h) come from the same shared folder.
for shared in ../shared ../../shared /work/shared; do
  if [ -z "$archive" ] && [ -f "$shared/toolchains/tarjetas-win64-qt6.4.2-sqlite3.40.1.tar.xz" ]; then
    archive="$shared/toolchains/tarjetas-win64-qt6.4.2-sqlite3.40.1.tar.xz"
  fi
  if [ -z "${TARJETAS_TESTDATA_DIR:-}" ] && [ -d "$shared/testdata" ]; then
    export TARJETAS_TESTDATA_DIR="$(cd "$shared/testdata" && pwd)"
  fi
done
if [ ! -f "$prefix/lib/cmake/Qt6/qt.toolchain.cmake" ] && [ -z "$archive" ]; then
  echo "Windows: SKIPPED. Neither the prefix $prefix nor the shared archive" \
    "tarjetas-win64-qt6.4.2-sqlite3.40.1.tar.xz is present, so the Windows build and its" \
    "tests did not run."
  exit 0
fi
export TARJETAS_WIN64_ARCHIVE="${archive:-none}"

start=$SECONDS
tools/windows/toolchain.sh "$prefix"
echo "Windows: toolchain ready after $((SECONDS - start)) s"
TARJETAS_WIN64_PREFIX="$prefix" tools/windows/build.sh "$build"
echo "Windows: built after $((SECONDS - start)) s"
# The tests' PostgreSQL cluster, on the loopback since the Windows libpq has no Unix sockets, so
# that the server tests (*_pg) run too; stopped and deleted at the end whatever happens.
pg_dir="$(mktemp -d -u "${TMPDIR:-/tmp}/tarjetas-pg-win.XXXXXX")"
trap 'tools/pg_cluster.sh stop "$pg_dir"' EXIT
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 40000))
  if TARJETAS_TEST_PG="$(TARJETAS_PG_TCP_PORT=$port tools/pg_cluster.sh start "$pg_dir" 2> /dev/null)"; then
    break
  fi
  tools/pg_cluster.sh stop "$pg_dir"
  TARJETAS_TEST_PG=""
done
[ -n "$TARJETAS_TEST_PG" ] || { echo "Windows: no free port for the tests' PostgreSQL cluster" >&2; exit 1; }
export TARJETAS_TEST_PG
# The unit and window tests run offscreen; the installer's test (windows_installer) starts a
# virtual display of its own.
# Now and then a test program under Wine hangs before it ends, a test that takes a second on
# Linux and on Windows waiting out its whole time limit: a test that ran out of time runs once more.
# A test that fails, or runs out of time twice, still fails the stage.
(cd "$build" && ctest --output-on-failure --parallel "$(nproc)" --repeat after-timeout:2)
echo "Windows: tests run after $((SECONDS - start)) s"
