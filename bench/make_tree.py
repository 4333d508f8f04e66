#!/usr/bin/env python3
"""Materialises a corpus (gen_corpus.py output) as a real tree of folders and
empty files under ROOT, with the corpus's modification times.
Usage: make_tree.py CORPUS.tsv ROOT"""
import os, sys

corpus, root = sys.argv[1], sys.argv[2]
made = 0
with open(corpus, encoding="utf-8") as f:
    for line in f:
        path, is_dir, _size, mtime = line.rstrip("\n").split("\t")
        target = root + path
        if is_dir == "1":
            os.makedirs(target, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb"):
                pass
            os.utime(target, (int(mtime), int(mtime)))
        made += 1
print("entries", made, file=sys.stderr)
