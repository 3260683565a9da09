#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests and the benchmark.
#
#   tools/pg_cluster.sh start DIR   makes a cluster in DIR (which must not exist or be empty),
#                                   starts it on a Unix socket in DIR (no TCP), creates the role and
#                                   database "tarjetas" and prints the libpq URI that reaches it
#   tools/pg_cluster.sh stop DIR    stops it and deletes DIR
#
# With TARJETAS_PG_TCP_PORT=PORT it also listens on 127.0.0.1:PORT and the URI names that (for
# the Windows tests under Wine, whose libpq has no Unix sockets).
#
# PostgreSQL refuses to run as root: as root the server runs as the unprivileged "postgres" account
# of the Debian package, through runuser.
set -euo pipefail

action="${1:-}"
dir="${2:-}"
if [ -z "$action" ] || [ -z "$dir" ]; then
  echo "uso: $0 start|stop CARPETA" >&2
  exit 2
fi

bin="${PG_BIN:-}"
if [ -z "$bin" ]; then
  for candidate in /usr/lib/postgresql/*/bin; do
    [ -x "$candidate/initdb" ] && bin="$candidate"
  done
fi
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "No se encontró initdb de PostgreSQL (instale el paquete postgresql)." >&2
  exit 1
fi

as_server=()
if [ "$(id -u)" -eq 0 ]; then
  as_server=(runuser -u postgres --)
fi

case "$action" in
start)
  mkdir -p "$dir"
  dir="$(cd "$dir" && pwd)"
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  chmod 700 "$dir"
  "${as_server[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 \
    --locale=C.UTF-8 > "$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  # Only the socket in the cluster's own folder; no TCP unless asked for, and then on the
  # loopback only. fsync stays on: the tests check what a committed write leaves.
  port="${TARJETAS_PG_TCP_PORT:-}"
  listen="''"
  [ -n "$port" ] && listen="'127.0.0.1' -c port=$port"
  "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-c listen_addresses=$listen -c unix_socket_directories='$dir' -c max_connections=200" \
    start > /dev/null || { cat "$dir/server.log" >&2; exit 1; }
  # The socket's folder must be reachable by the tests' user too.
  chmod 755 "$dir"
  "${as_server[@]}" "$bin/psql" -h "$dir" ${port:+-p "$port"} -U postgres -d postgres -v ON_ERROR_STOP=1 -q \
    -c "CREATE ROLE tarjetas LOGIN CREATEDB" -c "CREATE DATABASE tarjetas OWNER tarjetas" \
    > /dev/null
  # The URI names the socket's folder as host, percent-encoded.
  host="$(printf '%s' "$dir" | sed 's|%|%25|g; s|/|%2F|g; s| |%20|g')"
  [ -n "$port" ] && host="127.0.0.1:$port"
  echo "postgresql://tarjetas@${host}/tarjetas"
  ;;
stop)
  if [ -d "$dir/data" ]; then
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop > /dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*)
  echo "uso: $0 start|stop CARPETA" >&2
  exit 2
  ;;
esac
