#!/bin/sh
# A throwaway PostgreSQL server for the store's tests: `pg_server.sh start DIR` makes a cluster
# in DIR that listens only on a Unix socket in DIR (no TCP port) and trusts local users;
# `pg_server.sh stop DIR` stops it and removes DIR. The server refuses to run as root, so as
# root it runs as the unprivileged `postgres` user that Debian's package creates. Exit 77:
# the server's binaries are not installed (the tests then skip).
set -eu
command=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg_server.sh: the PostgreSQL server is not installed (Debian: postgresql)" >&2
  exit 77
fi
as=""
if [ "$(id -u)" = 0 ]; then as="runuser -u postgres --"; fi
case $command in
start)
  mkdir -p "$dir"
  chmod 755 "$dir"
  if [ -n "$as" ]; then chown postgres "$dir"; fi
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    $as "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C --no-sync >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
  fi
  $as "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=${KELVO_PG_FSYNC:-off} -c max_connections=50" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  ;;
pause)   # stops the server and keeps its data, for a test that starts it again
  $as "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  ;;
stop)
  if [ -f "$dir/data/postmaster.pid" ]; then $as "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true; fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: pg_server.sh start|pause|stop DIR" >&2
  exit 2
  ;;
esac
