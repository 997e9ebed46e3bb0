#!/usr/bin/env python3
"""Writes a medium of one package: package.py DIR SEED FILES MIN_KB MAX_KB.
The same FILES give the same names and folders for every seed; sizes and bytes follow the seed."""
import os, random, sys

out, seed, files, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
rnd = random.Random(seed)
os.makedirs(out, exist_ok=True)
with open(os.path.join(out, "SETUP.INI"), "wb") as f:
    f.write(b"[PRODUCT]\r\n1=Pull\r\n")
folders = ["SETAPP", "SETAPP/Help", "SETAPP/Fonts", "TAV", "TAV/Voice"]
for i in range(files):
    path = os.path.join(out, "PRODUCT1", folders[i % len(folders)], "File%04d.dat" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(rnd.randbytes(rnd.randint(lo, hi) * 1024))
