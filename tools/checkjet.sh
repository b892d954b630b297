#!/usr/bin/env bash
# Checks the Access files the tests read against two readers other than the program's: the
# npm package mdb-reader (installed into build/mdbreader on the first run, never into the
# source tree) and mdbtools' mdb-export. Writes each tests/data/jet/*.json as Jet 3, Jet 4 and
# Jet 4 with uncompressed text, compares every value each reader gives with the JSON, and
# compares the two readers on generated catalogues of 100,000 products.
#
#   tools/checkjet.sh        (after tools/build.sh; needs node, npm and python3)
case "${1:-}" in -h | --help) sed -n '2,/^set -/s/^# \{0,1\}//p' "$0"; exit 0 ;; esac
set -euo pipefail
cd "$(dirname "$0")/.."
reader=build/mdbreader
work=build/checkjet
if [ ! -d "$reader/node_modules/mdb-reader" ]; then
    mkdir -p "$reader"
    (cd "$reader" && npm init -y >/dev/null && npm install --no-audit --no-fund mdb-reader >/dev/null)
fi
npm ls --prefix "$reader" mdb-reader | grep mdb-reader
cp tools/checkjet.mjs "$reader/dump.mjs"
rm -rf "$work" && mkdir -p "$work"
status=0
for spec in tests/data/jet/*.json; do
    name=$(basename "$spec" .json)
    for variant in jet3:--jet3 jet4: jet4-utf16:--uncompressed; do
        file=$work/$name-${variant%%:*}.mdb
        build/tools/make_jet ${variant#*:} "$file" <"$spec"
        version=${variant%%:*}
        python3 tools/checkjet.py "$spec" "$file" "${version%-utf16}" "$reader/dump.mjs" || status=1
    done
done
for version in jet3 jet4; do
    file=$work/products-$version.mdb
    build/tools/make_jet $([ $version = jet3 ] && echo --jet3) --products 100000 --suppliers 500 "$file"
    node "$reader/dump.mjs" "$file" >"$work/products-$version.json"
    python3 - "$file" "$work/products-$version.json" <<'PY' || status=1
import csv, io, json, os, subprocess, sys
path, dump = sys.argv[1], json.load(open(sys.argv[2]))
env = dict(os.environ, MDB_JET3_CHARSET="CP932")
bad = 0
for table in ("syohin", "torihiki"):
    out = subprocess.run(["mdb-export", path, table], capture_output=True, env=env, check=True).stdout.decode()
    exported = list(csv.reader(io.StringIO(out)))[1:]
    got = dump[table]["rows"]
    # mdb-reader reads Jet 3 text as code page 1252: compare numbers only there
    jet3 = path.endswith("jet3.mdb")
    bad += abs(len(exported) - len(got)) + sum(1 for a, b in zip(got, exported) for x, y in zip(a, b)
                                               if not (jet3 and isinstance(x, str) and not x[:1].isdigit() and x[:1] != "-") and str(x) != y)
    print(f"{path}: {table}: {dump[table]['rowCount']} rows declared, mdb-reader {len(got)}, mdb-export {len(exported)}")
print(f"{path}: {bad} differences between the readers")
sys.exit(1 if bad else 0)
PY
done
exit $status
