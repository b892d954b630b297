#!/usr/bin/env bash
# Builds everything, makes a catalogue of 1,000,000 products and one of 3,000,000 (once each;
# kept in build/), runs the search, CSV-export and CSV-import benchmarks beside the sqlite3
# shell, an export of the large catalogue while a second program stores products, and the
# searches on a copy of the 1,000,000-product catalogue on a throwaway PostgreSQL server
# beside psql, and the import of an Access (Jet 4) catalogue of 100,000 products beside
# mdbtools' mdb-export.
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/build.sh
catalogue=build/bench-1m.mdb
if [ ! -f "$catalogue" ]; then
    echo "Generating $catalogue (1,000,000 products, 5,000 suppliers, 300 departments)..."
    build/bench/generate_catalogue "$catalogue" 1000000 5000 300
fi
large=build/bench-3m.mdb
if [ ! -f "$large" ]; then
    echo "Generating $large (3,000,000 products; a few minutes)..."
    build/bench/generate_catalogue "$large" 3000000 5000 300
fi
access=build/bench-jet4-100k.mdb
if [ ! -f "$access" ]; then
    echo "Generating $access (Access, Jet 4: 100,000 products, 500 suppliers)..."
    build/tools/make_jet --products 100000 --suppliers 500 "$access"
fi
status=0
build/bench/bench_search "$catalogue" 5 || status=1
build/bench/bench_csv "$catalogue" 3 || status=1
build/bench/bench_import "$catalogue" 3 || status=1
build/bench/bench_concurrent "$large" || status=1
build/bench/bench_jet "$access" 3 || status=1

server_state=$(mktemp /tmp/merchalog-bench-pg.XXXXXX)
trap 'bash tools/pgserver.sh stop "$server_state"' EXIT
bash tools/pgserver.sh start "$server_state"
socket=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$(sed -n 1p "$server_state")")
address="postgresql://postgres@$socket:$(sed -n 2p "$server_state")/postgres"
echo "Copying $catalogue to the server..."
started=$SECONDS
build/app/merchalog copy --replace "$catalogue" "$address"
echo "copy took $((SECONDS - started)) s"
build/bench/bench_server "$catalogue" "$address" 5 || status=1
exit $status
