#!/usr/bin/env bash
# Starts and stops a throwaway PostgreSQL 15 server for the tests and the benchmarks.
#
#   tools/pgserver.sh start STATEFILE [--tls]
#   tools/pgserver.sh stop STATEFILE
#   tools/pgserver.sh pause|resume STATEFILE
#
# start makes a new cluster in a fresh temporary folder, owned and run by an unprivileged
# user (initdb and the server refuse to run as root), listening only on a Unix socket in
# that folder, and writes the folder's path to STATEFILE. With --tls it also listens on a
# free port of 127.0.0.1 with a certificate of its own and accepts TCP connections only
# over TLS. The superuser is "postgres" without a password over the socket; the role
# "merchalog_pw" (password "secret-pw") must give its password. stop ends that server and
# removes its folder and STATEFILE; it does nothing when STATEFILE is missing. pause stops
# the server and keeps its data, resume starts it again on the same socket and port.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail

bindir=/usr/lib/postgresql/15/bin
action=${1:-}
statefile=${2:-}
tls=${3:-}
if [ -z "$action" ] || [ -z "$statefile" ]; then
    echo "usage: $0 start|stop|pause|resume STATEFILE [--tls]" >&2
    exit 2
fi

# Runs a command as the user that owns the cluster.
as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        setpriv --reuid="$owner" --regid="$(id -g "$owner")" --clear-groups -- "$@"
    else
        "$@"
    fi
}

owner=$(id -un)
if [ "$(id -u)" -eq 0 ]; then
    owner=postgres
    id "$owner" >/dev/null 2>&1 || owner=nobody
fi

case "$action" in
start)
    if [ ! -x "$bindir/initdb" ]; then
        echo "$0: PostgreSQL 15 is not installed (run tools/setup.sh)" >&2
        exit 1
    fi
    dir=$(mktemp -d /tmp/merchalog-pg.XXXXXX)
    chmod 755 "$dir"
    mkdir "$dir/data"
    [ "$(id -u)" -eq 0 ] && chown -R "$owner" "$dir"
    as_owner "$bindir/initdb" -D "$dir/data" -U postgres --auth=trust --encoding=UTF8 \
        --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1 || {
        cat "$dir/initdb.log" >&2
        exit 1
    }
    {
        echo "listen_addresses = ''"
        echo "unix_socket_directories = '$dir'"
        echo "fsync = off"
        echo "synchronous_commit = off"
        echo "full_page_writes = off"
        echo "max_connections = 60"
        echo "shared_buffers = 256MB"
        echo "work_mem = 16MB"
        echo "maintenance_work_mem = 256MB"
        echo "log_min_messages = warning"
    } >>"$dir/data/postgresql.conf"
    {
        echo "local all merchalog_pw scram-sha-256"
        echo "local all all trust"
    } >"$dir/data/pg_hba.conf"
    port=5432
    if [ "$tls" = "--tls" ]; then
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
            -keyout "$dir/data/server.key" -out "$dir/data/server.crt" >/dev/null 2>&1
        chmod 600 "$dir/data/server.key"
        [ "$(id -u)" -eq 0 ] && chown "$owner" "$dir/data/server.key" "$dir/data/server.crt"
        port=$((20000 + RANDOM % 30000))
        {
            echo "listen_addresses = '127.0.0.1'"
            echo "ssl = on"
        } >>"$dir/data/postgresql.conf"
        {
            echo "hostnossl all all 127.0.0.1/32 reject"
            echo "hostssl all merchalog_pw 127.0.0.1/32 scram-sha-256"
            echo "hostssl all all 127.0.0.1/32 trust"
        } >>"$dir/data/pg_hba.conf"
    fi
    started=0
    for attempt in 1 2 3 4 5; do
        if as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -o "-p $port" -w -t 30 start >/dev/null; then
            started=1
            break
        fi
        # Only a TCP port can be taken by someone else: try another.
        [ "$tls" = "--tls" ] || break
        port=$((20000 + RANDOM % 30000))
    done
    if [ "$started" -ne 1 ]; then
        cat "$dir/server.log" >&2 || true
        rm -rf "$dir"
        exit 1
    fi
    "$bindir/psql" -X -q -h "$dir" -p "$port" -U postgres -d postgres -v ON_ERROR_STOP=1 \
        -c "CREATE ROLE merchalog_pw LOGIN PASSWORD 'secret-pw'" \
        -c "GRANT CREATE ON SCHEMA public TO PUBLIC" \
        -c "CREATE EXTENSION IF NOT EXISTS pg_trgm" >/dev/null
    # Databases the tests create start with the extension.
    "$bindir/psql" -X -q -h "$dir" -p "$port" -U postgres -d template1 -c "CREATE EXTENSION IF NOT EXISTS pg_trgm" >/dev/null
    printf '%s\n%s\n' "$dir" "$port" >"$statefile"
    ;;
pause | resume)
    dir=$(sed -n 1p "$statefile")
    port=$(sed -n 2p "$statefile")
    if [ "$action" = pause ]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    else
        as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -o "-p $port" -w -t 30 start >/dev/null
    fi
    ;;
stop)
    [ -f "$statefile" ] || exit 0
    dir=$(sed -n 1p "$statefile")
    case "$dir" in
    /tmp/merchalog-pg.*) ;;
    *)
        echo "$0: $statefile does not name a server folder" >&2
        exit 1
        ;;
    esac
    if [ -d "$dir/data" ]; then
        as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    rm -f "$statefile"
    ;;
*)
    echo "usage: $0 start|stop|pause|resume STATEFILE [--tls]" >&2
    exit 2
    ;;
esac
