#!/usr/bin/env python3
"""Times dattool against GNU tar (and bsdtar when installed) on two data sets.

    bench/run.py [--tool build/dattool] [--reps 5] [--sets big,small] [--dir DIR] [--out OUT]

Data sets, made once under DIR (default: a folder in the temporary directory)
from fixed seeds and reused by later runs:
    big    8 files of 128 MiB (1 GiB)
    small  20,000 files of 1-16 KiB in 100 directories
Extraction writes into a new folder under OUT each time, by default in
/dev/shm: a disk file system that is slow to delete thousands of files, and
slow to create new ones for a minute after, would charge the clean-up of one
tool's output to the next tool's run.
Each repetition runs every tool on every operation back to back, so drift on a
shared machine hits all tools alike; one warm-up repetition is not counted.
Dirty pages are flushed before every timed run, so no tool pays for the
writeback of the one before it.
Printed per set, operation and tool: medians of wall, user and system time,
peak RSS, and the median over repetitions of the wall-time ratio to GNU tar.
The operation "member" extracts one file of the set (MEMBERS) into a new
folder, as "extract" does the whole; a last line per set gives the median
ratio of dattool's member extraction to its full one, whose target is under
0.05 for the small set: one member costs the table of contents, not the
archive.

Peak RSS is taken in the warm-up repetition through GNU time (/usr/bin/time):
a child forked from this script starts with the script's own high-water mark,
so its rusage cannot show a smaller peak. Without GNU time the column is empty.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"


def make_big(root, mib=128):
    os.makedirs(root, exist_ok=True)
    rng = random.Random(1)
    chunk = 1 << 20
    # One random MiB per file, each MiB after it a rotation of the one before:
    # cheap to make, not trivially compressible, identical on every machine.
    for i in range(8):
        base = rng.randbytes(chunk)
        with open(os.path.join(root, f"blob{i}.bin"), "wb") as f:
            for m in range(mib):
                r = (m * 4099) % chunk
                f.write(base[r:] + base[:r])


def make_small(root):
    os.makedirs(root, exist_ok=True)
    rng = random.Random(2)
    pool = rng.randbytes(1 << 20)
    for d in range(100):
        sub = os.path.join(root, f"dir{d:03}")
        os.makedirs(sub, exist_ok=True)
        for k in range(200):
            size = rng.randint(1024, 16384)
            start = rng.randint(0, len(pool) - size)
            name = f"file{k:03}" + (".tex" if k % 10 == 0 else ".dat")
            with open(os.path.join(sub, name), "wb") as f:
                f.write(pool[start:start + size])


SETS = {"big": make_big, "small": make_small}
# The one file the "member" operation extracts, as every tool names it.
MEMBERS = {"big": "tree/blob3.bin", "small": "tree/dir042/file107.dat"}
OPERATIONS = ("create", "list", "extract", "member")


def ensure(base, name):
    root = os.path.join(base, name)
    done = os.path.join(base, name + ".done")
    if not os.path.exists(done):
        shutil.rmtree(root, ignore_errors=True)
        print(f"making data set {name} under {root}", file=sys.stderr)
        SETS[name](os.path.join(root, "tree"))
        open(done, "w").close()
    return root


def timed(argv, cwd):
    """Runs argv in cwd with output discarded; returns wall, user and sys seconds."""
    os.sync()
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, ru = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        sys.exit(f"{argv} failed in {cwd} with status {proc.returncode}")
    return wall, ru.ru_utime, ru.ru_stime


def peak_rss(argv, cwd):
    """Peak RSS of argv in MiB, or None without GNU time."""
    if not os.access(GNU_TIME, os.X_OK):
        return None
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run([GNU_TIME, "-f", "%M", "-o", out.name] + argv, cwd=cwd,
                       stdout=subprocess.DEVNULL, check=True)
        return int(out.read().split()[-1]) / 1024


def run_in(out, op, run):
    """Runs run(cwd): in the set's folder, or for extraction in a new empty
    folder under out, removed afterwards."""
    if op not in ("extract", "member"):
        return run(None)
    cwd = tempfile.mkdtemp(dir=out)
    try:
        return run(cwd)
    finally:
        shutil.rmtree(cwd)


def commands(tool, root, name):
    dat, tar = f"{name}.dat", f"{name}.tar"
    member = MEMBERS[name]
    table = {
        "dattool": {"create": [tool, "c", dat, "tree"], "list": [tool, "l", dat],
                    "extract": [tool, "x", os.path.join(root, dat)],
                    "member": [tool, "x", os.path.join(root, dat), member]},
        "tar": {"create": ["tar", "cf", tar, "tree"], "list": ["tar", "tf", tar],
                "extract": ["tar", "xf", os.path.join(root, tar)],
                "member": ["tar", "xf", os.path.join(root, tar), member]},
    }
    if shutil.which("bsdtar"):
        btar = f"{name}.bsd.tar"
        table["bsdtar"] = {"create": ["bsdtar", "cf", btar, "tree"], "list": ["bsdtar", "tf", btar],
                           "extract": ["bsdtar", "xf", os.path.join(root, btar)],
                           "member": ["bsdtar", "xf", os.path.join(root, btar), member]}
    return table


def drop_caches():
    """Flushes dirty pages and, as root, drops the page cache."""
    os.sync()
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
    except OSError:
        pass


def make_tex(root, mib):
    """make_big's files, of mib MiB each, named to be stored plain."""
    make_big(root, mib)
    for name in os.listdir(root):
        os.rename(os.path.join(root, name), os.path.join(root, name[:-4] + ".tex"))


def compare_rows(tool, root):
    """(label, ours, reference): each a list of argv lists run in root, in
    order; only the last is timed. The archive big.dat holds tree/, whose
    tree/blob0.bin is replaced, new.bin added and tree/blob5.bin removed."""
    dat = "tex.dat"
    x = [tool, "x", "-C", "out", dat]
    return [
        ("c of large .tex files vs cp",
         [["rm", "-f", dat], [tool, "c", dat, "tex"]],
         [["rm", "-rf", "copy"], ["cp", "-r", "tex", "copy"]]),
        ("x of large .tex files vs cp",
         [["rm", "-rf", "out"], x],
         [["rm", "-rf", "copy"], ["cp", "-r", "tex", "copy"]]),
        ("u replacing a 1 MiB file vs cp+rename",
         [[tool, "u", "big.dat", "tree/blob0.bin"]],
         [["sh", "-c", "cp big.dat .big.tmp && mv .big.tmp big.dat"]]),
        ("u replacing a 1 MiB file vs x+c",
         [[tool, "u", "big.dat", "tree/blob0.bin"]],
         [["rm", "-rf", "whole"],
          ["sh", "-c", f"{tool} x -q -C whole big.dat && cd whole && {tool} c -q ../big2.dat tree"]]),
        ("u adding a 1 MiB file vs cp+rename",
         [[tool, "d", "big.dat", "tree/new.bin"], [tool, "u", "big.dat", "tree/new.bin"]],
         [["sh", "-c", "cp big.dat .big.tmp && mv .big.tmp big.dat"]]),
        ("d of one member vs cp+rename",
         [[tool, "u", "big.dat", "tree/blob5.bin"], [tool, "d", "big.dat", "tree/blob5.bin"]],
         [["sh", "-c", "cp big.dat .big.tmp && mv .big.tmp big.dat"]]),
    ]


def compare(tool, base, mib):
    """One run of each row, caches dropped before and the writes flushed
    within its time, as: label, ours, reference, ratio."""
    root = os.path.join(base, f"compare-{mib}")
    if not os.path.exists(os.path.join(root, "done")):
        shutil.rmtree(root, ignore_errors=True)
        make_tex(os.path.join(root, "tex"), mib)
        make_big(os.path.join(root, "tree"), mib)
        with open(os.path.join(root, "tree", "new.bin"), "wb") as f:
            f.write(random.Random(4).randbytes(1 << 20))
        open(os.path.join(root, "done"), "w").close()
    with open(os.path.join(root, "tree", "blob0.bin"), "r+b") as f:
        f.truncate(1 << 20)  # the member replaced: 1 MiB
    subprocess.run([tool, "c", "-q", "big.dat", "tree"], cwd=root, check=True)
    subprocess.run([tool, "c", "-q", "tex.dat", "tex"], cwd=root, check=True)
    print(f"{'comparison':42} {'ours s':>8} {'ref s':>8} {'ratio':>6}")
    for label, ours, ref in compare_rows(tool, root):
        walls = []
        for argvs in (ours, ref):
            for argv in argvs[:-1]:
                subprocess.run(argv, cwd=root, check=True, stdout=subprocess.DEVNULL)
            drop_caches()
            # Until the bytes are on disk: with enough memory, a run that
            # ends before its writeback would otherwise look free.
            walls.append(timed(["sh", "-c", '"$@" && sync', "sh"] + argvs[-1], root)[0])
        print(f"{label:42} {walls[0]:8.3f} {walls[1]:8.3f} {walls[0] / walls[1]:6.2f}")
        sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", default="build/dattool")
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--sets", default="big,small")
    ap.add_argument("--dir", default=os.path.join(tempfile.gettempdir(), "dattool-bench"))
    ap.add_argument("--out", help="where extractions go (default: /dev/shm when present, else DIR)")
    ap.add_argument("--compare", type=int, metavar="MIB",
                    help="instead: c and x of 8 large .tex files against cp, u and d in the archive "
                         "of 8 files against copying it, files of MIB MiB (128: the 1 GiB sets)")
    args = ap.parse_args()
    tool = os.path.abspath(args.tool)
    os.makedirs(args.dir, exist_ok=True)
    if args.compare:
        return compare(tool, args.dir, args.compare)
    out = args.out or ("/dev/shm" if os.path.isdir("/dev/shm") else args.dir)
    out = os.path.join(out, "dattool-bench-out")
    os.makedirs(out, exist_ok=True)

    print(f"{'set':6} {'operation':8} {'tool':8} {'wall s':>8} {'user s':>8} {'sys s':>8} "
          f"{'RSS MiB':>8} {'x tar':>6}")
    for name in args.sets.split(","):
        root = ensure(args.dir, name)
        table = commands(tool, root, name)
        results = {(t, op): [] for t in table for op in OPERATIONS}
        rss = {}
        for rep in range(args.reps + 1):
            for op in OPERATIONS:
                for t, cmds in table.items():
                    if rep == 0:
                        rss[(t, op)] = run_in(out, op, lambda cwd: peak_rss(cmds[op], cwd or root))
                    r = run_in(out, op, lambda cwd: timed(cmds[op], cwd or root))
                    if rep > 0:
                        results[(t, op)].append(r)
        for op in OPERATIONS:
            for t in table:
                rs = results[(t, op)]
                ratios = [a[0] / b[0] for a, b in zip(rs, results[("tar", op)])]
                med = [statistics.median(x[i] for x in rs) for i in range(3)]
                mib = rss[(t, op)]
                mib = f"{mib:8.1f}" if mib is not None else f"{'':8}"
                print(f"{name:6} {op:8} {t:8} {med[0]:8.3f} {med[1]:8.3f} {med[2]:8.3f} "
                      f"{mib} {statistics.median(ratios):6.2f}")
        # The same repetition's full extraction, so drift hits both alike.
        one = [m[0] / x[0] for m, x in zip(results[("dattool", "member")], results[("dattool", "extract")])]
        print(f"{name:6} one member of {MEMBERS[name]} takes {statistics.median(one):.4f} "
              f"of dattool's full extraction (target for small: under 0.05)")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
