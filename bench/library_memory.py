#!/usr/bin/env python3
"""Peak memory of opening an archive through the library, beside "l", for
archives of many empty files, where the table of contents is the whole
archive: one of short names, each record as small as it gets, and one whose
names are made of many short names ("f1\\a\\...\\a"), directories in
each other that the library must track while it opens the archive.

    bench/library_memory.py [--tool build/dattool] [--walk build/bench/library_walk] [--files 200000]

Printed: the TOC's size and, for "l" and for the library's open-and-walk,
peak RSS (GNU time) above that of a run that opens nothing, and its ratio to
the TOC. The README's bound for "l" and "x" is about eight times the TOC.
"""
import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from depth import scramble  # noqa: E402
import struct  # noqa: E402

GNU_TIME = "/usr/bin/time"


def archive(dirs, files):
    """dirs directories of files empty files each, names d0.., f0..."""
    records = []
    for d in range(dirs):
        name = b"d%d" % d
        records.append(struct.pack("<BH", 1, len(name)) + name + struct.pack("<III", 0, 0, files << 8) + b"\0")
        for i in range(files):
            name = b"f%d" % i
            records.append(struct.pack("<BH", 0, len(name)) + name + struct.pack("<IIB", 0, 0, 1))
    root = struct.pack("<BHIII", 1, 0, 0, 0, dirs << 8) + b"\0"
    return scramble(b"tolva" + root + b"".join(records))


def nested_names(files, depth):
    """files empty files in the root, each named f<n>\\a\\...\\a (depth names)."""
    records = []
    for i in range(files):
        name = b"f%d" % i + b"\\a" * (depth - 1)
        records.append(struct.pack("<BH", 0, len(name)) + name + struct.pack("<IIB", 0, 0, 1))
    root = struct.pack("<BHIII", 1, 0, 0, 0, files << 8) + b"\0"
    return scramble(b"tolva" + root + b"".join(records))


def peak_kib(argv):
    r = subprocess.run([GNU_TIME, "-f", "%M", *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", default="build/dattool")
    ap.add_argument("--walk", default="build/bench/library_walk")
    ap.add_argument("--files", type=int, default=200000)
    a = ap.parse_args()
    if not os.access(a.walk, os.X_OK):
        sys.exit(f"{a.walk} is missing: configure with -DDATTOOL_BENCH=ON and build it")
    with tempfile.TemporaryDirectory() as work:
        shapes = (
            (f"{a.files} empty files, short names", archive(200, a.files // 200)),
            (f"{a.files // 5} empty files of 20 names each", nested_names(a.files // 5, 20)),
        )
        for title, data in shapes:
            path = os.path.join(work, "many.dat")
            with open(path, "wb") as f:
                f.write(data)
            toc = os.path.getsize(path)
            print(f"{title}: TOC {toc / 2**20:.1f} MiB")
            for name, argv in (("l", [a.tool, "l", path]), ("library", [a.walk, path])):
                base = peak_kib(argv[:-1] + [os.path.join(work, "none.dat")])
                peak = peak_kib(argv) - base
                print(f"  {name:8} peak {peak / 1024:6.1f} MiB above an empty run   {peak * 1024 / toc:5.1f} x TOC")

if __name__ == "__main__":
    main()
