#!/usr/bin/python3
"""Python watchdog's DirectorySnapshot + DirectorySnapshotDiff on the tree
bench_dir_check generated (40 x 50 directories of 100 files), with the same
churn: every fifth file deleted and as many added, restored after each round.

    peer_watchdog.py TREE [rounds]

Prints "RESULT <name> <value> - <unit>" lines for bench/run_all.sh.
"""

import gc
import os
import sys
import time

from watchdog.utils.dirsnapshot import DirectorySnapshot, DirectorySnapshotDiff

TOP, SUB, FILES = 40, 50, 100


def resident_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def snapshot(tree):
    return DirectorySnapshot(tree, recursive=True)


def main():
    tree = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    if not os.path.isdir(os.path.join(tree, "t0", "s0")):
        print("peer_watchdog: no generated tree at %s" % tree)
        return 1

    gc.collect()
    before = resident_kib()
    previous = snapshot(tree)
    gc.collect()
    entries = len(previous.paths)
    per_entry = (resident_kib() - before) * 1024.0 / entries
    print("watchdog snapshot: %d entries, %.0f bytes per entry" % (entries, per_entry))
    print("RESULT wd_snapshot_bytes %.6g - bytes" % per_entry)

    unchanged = []
    for _ in range(rounds):
        start = time.monotonic()
        current = snapshot(tree)
        diff = DirectorySnapshotDiff(previous, current)
        unchanged.append(time.monotonic() - start)
        if diff.files_created or diff.files_deleted or diff.files_modified:
            print("  (unexpected differences in an unchanged tree)")
        previous = current
    print("watchdog snapshot + diff, unchanged: median %.1f ms" % (median(unchanged) * 1000))
    print("RESULT wd_unchanged %.6g - ms" % (median(unchanged) * 1000))

    churned = []
    for r in range(rounds):
        removed, added = [], []
        for t in range(TOP):
            for s in range(SUB):
                d = os.path.join(tree, "t%d" % t, "s%d" % s)
                for f in range(0, FILES, 5):
                    removed.append(os.path.join(d, "file%d.dat" % (f + r % 5)))
                    added.append(os.path.join(d, "new%d.dat" % f))
        for p in removed:
            os.unlink(p)
        for p in added:
            with open(p, "w") as out:
                out.write("x")
        start = time.monotonic()
        current = snapshot(tree)
        diff = DirectorySnapshotDiff(previous, current)
        churned.append(time.monotonic() - start)
        print("  after -%d/+%d: %.1f ms, %d deleted and %d created seen" % (
            len(removed), len(added), churned[-1] * 1000, len(diff.files_deleted),
            len(diff.files_created)))
        for p in added:
            os.unlink(p)
        for p in removed:
            with open(p, "w") as out:
                out.write("x")
        previous = snapshot(tree)
    print("watchdog snapshot + diff after 20%% deleted + 20%% added: median %.1f ms" % (
        median(churned) * 1000))
    print("RESULT wd_churn %.6g - ms" % (median(churned) * 1000))
    return 0


if __name__ == "__main__":
    sys.exit(main())
