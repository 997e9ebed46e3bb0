#!/usr/bin/env python3
"""Sorts every file of a package as found on a card image: compare.py NEW OLD IMAGE FSCK_LOG.
Reads the card with mtools; FSCK_LOG is what fsck.fat -n said of it.
Prints: new old lost tmp (lost: missing, unreadable, neither version, or named by fsck)."""
import os, subprocess, sys

new, old, image, fsck = sys.argv[1:5]
trees = {"SETAPP": "ROMDisk2/PROGRAM/SETAPP", "TAV": "ROMDisk/PROGRAM/TAV"}
blamed = open(fsck, errors="replace").read().lower()
env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
counts = {"new": 0, "old": 0, "lost": 0}
for root, _, names in os.walk(os.path.join(new, "PRODUCT1")):
    for name in names:
        rel = os.path.relpath(os.path.join(root, name), os.path.join(new, "PRODUCT1"))
        tree, _, rest = rel.partition("/")
        dev = "/" + trees[tree] + "/" + rest
        got = subprocess.run(["mcopy", "-n", "-i", image, "::" + dev, "-"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        kind = "lost"
        if got.returncode == 0 and dev.lower() not in blamed:
            if got.stdout == open(os.path.join(new, "PRODUCT1", rel), "rb").read():
                kind = "new"
            elif got.stdout == open(os.path.join(old, "PRODUCT1", rel), "rb").read():
                kind = "old"
        counts[kind] += 1
# A pulled card may hold entries whose names are no text.
listing = subprocess.run(["mdir", "-/", "-b", "-i", image, "::/"], env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode(errors="replace")
tmp = sum(os.path.basename(p).startswith(".wce-copy-") for p in listing.splitlines())
print(counts["new"], counts["old"], counts["lost"], tmp)
