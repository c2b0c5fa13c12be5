#!/usr/bin/env python3
"""Times extraction of the same empty files at the bottom of a deep chain of
directories and in one directory, to show that extraction time follows the
number of entries, not their depth.

    bench/depth.py [--tool build/dattool] [--files 60000] [--depth 2000] [--reps 3]

Both archives are written here directly (nothing on disk needs packing) and
extracted into fresh folders under /dev/shm (--out picks another place).
Printed: the median wall time of each and their ratio, deep over flat.
"""
import argparse
import os
import statistics
import struct
import subprocess
import tempfile
import time


def key_at(p):
    return (0x3D + 0xA7 * p) & 0xFF


def scramble(data):
    table = bytes(key_at(i) for i in range(256))
    return bytes(b ^ table[i & 0xFF] for i, b in enumerate(data))


def archive(depth, files):
    """depth directories named "d", one inside the other, holding files
    empty files f0, f1, ... at the bottom."""
    records = []
    for level in range(depth):
        count = 1 if level < depth - 1 else files
        records.append(struct.pack("<BH", 1, 1) + b"d" + struct.pack("<III", 0, 0, count << 8) + b"\0")
    for i in range(files):
        name = b"f%d" % i
        records.append(struct.pack("<BH", 0, len(name)) + name + struct.pack("<IIB", 0, 0, 1))
    root = struct.pack("<BHIII", 1, 0, 0, 0, 1 << 8) + b"\0"
    return scramble(b"tolva" + root + b"".join(records))


def remove(path):
    # Deeper than Python's own recursion allows.
    subprocess.run(["rm", "-rf", path], check=True)


def timed_extract(tool, path, out):
    remove(out)
    os.makedirs(out)
    start = time.perf_counter()
    subprocess.run([tool, "x", path], cwd=out, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default="build/dattool")
    ap.add_argument("--files", type=int, default=60000)
    ap.add_argument("--depth", type=int, default=2000)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--out", default="/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir())
    a = ap.parse_args()
    tool = os.path.abspath(a.tool)
    work = tempfile.mkdtemp(prefix="dattool-depth-", dir=a.out)
    try:
        deep, flat = os.path.join(work, "deep.dat"), os.path.join(work, "flat.dat")
        with open(deep, "wb") as f:
            f.write(archive(a.depth, a.files))
        with open(flat, "wb") as f:
            f.write(archive(1, a.files))
        times = {"flat": [], "deep": []}
        for _ in range(a.reps):
            for name, path in (("flat", flat), ("deep", deep)):
                times[name].append(timed_extract(tool, path, os.path.join(work, "out")))
        f, d = statistics.median(times["flat"]), statistics.median(times["deep"])
        print(f"{a.files} empty files   flat {f:.3f} s   at depth {a.depth} {d:.3f} s   deep/flat {d / f:.2f}")
    finally:
        remove(work)


if __name__ == "__main__":
    main()
