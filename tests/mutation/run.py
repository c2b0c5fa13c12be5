#!/usr/bin/env python3
"""Measures the test suite: applies one fault of faults.txt at a time to the
sources, rebuilds, runs the whole suite with ctest (each test under its
timeout) and restores the source, then prints the score and the faults no
test caught.

    tests/mutation/run.py [--build DIR] [--faults FILE] [--only TEXT]... [--list]

The build directory (build-mutation by default, in the repository) is
configured on first use. A fault is a search and a replacement in one file;
a search that no longer matches exactly once is reported as stale and not
counted, so the list survives unrelated edits but says when it needs one.

The file under change is restored whatever happens: on success, on a
failure, on Ctrl-C or SIGTERM; a copy of it is kept in the build directory
until then, so a run killed outright is repaired by the next run.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Fault:
    def __init__(self, title):
        self.title = title
        self.file = None
        self.find = None
        self.replace = None
        self.excluded = None  # why it changes no behaviour


def unescape(text):
    """"\\n" in a value stands for a line break, "\\\\" for a backslash."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in "n\\":
            out.append("\n" if text[i + 1] == "n" else "\\")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse(path):
    """[title] starts a fault; "file:", "find:", "replace:" and "excluded:"
    lines fill it in. Values start after the colon and one space."""
    faults = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line.startswith("[") and line.endswith("]"):
                faults.append(Fault(line[1:-1]))
                continue
            key, sep, value = line.partition(": ")
            if not sep or not faults or key not in ("file", "find", "replace", "excluded"):
                sys.exit("%s:%d: cannot read %r" % (path, number, line))
            setattr(faults[-1], key, value if key in ("file", "excluded") else unescape(value))
    for fault in faults:
        if fault.file is None or fault.find is None or fault.replace is None:
            sys.exit("%s: fault [%s] needs file, find and replace" % (path, fault.title))
    return faults


class Restorer:
    """Holds the one file under change and puts it back."""

    def __init__(self, build):
        self.backup = os.path.join(build, "mutation-original")
        self.target = os.path.join(build, "mutation-target")

    def recover(self, quiet=False):
        """Puts back the file under change; at the start of a run, one that
        a killed run left changed."""
        if os.path.exists(self.backup) and os.path.exists(self.target):
            with open(self.target) as f:
                target = f.read()
            shutil.copyfile(self.backup, target)
            if not quiet:
                print("restored %s, left changed by an earlier run" % os.path.relpath(target, ROOT))
        for p in (self.backup, self.target):
            if os.path.exists(p):
                os.remove(p)

    def change(self, path, text):
        shutil.copyfile(path, self.backup)
        with open(self.target, "w") as f:
            f.write(path)
        with open(path, "w") as f:
            f.write(text)

    def restore(self):
        self.recover(quiet=True)


def run(cmd, timeout, log):
    """Runs cmd in a process group of its own, killed whole at the timeout."""
    proc = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return None
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutation"))
    parser.add_argument("--faults", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "faults.txt"))
    parser.add_argument("--only", action="append",
                        help="run only the faults whose title holds this text (may be repeated)")
    parser.add_argument("--list", action="store_true", help="check and list the faults, run nothing")
    parser.add_argument("--jobs", default="2")
    args = parser.parse_args()

    faults = parse(args.faults)
    if args.only:
        faults = [f for f in faults if any(text in f.title for text in args.only)]
    os.makedirs(args.build, exist_ok=True)
    restorer = Restorer(args.build)
    restorer.recover()

    # Ctrl-C, SIGTERM and a closed terminal all end in the finally below.
    def stop(signum, _frame):
        raise KeyboardInterrupt("signal %d" % signum)

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, stop)

    log_path = os.path.join(args.build, "mutation.log")
    results = {"caught": [], "survived": [], "stale": [], "unbuilt": [], "excluded": []}
    started = time.time()
    with open(log_path, "w") as log:
        if not args.list:
            print("configuring and building %s" % args.build, flush=True)
            if run(["cmake", "-S", ROOT, "-B", args.build], 600, log) != 0 or \
                    run(["cmake", "--build", args.build, "-j" + args.jobs], 3600, log) != 0:
                sys.exit("the unchanged tree does not build; see " + log_path)
            t = time.time()
            if run(["ctest", "--test-dir", args.build, "-j" + args.jobs], 1800, log) != 0:
                sys.exit("the suite fails on the unchanged tree; see " + log_path)
            print("the suite passes on the unchanged tree in %.0f s" % (time.time() - t), flush=True)
        for n, fault in enumerate(faults, 1):
            label = "%2d/%d %s: %s" % (n, len(faults), fault.file, fault.title)
            if fault.excluded:
                results["excluded"].append(fault)
                print("%s\n      excluded: %s" % (label, fault.excluded), flush=True)
                continue
            path = os.path.join(ROOT, fault.file)
            with open(path) as f:
                text = f.read()
            if text.count(fault.find) != 1:
                results["stale"].append(fault)
                print("%s\n      STALE: the search text occurs %d times" % (label, text.count(fault.find)), flush=True)
                continue
            if args.list:
                print(label)
                continue
            print(label, end="", flush=True)
            log.write("\n==== %s\n" % label)
            log.flush()
            t = time.time()
            try:
                restorer.change(path, text.replace(fault.find, fault.replace))
                built = run(["cmake", "--build", args.build, "-j" + args.jobs], 1200, log) == 0
                if not built:
                    results["unbuilt"].append(fault)
                    verdict = "does not build"
                else:
                    # Stops at the first failing test: one is enough.
                    status = run(["ctest", "--test-dir", args.build, "-j" + args.jobs, "--stop-on-failure"], 1800, log)
                    caught = status != 0
                    results["caught" if caught else "survived"].append(fault)
                    verdict = "caught" if caught else "SURVIVED"
            finally:
                restorer.restore()
            print("\n      %s (%.0f s)" % (verdict, time.time() - t), flush=True)
        if not args.list:
            # Leaves the build matching the restored tree.
            run(["cmake", "--build", args.build, "-j" + args.jobs], 3600, log)

    counted = len(results["caught"]) + len(results["survived"])
    print("\n%d faults: %d caught, %d survived, %d excluded, %d stale, %d do not build (%.0f s)" % (
        len(faults), len(results["caught"]), len(results["survived"]), len(results["excluded"]),
        len(results["stale"]), len(results["unbuilt"]), time.time() - started))
    if counted:
        print("score: %.1f%% of the faults that change behaviour" % (100.0 * len(results["caught"]) / counted))
    for fault in results["survived"]:
        print("survived: %s: %s" % (fault.file, fault.title))
    for fault in results["stale"] + results["unbuilt"]:
        print("not counted: %s: %s" % (fault.file, fault.title))
    return 1 if results["survived"] or results["stale"] else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt as stopped:
        print("\nstopped (%s); the sources are as they were" % (stopped or "Ctrl-C"))
        sys.exit(130)
