#!/usr/bin/env python3
"""Times datmount against archivemount (over a tar of the same tree) and
against the same work on the extracted tree.

    bench/mount.py [--tool build/dattool] [--mount build/datmount] [--sets small,big]
                   [--dir DIR] [--work WORK] [--no-full-archivemount]

Runs as root: the page cache is dropped (sync; echo 3 > drop_caches) before
every timed step but the warm-cache one. The data sets are run.py's, made
once under DIR; the archive and the tar are made under WORK. Steps, each
once, for each set:
  mount    datmount until it has returned and the root answers stat, against
           "dattool l" of the same archive; archivemount the same way;
           medians of three
  find     "find" over every entry; the median of five rounds, the three
           places in turn, find itself loaded again after each drop so
           that loading it from disk is not what is timed
  read     every file read once ("find -type f | xargs cat"); archivemount
           takes minutes on the small set, hence --no-full-archivemount
  tenth    the same over the first tenth of the directories (small set)
  member   (big set) 128 MiB members read through a fresh mount, the archive
           in the page cache (first), then again from the mount's own page
           cache (again), against cat of the extracted files from the page
           cache; medians over four members
Printed: seconds per step and tool, and the ratios the targets speak of.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run  # noqa: E402  (the data sets)


def drop_caches():
    os.sync()
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def timed_shell(cmd, cold=True, preload=None):
    if cold:
        drop_caches()
    if preload:
        subprocess.run(preload, shell=True, check=True, stdout=subprocess.DEVNULL)
    start = time.perf_counter()
    subprocess.run(cmd, shell=True, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def unmount(point):
    subprocess.run(["umount", point], check=False)


def mount_timed(argv, point):
    """Seconds from start until the mounting program returned and the
    root answers stat."""
    drop_caches()
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    os.stat(point)
    return time.perf_counter() - start


def files_under(top, tenth):
    """A shell word list: the tree's top, or its first tenth of directories."""
    if not tenth:
        return f"'{top}'"
    dirs = sorted(os.listdir(top))
    return " ".join(f"'{os.path.join(top, d)}'" for d in dirs[: max(1, len(dirs) // 10)])


def read_all(where):
    return f"find {where} -type f -print0 | xargs -0 cat > /dev/null"


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tool", default="build/dattool")
    ap.add_argument("--mount", default="build/datmount")
    ap.add_argument("--sets", default="small,big")
    ap.add_argument("--dir", default=os.path.join("/tmp", "dattool-bench"))
    ap.add_argument("--work", default=os.path.join("/tmp", "dattool-mount-bench"))
    ap.add_argument("--no-full-archivemount", action="store_true")
    args = ap.parse_args()
    tool, datmount = os.path.abspath(args.tool), os.path.abspath(args.mount)
    have_am = shutil.which("archivemount") is not None
    os.makedirs(args.work, exist_ok=True)
    for name in args.sets.split(","):
        root = run.ensure(args.dir, name)
        tree = os.path.join(root, "tree")
        dat, tar = os.path.join(args.work, name + ".dat"), os.path.join(args.work, name + ".tar")
        if not os.path.exists(dat):
            subprocess.run([tool, "c", dat, "tree"], cwd=root, check=True, stdout=subprocess.DEVNULL)
        if have_am and not os.path.exists(tar):
            subprocess.run(["tar", "cf", tar, "tree"], cwd=root, check=True)
        mp_dat, mp_am = os.path.join(args.work, "mnt-dat"), os.path.join(args.work, "mnt-am")
        os.makedirs(mp_dat, exist_ok=True)
        os.makedirs(mp_am, exist_ok=True)
        r = {}
        r["list", "dattool l"] = statistics.median(timed_shell(f"'{tool}' l '{dat}'") for _ in range(3))
        try:
            # Three mounts each; the last stays for the steps below.
            for who, argv, point in (("datmount", [datmount, dat, mp_dat], mp_dat),
                                     ("archivemount", ["archivemount", "-o", "readonly", tar, mp_am], mp_am)):
                if who == "archivemount" and not have_am:
                    continue
                secs = []
                for n in range(3):
                    if n:
                        unmount(point)
                    secs.append(mount_timed(argv, point))
                r["mount", who] = statistics.median(secs)
            places = {"datmount": mp_dat, "extracted": root}
            if have_am:
                places["archivemount"] = mp_am
            rounds = {who: [] for who in places}
            for n in range(5):
                order = list(places.items())
                for who, top in order[n % len(order):] + order[: n % len(order)]:
                    rounds[who].append(timed_shell(f"find '{top}' > /dev/null", preload="find --version"))
            for who, secs in rounds.items():
                r["find", who] = statistics.median(secs)
            for who, top in places.items():
                if name == "small":
                    r["tenth", who] = timed_shell(read_all(files_under(os.path.join(top, "tree"), True)))
                if who == "archivemount" and args.no_full_archivemount:
                    continue
                print(f"{name}: reading every file through {who}...", file=sys.stderr, flush=True)
                r["read", who] = timed_shell(read_all(f"'{os.path.join(top, 'tree')}'"))
            if name == "big":
                # The archive and the extracted files in the page cache; the
                # mount fresh, so its own pages are not.
                unmount(mp_dat)
                blobs = [f"blob{i}.bin" for i in range(4)]
                subprocess.run(f"cat '{dat}' " + " ".join(f"'{tree}/{b}'" for b in blobs) + " > /dev/null",
                               shell=True, check=True)
                subprocess.run([datmount, dat, mp_dat], check=True)
                first, again, extracted = [], [], []
                for b in blobs:
                    first.append(timed_shell(f"cat '{mp_dat}/tree/{b}' > /dev/null", cold=False))
                    again.append(timed_shell(f"cat '{mp_dat}/tree/{b}' > /dev/null", cold=False))
                    extracted.append(timed_shell(f"cat '{tree}/{b}' > /dev/null", cold=False))
                r["member", "datmount"] = statistics.median(first)
                r["again", "datmount"] = statistics.median(again)
                r["member", "extracted"] = statistics.median(extracted)
        finally:
            unmount(mp_dat)
            if have_am:
                unmount(mp_am)
        print(f"== set {name}")
        for (step, who), secs in r.items():
            print(f"{name:6} {step:7} {who:13} {secs:9.3f} s")

        def ratio(label, a, b):
            if a in r and b in r:
                print(f"{name:6} {label:48} {r[a] / r[b]:9.2f}")

        if ("mount", "datmount") in r:
            print(f"{name:6} {'mount - dattool l (ms, target <= 20)':48} "
                  f"{(r['mount', 'datmount'] - r['list', 'dattool l']) * 1000:9.1f}")
        ratio("find: datmount / archivemount (target <= 1)", ("find", "datmount"), ("find", "archivemount"))
        ratio("read: archivemount / datmount (target >= 100)", ("read", "archivemount"), ("read", "datmount"))
        ratio("tenth: archivemount / datmount (target >= 20)", ("tenth", "archivemount"), ("tenth", "datmount"))
        ratio("read: datmount / extracted (target <= 3)", ("read", "datmount"), ("read", "extracted"))
        ratio("member: datmount / extracted (target <= 2)", ("member", "datmount"), ("member", "extracted"))
        ratio("member again: datmount / extracted", ("again", "datmount"), ("member", "extracted"))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
