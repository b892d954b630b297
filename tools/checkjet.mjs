// Dumps every user table of an Access file as JSON, read by mdb-reader.
import { readFileSync } from "fs";
import MDBReader from "mdb-reader";
const reader = new MDBReader(readFileSync(process.argv[2]));
const out = {};
for (const name of reader.getTableNames()) {
  const table = reader.getTable(name);
  out[name] = { columns: table.getColumns().map(c => [c.name, c.type]), rowCount: table.rowCount,
    rows: table.getData().map(r => table.getColumnNames().map(n => {
      const v = r[n];
      if (typeof v === "number") return Number.isNaN(v) ? "NaN" : (!Number.isFinite(v) ? (v > 0 ? "Infinity" : "-Infinity") : (Object.is(v, -0) ? "-0" : v));
      return v;
    })) };
}
process.stdout.write(JSON.stringify(out));
