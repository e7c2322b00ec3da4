#!/usr/bin/env bash
# A throw-away PostgreSQL server for the tests, from the server programs of
# Debian's postgresql-<version> package (never the system's cluster):
#   pg-server.sh start DIR   cluster in DIR/data, listening only on the Unix
#                            socket in DIR, superuser role "braskon", database
#                            "braskon"; prints the database URL
#   pg-server.sh halt DIR    stops the server and keeps its data (start
#                            again restarts it, as after a server outage)
#   pg-server.sh stop DIR    stops the server and removes DIR
#   pg-server.sh url DIR     prints the URL of the running server
# initdb refuses to run as root, so as root the cluster belongs to the
# "postgres" account (or "nobody"); clients of any account get in through the
# socket with trust authentication, which is fine for a folder of the tests.
set -euo pipefail

action="${1:-}"
dir="${2:-}"
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|halt|stop|url DIR" >&2; exit 2; }

bindir="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)"
[ -x "$bindir/initdb" ] || { echo "pg-server.sh: the PostgreSQL server programs are missing (scripts/install-deps.sh test installs them)" >&2; exit 1; }

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  owner=postgres
  getent passwd postgres >/dev/null || owner=nobody
  as_owner=(setpriv --reuid="$owner" --regid="$(id -g "$owner")" --clear-groups --)
fi

url() {
  # The socket folder goes percent-encoded into the host part.
  local enc
  enc="$(printf '%s' "$dir" | sed 's/%/%25/g; s#/#%2F#g')"
  echo "postgresql://braskon@${enc}/braskon"
}

case "$action" in
start)
  if [ -f "$dir/data/postmaster.pid" ] && "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
    url; exit 0
  fi
  if [ -f "$dir/data/PG_VERSION" ]; then
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null \
      || { cat "$dir/server.log" >&2; exit 1; }
    url; exit 0
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  [ ${#as_owner[@]} -gt 0 ] && chown "$owner" "$dir"
  "${as_owner[@]}" "$bindir/initdb" -D "$dir/data" -U braskon -A trust -E UTF8 --locale=C.UTF-8 \
    --no-sync >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  # Test data is thrown away: no fsync, no TCP, a short socket path.
  cat >>"$dir/data/postgresql.conf" <<EOF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 100
shared_buffers = 32MB
EOF
  "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 start >/dev/null \
    || { cat "$dir/server.log" >&2; exit 1; }
  "${as_owner[@]}" "$bindir/psql" -h "$dir" -U braskon -d postgres -qAt -c "CREATE DATABASE braskon" >/dev/null
  url
  ;;
halt)
  "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
  ;;
stop)
  if [ -d "$dir/data" ]; then
    "${as_owner[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
url)
  url
  ;;
*)
  echo "usage: $0 start|halt|stop|url DIR" >&2; exit 2
  ;;
esac
