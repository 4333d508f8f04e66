#!/usr/bin/env python3
"""The headline table of bench/compare.sh: each road beside plocate, the
targets met or missed, then memory and start-up. Usage:
summarize.py N STATES OPEN.txt   (in bench/out, after the runs)"""
import csv, re, sys

n, states, open_file = sys.argv[1], sys.argv[2].split(), sys.argv[3]


def pct(v, p):  # nearest rank, as bench_plocate.py and pallix-bench
    v = sorted(v)
    return v[min(len(v) - 1, int(round(p / 100 * (len(v) - 1))))]


def medians(path, mode=None):
    return [float(r["median_ms"]) for r in csv.DictReader(open(path, encoding="utf-8"))
            if not mode or r["mode"] == mode]


def verdict(ok):
    return "met" if ok else "MISSED"


plo = medians("plocate-%s.csv" % n, "page")
plo50, plo99 = pct(plo, 50), pct(plo, 99)
roads = [("scan", "typing, cache installed (every keystroke)"),
         ("database", "typing, before the cache is installed"),
         ("complete", "complete (after a pause)")]
print("| road | state | p50 ms | p99 ms | plocate p50 ms | plocate p99 ms | ratio p99 | target | |")
print("| --- | --- | --- | --- | --- | --- | --- | --- | --- |")
for state, road in roads:
    if state not in states:
        continue
    ours = medians("type-%s-%s.csv" % (state, n))
    p50, p99 = pct(ours, 50), pct(ours, 99)
    ratio = p99 / plo99
    if state == "scan":
        target = "p99 ≤ 10, ≤ 0.25 × plocate p99; p50 ≤ 2"
        ok = p99 <= 10 and ratio <= 0.25 and p50 <= 2
        detail = "p99 %s, ratio %s, p50 %s" % (verdict(p99 <= 10), verdict(ratio <= 0.25), verdict(p50 <= 2))
    elif state == "database":
        target, ok = "p99 ≤ 50", p99 <= 50
        detail = verdict(ok)
    elif int(n) >= 10_000_000:
        target, ok = "p99 ≤ 300 (10,000,000 entries)", p99 <= 300
        detail = verdict(ok)
    else:
        target, ok = "p99 ≤ 40 (1,000,000 entries)", p99 <= 40
        detail = verdict(ok)
    print("| %s | %s | %.2f | %.2f | %.2f | %.2f | %.2f | %s | %s |"
          % (road, state, p50, p99, plo50, plo99, ratio, target, detail if not ok else "met"))

text = open(open_file, encoding="utf-8").read()
def per_item(label):
    m = re.search(r"open: %s\s+-?\d+ bytes\s+(-?[\d.]+) bytes/item" % re.escape(label), text)
    return float(m.group(1)) if m else float("nan")
times = re.search(r"bootstrap (\d+) ms, cache installed at (\d+) ms, indexes complete at (\d+) ms", text)
items = int(re.search(r"open: (\d+) items", text).group(1))
resident, heap = per_item("resident anonymous, after trim"), per_item("heap in use, growth")
complete_s = int(times.group(3)) / 1000 if times else float("nan")
per_million = complete_s / (items / 1e6)
print()
print("| memory and start-up | measured | target | |")
print("| --- | --- | --- | --- |")
print("| resident growth after the cache and its indexes, after `malloc_trim` | %.1f bytes/item | ≤ 220 | %s |"
      % (resident, verdict(resident <= 220)))
print("| heap in use, growth | %.1f bytes/item | ≤ 200 | %s |" % (heap, verdict(heap <= 200)))
print("| bootstrap to complete indexes | %.2f s for %d items (%.2f s per million; cache installed at %.2f s) | ≤ 1.5 s per million | %s |"
      % (complete_s, items, per_million, int(times.group(2)) / 1000, verdict(per_million <= 1.5)))
if int(n) < 10_000_000:
    print()
    print("Not run by make bench: the complete road at 10,000,000 entries (target p99 ≤ 300 ms;"
          " BENCH_ENTRIES=10000000 BENCH_STATES=complete bench/compare.sh, see RESULTS.md).")
