#!/usr/bin/env bash
# A throwaway PostgreSQL 15 cluster for the history tests.
#   scripts/pg-cluster.sh start DIR   create a cluster in DIR and serve it on the socket DIR/.s.PGSQL.5432
#   scripts/pg-cluster.sh stop DIR    stop it and remove DIR
# The server listens on no TCP port, trusts the local user "lanshu" and keeps
# no data worth syncing. PostgreSQL refuses to run as root, so when started by
# root it runs as "nobody". Missing binaries are an error: the tests that need
# the server must fail, not pass without it.
set -euo pipefail

action=${1:-}
dir=${2:-}
if [ -z "$action" ] || [ -z "$dir" ]; then
  echo "usage: $0 start|stop DIR" >&2
  exit 2
fi
bin=${PG_BIN:-/usr/lib/postgresql/15/bin}

as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

stop() {
  if [ -f "$dir/data/postmaster.pid" ] && [ -x "$bin/pg_ctl" ]; then
    as_server_user "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 20 stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start)
    for tool in initdb pg_ctl; do
      if [ ! -x "$bin/$tool" ]; then
        echo "pg-cluster: $bin/$tool is missing; install the Debian package postgresql (15)" >&2
        exit 1
      fi
    done
    stop  # whatever a killed earlier run left behind
    mkdir -p "$dir"
    chmod 0755 "$dir"
    if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
    if ! as_server_user "$bin/initdb" -D "$dir/data" -U lanshu -A trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      stop
      exit 1
    fi
    if ! as_server_user "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
        -o "-c listen_addresses='' -k $dir -p 5432 -c fsync=off -c max_connections=100" start >/dev/null; then
      cat "$dir/server.log" >&2 || true
      stop
      exit 1
    fi
    echo "pg-cluster: serving on $dir/.s.PGSQL.5432"
    ;;
  stop)
    stop
    ;;
  *)
    echo "usage: $0 start|stop DIR" >&2
    exit 2
    ;;
esac
