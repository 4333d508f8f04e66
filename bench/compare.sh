#!/bin/sh
# The standard comparison: pallix-bench beside plocate on one generated corpus,
# in one run. Usage: bench/compare.sh [BUILD_DIR]   (default: build)
# Knobs (environment): BENCH_ENTRIES (1000000), BENCH_SCAN_ENTRIES (200000),
# BENCH_REPS (3), BENCH_CHECK (120 queries checked against the reference, or "all"),
# BENCH_LIMIT (10000), BENCH_STATES ("complete scan database"), BENCH_LIVE_SECONDS (20).
# The complete road at 10,000,000 entries: BENCH_ENTRIES=10000000 BENCH_STATES=complete
# (about 7 GB of database; the load alone took 27 min here, see RESULTS.md).
# Inputs and databases are kept in bench/out/ and reused while the corpus stands.
# It ends with one table: each road beside plocate, the targets met or missed,
# memory and start-up (bench/summarize.py).
# Cost on the shared 8-core machine: 433 s for the whole run with the corpus,
# the databases and the query set already built, the tree of 200,000 files
# made in it (checks of 126 states in each road, 3 runs a state, 20 s per live
# phase). Building the corpus and the pallix database first adds their time
# (the load alone took 29.8 s at 1,000,000 entries in an earlier run).
set -eu

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
BENCH=$BUILD/bench/pallix-bench
INPUTS=$ROOT/../shared/bench
[ -d "$INPUTS" ] || INPUTS=/work/shared/bench
OUT=$HERE/out
N=${BENCH_ENTRIES:-1000000}
SCAN_N=${BENCH_SCAN_ENTRIES:-200000}
REPS=${BENCH_REPS:-3}
CHECK=${BENCH_CHECK:-120}
LIMIT=${BENCH_LIMIT:-10000}
STATES=${BENCH_STATES:-complete scan database}
SEED=42

[ -x "$BENCH" ] || { echo "compare.sh: $BENCH is not built" >&2; exit 2; }
for f in gen_corpus.py queries.py bench_plocate.py; do
    [ -f "$INPUTS/$f" ] || { echo "compare.sh: $INPUTS/$f is missing" >&2; exit 2; }
done

export PATH="$PATH:/usr/sbin:/sbin"
if ! command -v plocate >/dev/null || ! command -v plocate-build >/dev/null; then
    SUDO=$([ "$(id -u)" = 0 ] || echo sudo)
    echo "Installing plocate"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends plocate
fi

mkdir -p "$OUT"
cd "$OUT"
CORPUS=corpus-$N.tsv
if [ ! -s "$CORPUS" ]; then
    echo "== generating $N entries (seed $SEED)"
    python3 "$INPUTS/gen_corpus.py" "$N" "$CORPUS.tmp" "$SEED" && mv "$CORPUS.tmp" "$CORPUS"
fi
[ -s paths-$N.txt ] || { cut -f1 "$CORPUS" > paths-$N.txt.tmp && mv paths-$N.txt.tmp paths-$N.txt; }
[ -s queries-$N.tsv ] || { python3 "$INPUTS/queries.py" paths-$N.txt queries-$N.tsv.tmp && mv queries-$N.tsv.tmp queries-$N.tsv; }
# A marker per database: an interrupted build is never taken for a finished one.
if [ ! -f pallix-$N.sqlite.done ]; then
    echo "== building the pallix index"
    rm -f pallix-$N.sqlite pallix-$N.sqlite-wal pallix-$N.sqlite-shm
    "$BENCH" load --db pallix-$N.sqlite --list "$CORPUS"
    touch pallix-$N.sqlite.done
fi
if [ ! -f plocate-$N.db.done ]; then
    echo "== building the plocate index"
    start=$(date +%s%N)
    plocate-build -l no -p paths-$N.txt plocate-$N.db
    echo "plocate-build: $(( ($(date +%s%N) - start) / 1000000 )) ms"
    touch plocate-$N.db.done
fi

echo "== machine: $(nproc) cores, $(uname -r); commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "== open (bootstrap to complete indexes, memory)"
"$BENCH" open --db pallix-$N.sqlite > open-$N.txt
cat open-$N.txt

for state in $STATES; do
    echo "== keystroke latency, state $state"
    "$BENCH" type --db pallix-$N.sqlite --queries queries-$N.tsv --limit "$LIMIT" --state "$state" \
        --reps "$REPS" --check "$CHECK" --csv type-$state-$N.csv
done

case " $STATES " in *" complete "*)
    # `query` must print exactly the paths the timed searches found, and nothing else.
    probe=$(grep -P '^type_1tok\t' queries-$N.tsv | tail -1 | cut -f2)
    printed=$("$BENCH" query --db pallix-$N.sqlite --limit "$LIMIT" -- "$probe" | wc -l)
    expected=$(python3 -c 'import csv,sys; print([r["results"] for r in csv.DictReader(open(sys.argv[1])) if r["query"] == sys.argv[2]][0])' \
        type-complete-$N.csv "$probe")
    [ "$printed" = "$expected" ] || { echo "compare.sh: query \"$probe\" printed $printed paths, type found $expected" >&2; exit 1; }
    echo "query \"$probe\": $printed paths, as timed" ;;
esac

echo "== plocate, same queries"
python3 "$INPUTS/bench_plocate.py" plocate-$N.db queries-$N.tsv "$REPS" plocate-$N.csv

echo "== comparison: $N entries, limit $LIMIT, complete indexes; plocate first 100 results, case-insensitive"
python3 - "$N" $STATES <<'EOF'
import csv, sys
n, states = sys.argv[1], sys.argv[2:]
def pct(v, p):
    v = sorted(v); return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]
def load(path, mode=None):
    by = {}
    for r in csv.DictReader(open(path, encoding="utf-8")):
        if mode and r["mode"] != mode: continue
        by.setdefault(r["class"], []).append(float(r["median_ms"]))
    by["ALL"] = [x for k, v in list(by.items()) for x in v]
    return by
plo = load("plocate-%s.csv" % n, "page")
ours = {s: load("type-%s-%s.csv" % (s, n)) for s in states}
classes = [c for c in sorted(plo) if c != "ALL"] + ["ALL"]
def row(cells): print("| " + " | ".join(cells) + " |")
if "complete" in ours:
    p = ours["complete"]
    row(["class", "n", "pallix p50 ms", "pallix p99 ms", "plocate p50 ms", "plocate p99 ms", "ratio p50", "ratio p99"])
    row(["---"] * 8)
    for c in classes:
        a, b = p.get(c, []), plo.get(c, [])
        if not a or not b: continue
        row([c, str(len(a)), "%.2f" % pct(a, 50), "%.2f" % pct(a, 99), "%.2f" % pct(b, 50), "%.2f" % pct(b, 99),
             "%.2f" % (pct(a, 50) / pct(b, 50)), "%.2f" % (pct(a, 99) / pct(b, 99))])
others = [s for s in states if s != "complete"]
if others:
    print()
    row(["class"] + ["%s p50 / p99 ms" % s for s in others])
    row(["---"] * (1 + len(others)))
    for c in classes:
        row([c] + ["%.2f / %.2f" % (pct(ours[s][c], 50), pct(ours[s][c], 99)) if ours[s].get(c) else "-" for s in others])
EOF

echo "== scan: $SCAN_N entries on disk"
TREE=tree-$SCAN_N
if [ ! -d "$TREE" ]; then
    [ -s scan-corpus-$SCAN_N.tsv ] || python3 "$INPUTS/gen_corpus.py" "$SCAN_N" scan-corpus-$SCAN_N.tsv 7
    rm -rf "$TREE.tmp"; python3 "$HERE/make_tree.py" scan-corpus-$SCAN_N.tsv "$TREE.tmp" && mv "$TREE.tmp" "$TREE"
fi
"$BENCH" scan --root "$OUT/$TREE" --reps "$REPS"

# Searches at the window's cadence, idle and then while one item changes a
# second (BENCH_LIVE_SECONDS per phase; 0 skips it).
LIVE=${BENCH_LIVE_SECONDS:-20}
if [ "$LIVE" -gt 0 ]; then
    echo "== live: searches every 300 ms, idle then with one write a second"
    "$BENCH" live --db pallix-$N.sqlite --queries queries-$N.tsv --limit "$LIMIT" --seconds "$LIVE"
fi

echo "== summary: $N entries, commit $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), $(date -u '+%Y-%m-%d %H:%M UTC'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$HERE/summarize.py" "$N" "$STATES" open-$N.txt
