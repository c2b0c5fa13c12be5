#!/usr/bin/env python3
"""Times the Python module dat against its targets:

    listing     the 200,000 empty files of library_memory.py's archive
                (dat.open and entries()), under 1 s
    read        one member of 128 MiB into bytes, at 1 GB/s or more, from
                the page cache (best of --reps), stored scrambled and plain,
                beside Python's own read of the same bytes from a file
    create      bench/run.py's small set (20,000 files) written through
                dat.create, within 1.5 times "dattool c" of the same tree
                (medians of --reps, interleaved)

    bench/python_module.py [--lib build/libdat.so.0] [--tool build/dattool] [--files 200000]
                           [--member-mib 128] [--small-files 20000] [--reps 5] [--dir DIR]

Smaller --files, --member-mib and --small-files try the script quickly.
The module comes from python/ beside this folder, the library from --lib.
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

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))
from library_memory import archive  # noqa: E402


def best(run, reps):
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        run()
        times.append(time.perf_counter() - start)
    return min(times), statistics.median(times)


def small_set(root, files):
    """bench/run.py's small set, or as many of its files as asked for."""
    rng = random.Random(2)
    pool = rng.randbytes(1 << 20)
    for k in range(files):
        sub = os.path.join(root, f"dir{k // 200:03}")
        os.makedirs(sub, exist_ok=True)
        size = rng.randint(1024, 16384)
        start = rng.randint(0, len(pool) - size)
        name = f"file{k % 200:03}" + (".tex" if k % 10 == 0 else ".dat")
        with open(os.path.join(sub, name), "wb") as f:
            f.write(pool[start:start + size])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--lib", default="build/libdat.so.0")
    ap.add_argument("--tool", default="build/dattool")
    ap.add_argument("--files", type=int, default=200000)
    ap.add_argument("--member-mib", type=int, default=128)
    ap.add_argument("--small-files", type=int, default=20000)
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--dir", default=None, help="where to make the archives (default: a temporary folder)")
    a = ap.parse_args()
    os.environ["DAT_LIBRARY"] = os.path.abspath(a.lib)
    tool = os.path.abspath(a.tool)
    import dat

    with tempfile.TemporaryDirectory(dir=a.dir) as work:
        many = os.path.join(work, "many.dat")
        with open(many, "wb") as f:
            f.write(archive(200, a.files // 200))

        def listing():
            with dat.open(many) as arch:
                assert len(arch.entries()) == 200 + a.files // 200 * 200

        low, mid = best(listing, a.reps)
        verdict = "ok" if low < 1 else "OVER 1 s"
        print(f"listing {a.files} entries: best {low:.3f} s, median {mid:.3f} s  ({verdict})")

        # One member stored scrambled, one stored plain (".tex"), of the
        # same bytes.
        member = os.path.join(work, "member")
        os.makedirs(member)
        size = a.member_mib << 20
        rng = random.Random(3)
        chunk = rng.randbytes(1 << 20)
        plain = os.path.join(member, "big.bin")
        with open(plain, "wb") as f:
            for _ in range(a.member_mib):
                f.write(chunk)
        os.link(plain, os.path.join(member, "big.tex"))
        big = os.path.join(work, "big.dat")
        subprocess.run([tool, "c", big, "member"], cwd=work, check=True, stdout=subprocess.DEVNULL)
        with dat.open(big) as arch:
            for name, how in (("member/big.bin", "scrambled"), ("member/big.tex", "plain")):
                arch.read(name)  # into the page cache
                low, mid = best(lambda: arch.read(name), a.reps)
                rate = size / low / 1e9
                verdict = "ok" if rate >= 1 else "UNDER 1 GB/s"
                print(f"read a {a.member_mib} MiB member stored {how}: best {low:.3f} s = {rate:.2f} GB/s, "
                      f"median {mid:.3f} s  ({verdict})")

        # The floor: Python reading the same bytes from a plain file into a
        # new bytes object, from the page cache.
        def whole():
            with open(plain, "rb") as f:
                f.read()

        whole()
        low, mid = best(whole, a.reps)
        print(f"  the same bytes by open().read(): best {low:.3f} s = {size / low / 1e9:.2f} GB/s, median {mid:.3f} s")
        shutil.rmtree(member)
        os.remove(big)

        if not hasattr(dat, "create"):
            print("create: not timed, this module has no writer (dat.create)")
            return
        tree = os.path.join(work, "small", "tree")
        small_set(tree, a.small_files)
        out = os.path.join(work, "out.dat")

        def by_tool():
            subprocess.run([tool, "c", out, "tree"], cwd=os.path.dirname(tree), check=True,
                           stdout=subprocess.DEVNULL)

        def by_module():
            with dat.create(out) as w:
                w.add(tree, "tree")

        tool_times, module_times = [], []
        for _ in range(a.reps):
            for run, times in ((by_tool, tool_times), (by_module, module_times)):
                os.sync()
                start = time.perf_counter()
                run()
                times.append(time.perf_counter() - start)
                os.remove(out)
        ratio = statistics.median(m / t for m, t in zip(module_times, tool_times))
        verdict = "ok" if ratio <= 1.5 else "OVER 1.5x"
        print(f"create {a.small_files} files: dattool c median {statistics.median(tool_times):.3f} s, "
              f"dat.create median {statistics.median(module_times):.3f} s, ratio {ratio:.2f}  ({verdict})")


if __name__ == "__main__":
    main()
