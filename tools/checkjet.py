#!/usr/bin/env python3
"""Checks an Access file written by make_jet against what its JSON description says, as read
by two other readers: the npm package mdb-reader and mdbtools' mdb-export. tools/checkjet.sh
runs it. Usage: checkjet.py TABLES.json FILE jet3|jet4 DUMP.mjs"""
import csv, io, json, math, os, struct, subprocess, sys

spec, path, version, dumper = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3], sys.argv[4]
NULL = "@@NULL@@"
CP1252_HOLES = {0x81, 0x8D, 0x8F, 0x90, 0x9D}

def expected(value, ctype):
    if value is None: return None
    if isinstance(value, dict):
        if "raw" in value: return ("raw", value["raw"])
        return value["repeat"] * value["count"]
    if ctype in ("text", "memo"): return value
    if ctype == "currency":
        s = str(value)
        neg = s.startswith("-"); s = s.lstrip("-")
        whole, _, frac = s.partition(".")
        return ("-" if neg else "") + str(int(whole)) + "." + (frac + "0000")[:4]
    if ctype in ("single", "double"):
        f = float(value) if not isinstance(value, str) else float(value.replace("inf", "Infinity")) if value != "nan" else float("nan")
        if ctype == "single": f = struct.unpack("<f", struct.pack("<f", f))[0]
        return f
    return int(value)

def same_float(a, b):
    if isinstance(a, str): a = float(a.replace("Infinity", "inf"))
    if isinstance(b, str): b = float(b)
    return (math.isnan(a) and math.isnan(b)) or a == b

def jet3_text_matches(got, want):
    """mdb-reader reads Jet 3 text as code page 1252, which has no character for five byte
    values: decode its bytes as code page 932 again, trying those five where one was lost."""
    if not isinstance(got, str): return False
    data = [None if ch == "\ufffd" else ch.encode("cp1252")[0] for ch in got]
    i = 0
    for ch in want:
        if i >= len(data): return False
        b = data[i]
        if b is not None and (b < 0x80 or 0xA1 <= b <= 0xDF):
            if bytes([b]).decode("cp932") != ch: return False
            i += 1; continue
        if i + 1 >= len(data): return False
        leads = [b] if b is not None else sorted(CP1252_HOLES)
        trails = [data[i + 1]] if data[i + 1] is not None else sorted(CP1252_HOLES)
        if not any(bytes([l, t]).decode("cp932", "replace") == ch for l in leads for t in trails): return False
        i += 2
    return i == len(data)

def column_names_match(got, want):
    return len(got) == len(want) and all(g == w or (version == "jet3" and jet3_text_matches(g, w)) for g, w in zip(got, want))

problems = 0
def report(reader, table, row, col, got, want):
    global problems
    problems += 1
    print(f"  {reader}: {table} row {row} {col}: got {str(got)[:60]!r}, want {str(want)[:60]!r}")

# mdb-reader
dump = json.loads(subprocess.run(["node", dumper, path],
                                 capture_output=True, check=True).stdout)
env = dict(os.environ, MDB_JET3_CHARSET="CP932")
checked = 0
for table in spec["tables"]:
    name, cols = table["name"], table["columns"]
    got = dump.get(name) or next((v for k, v in dump.items() if version == "jet3" and jet3_text_matches(k, name)), None)
    if got is None or not column_names_match([c[0] for c in got["columns"]], [c["name"] for c in cols]):
        report("mdb-reader", name, "-", "columns", got and got["columns"], [c["name"] for c in cols]); continue
    # Both readers take the deleted flag (0x8000) for the moved one and the other way round:
    # they list a deleted row, skip a moved row's pointer and meet the moved row where it
    # lies, on a later page. Expect exactly that, which still checks every byte written.
    deleted, moved = set(table.get("deleted", [])), table.get("moved", [])
    rows = [row for i, row in enumerate(table["rows"]) if i not in moved] + [table["rows"][i] for i in moved]
    live = len(table["rows"]) - len(deleted)
    if got["rowCount"] != live:
        report("mdb-reader", name, "-", "row count in the definition", got["rowCount"], live)
    if len(got["rows"]) != len(rows):
        report("mdb-reader", name, "-", "rows", len(got["rows"]), len(rows))
    out = subprocess.run(["mdb-export", "-0", NULL, path, name], capture_output=True, env=env, check=True).stdout.decode()
    exported = list(csv.reader(io.StringIO(out)))[1:]
    if len(exported) != len(rows):
        report("mdb-export", name, "-", "rows", len(exported), len(rows))
    for r, row in enumerate(rows):
        for c, col in enumerate(cols):
            want = expected(row[c], col["type"])
            if isinstance(want, tuple): continue
            a = got["rows"][r][c] if r < len(got["rows"]) else "?"
            b = exported[r][c] if r < len(exported) else "?"
            checked += 1
            if want is None:
                if a is not None: report("mdb-reader", name, r + 1, col["name"], a, None)
                if b != NULL: report("mdb-export", name, r + 1, col["name"], b, None)
            elif col["type"] in ("text", "memo"):
                if version == "jet4":
                    ok_a = a == want
                else:
                    ok_a = jet3_text_matches(a, want)
                if not ok_a: report("mdb-reader", name, r + 1, col["name"], a, want)
                # mdbtools reads an empty text as Null: it cannot tell the two apart.
                if b != want and not (want == "" and b == NULL): report("mdb-export", name, r + 1, col["name"], b, want)
            elif col["type"] == "currency":
                if a != want: report("mdb-reader", name, r + 1, col["name"], a, want)
                if b != want: report("mdb-export", name, r + 1, col["name"], b, want)
            elif col["type"] in ("single", "double"):
                if not same_float(a, want): report("mdb-reader", name, r + 1, col["name"], a, want)
                # mdb-export prints floating-point numbers with fewer digits
                printed = float(b.replace("nan", "NaN").replace("-NaN", "NaN")) if b != NULL else None
                if col["type"] == "single" and printed is not None: printed = struct.unpack("<f", struct.pack("<f", printed))[0]
                if printed is None or not same_float(printed, want if col["type"] == "single" else float(f"{want:.15g}")):
                    report("mdb-export", name, r + 1, col["name"], b, want)
            else:
                if a != want: report("mdb-reader", name, r + 1, col["name"], a, want)
                if int(b) != want: report("mdb-export", name, r + 1, col["name"], b, want)
print(f"{path}: {checked} values checked by each reader, {problems} differences")
sys.exit(1 if problems else 0)
