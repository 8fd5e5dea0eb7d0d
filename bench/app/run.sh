#!/usr/bin/env bash
# Times the two import runs of the command line against the sqlite3 shell's .import of
# the same data lines, each into a fresh SQLite database, and prints wall time, peak
# memory and the ratios with their targets (SQL statements at most 3x .import, through
# the table at most 1.5x; peak memory at most 3x the file size plus 64 MB).
#
#   bench/app/run.sh [LINES]          (default 200000; BUILD_DIR selects the build)
#
# Each of the three loads runs REPEAT times (default 3), each time into a fresh database;
# the table shows the median time and the largest peak memory, so that one run slowed by
# other work on the machine does not decide the ratios.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
exe=${TANKLOAD:-$here/${BUILD_DIR:-build}/app/tankload}
lines=${1:-200000}
repeat=${REPEAT:-3}
[[ "$repeat" =~ ^[1-9][0-9]*$ ]] || { echo "run.sh: REPEAT must be a whole number from 1" >&2; exit 1; }
[ -x "$exe" ] || { echo "run.sh: build $exe first (scripts/bootstrap)" >&2; exit 1; }
command -v sqlite3 >/dev/null || { echo "run.sh: the sqlite3 shell is missing" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/tankload-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 "$here/bench/app/gen_summary.py" "$lines" "$work/svod.txt" "$work/data.tsv"

# measure NAME COMMAND...: runs the command once; appends "NAME seconds kilobytes" to
# $work/results.
measure() {
  local name=$1
  shift
  /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >"$work/$name.out" 2>"$work/$name.err" || {
    echo "run.sh: $name failed:" >&2
    cat "$work/$name.err" >&2
    exit 1
  }
  echo "$name $(cat "$work/$name.time")" >>"$work/results"
}

fresh() {
  rm -rf "$work/db" && mkdir "$work/db"
  (cd "$work/db" && "$exe" --create-database >/dev/null)
}

fresh_ref() {
  rm -f "$work/ref.db"
  sqlite3 "$work/ref.db" "CREATE TABLE Svod (Designation TEXT, ColumnB TEXT, Frame TEXT, Board TEXT,
    Deck TEXT, Volume REAL, Fperm REAL, Volume_Netto REAL, SpecificWeight REAL,
    FactorExpansion REAL, AccountDeadStock REAL, DeadSstock REAL, AccountSstock REAL, Xpvm REAL,
    Ypvm REAL, Zpvm REAL, Mx REAL, Mz REAL, ColumnS TEXT, dmh REAL, dM REAL)"
}

cd "$work"
# The three loads take turns, so that a slow spell of the machine touches them alike.
for ((round = 1; round <= repeat; round++)); do
  fresh_ref
  measure import sqlite3 "$work/ref.db" ".mode tabs" ".import $work/data.tsv Svod"
  fresh
  measure sql "$exe" --from-text "$work/svod.txt" --database "Provider=SQLite;Data Source=$work/db/dunvik.mdb"
  fresh
  measure table "$exe" --from-text "$work/svod.txt" --through-table --database "Provider=SQLite;Data Source=$work/db/dunvik.mdb"
done

grep -h "Добавлено записей" "$work/sql.out" "$work/table.out" | sed 's/^/  /'
echo "  .import rows: $(sqlite3 "$work/ref.db" 'SELECT COUNT(*) FROM Svod')"
python3 - "$work/results" "$(stat -c %s "$work/svod.txt")" "$lines" "$repeat" <<'PY'
import statistics
import sys
runs = {}
for line in open(sys.argv[1]):
    name, seconds, kb = line.split()
    runs.setdefault(name, []).append((float(seconds), int(kb)))
# Median time and largest peak memory of each load.
rows = {name: (statistics.median(s for s, _ in r), max(kb for _, kb in r))
        for name, r in runs.items()}
size = int(sys.argv[2])
print(f"file: {sys.argv[3]} lines, {size / 1e6:.1f} MB; median of {sys.argv[4]} runs each")
print(f"{'run':<28}{'seconds':>9}{'peak MB':>10}{'x .import':>11}")
base = rows["import"][0] or 0.01
labels = {"import": "sqlite3 .import", "sql": "by SQL statements", "table": "through the table"}
for name in ("import", "sql", "table"):
    s, kb = rows[name]
    print(f"{labels[name]:<28}{s:>9.2f}{kb / 1024:>10.1f}{s / base:>11.2f}")
limit_mb = 3 * size / 2**20 + 64
checks = [("by SQL statements <= 3x .import", rows["sql"][0] <= 3 * base),
          ("through the table <= 1.5x .import", rows["table"][0] <= 1.5 * base),
          (f"peak memory <= {limit_mb:.0f} MB", max(rows["sql"][1], rows["table"][1]) / 1024 <= limit_mb)]
for text, ok in checks:
    print(f"  {'met   ' if ok else 'MISSED'} {text}")
PY
