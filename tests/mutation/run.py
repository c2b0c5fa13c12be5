#!/usr/bin/env python3
"""Measures the test suite: applies one fault of faults.txt at a time to the
sources, rebuilds, runs the whole suite with ctest (each test under its
timeout) and restores the source, then prints the score and the faults no
test caught.

    tests/mutation/run.py [--build DIR] [--faults FILE] [--only TEXT]... [--list]
                          [--suite-limit SECONDS]

The build directory (build-mutation by default, in the repository) is
configured on first use. A fault is a search and a replacement in one file;
a search that no longer matches exactly once is reported as stale and not
counted, so the list survives unrelated edits but says when it needs one.

No fault hangs the run. A test that a fault makes hang is ended by its own
time limit (ctest's, see tests/timeouts.cmake): that is a catch, and the
line names the test. A suite that has not ended within the suite limit
(by default twice the unchanged suite's time and the longest test limit
on top) is killed with everything it started: that fault is "hung", named
as such and not counted as caught. The tests run with TMPDIR in the build
directory; after each fault whatever they left there is removed, and
file systems they left mounted there (a mount whose test was killed) are
unmounted first.

The file under change is restored whatever happens: on success, on a
failure, on Ctrl-C or SIGTERM; a copy of it is kept in the build directory
until then, so a run killed outright is repaired by the next run.
"""
import argparse
import os
import re
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


def kill_session(sid):
    """Kills every process of session sid: what a command started stays in
    its session even where it made a process group of its own."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as f:
                # The fields after the command's name, which may hold anything.
                fields = f.read().rpartition(")")[2].split()
            if int(fields[3]) == sid:
                os.kill(int(pid), signal.SIGKILL)
        except (OSError, IndexError, ValueError):
            pass  # gone already


def run(cmd, timeout, log, env=None):
    """Runs cmd in a session of its own; returns its status, or None when it
    ran out of time. Whatever it started and left running is killed when it
    ends, and all of it at the timeout."""
    proc = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, start_new_session=True, env=env)
    deadline = time.time() + timeout
    ended = False
    try:
        # Waited for without reaping it, so that its number, which is the
        # session's, cannot pass to another process before the kill below.
        while not ended and time.time() < deadline:
            ended = os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is not None
            if not ended:
                time.sleep(0.2)
    finally:
        kill_session(proc.pid)
        status = proc.wait()
    return status if ended else None


def timed_out_tests(output):
    """The tests that ctest's own time limit ended, from its summary."""
    return re.findall(r"^\s*\d+ - (.*) \(Timeout\)$", output, re.MULTILINE)


def unescape_mount(field):
    """/proc/self/mounts writes space, tab, newline and backslash as \\ooo."""
    return re.sub(r"\\([0-7]{3})", lambda m: chr(int(m.group(1), 8)), field)


def unmount_below(top):
    """Unmounts, lazily, every FUSE file system mounted at or below top;
    returns how many. The mount points are read from /proc/self/mounts,
    deepest first."""
    prefix = os.path.join(top, "")
    points = []
    with open("/proc/self/mounts") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 3 or not fields[2].startswith("fuse"):
                continue
            point = unescape_mount(fields[1])
            if point == top or point.startswith(prefix):
                points.append(point)
    for point in sorted(points, key=len, reverse=True):
        try:
            subprocess.run(["fusermount3", "-uz", point], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except OSError as e:
            print("      cannot unmount %s: %s" % (point, e), flush=True)
    return len(points)


def clear_scratch(scratch):
    """Unmounts and removes what the tests left in their TMPDIR; returns how
    many file systems were left mounted there."""
    left = 0
    if os.path.isdir(scratch):
        left = unmount_below(scratch)
        # rm copes with trees deeper than a path can name, and stays off
        # any file system that could not be unmounted.
        subprocess.run(["rm", "-rf", "--one-file-system", scratch], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
    os.makedirs(scratch, exist_ok=True)
    return left


def mounted_note(left):
    return "; unmounted %d file system(s) it left mounted" % left if left else ""


def run_suite(build, jobs, limit, log, env):
    """Runs the suite, stopping at the first failure; returns its status
    (None: it did not end within limit) and the tests that their own time
    limit ended."""
    out_path = os.path.join(build, "mutation-ctest.log")
    with open(out_path, "w") as out:
        status = run(["ctest", "--test-dir", build, "-j" + jobs, "--stop-on-failure"], limit, out, env)
    with open(out_path, errors="replace") as out:
        output = out.read()
    log.write(output)
    log.flush()
    return status, timed_out_tests(output)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutation"))
    parser.add_argument("--faults", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "faults.txt"))
    parser.add_argument("--only", action="append",
                        help="run only the faults whose title holds this text (may be repeated)")
    parser.add_argument("--list", action="store_true", help="check and list the faults, run nothing")
    parser.add_argument("--jobs", default="2")
    parser.add_argument("--suite-limit", type=float,
                        help="seconds a run of the suite may take before it counts as hung")
    args = parser.parse_args()

    faults = parse(args.faults)
    if args.only:
        faults = [f for f in faults if any(text in f.title for text in args.only)]
    os.makedirs(args.build, exist_ok=True)
    restorer = Restorer(args.build)
    restorer.recover()
    # The tests' scratch directories, and so their mounts, lie here, where
    # nothing but this run's tests puts any.
    scratch = os.path.join(args.build, "mutation-tmp")
    env = dict(os.environ, TMPDIR=scratch)
    if not args.list and clear_scratch(scratch):
        print("unmounted what an earlier run left mounted")

    # Ctrl-C, SIGTERM and a closed terminal all end in the finally below.
    def stop(signum, _frame):
        raise KeyboardInterrupt("signal %d" % signum)

    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, stop)

    log_path = os.path.join(args.build, "mutation.log")
    results = {"caught": [], "survived": [], "hung": [], "stale": [], "unbuilt": [], "excluded": []}
    ran_out = []  # (fault, what ran out of time)
    started = time.time()
    with open(log_path, "w") as log:
        if not args.list:
            print("configuring and building %s" % args.build, flush=True)
            if run(["cmake", "-S", ROOT, "-B", args.build], 600, log) != 0 or \
                    run(["cmake", "--build", args.build, "-j" + args.jobs], 3600, log) != 0:
                sys.exit("the unchanged tree does not build; see " + log_path)
            t = time.time()
            status, _ = run_suite(args.build, args.jobs, 1800, log, env)
            left = clear_scratch(scratch)
            if status != 0:
                sys.exit("the suite fails on the unchanged tree; see " + log_path)
            if left:
                print("the unchanged suite left %d file system(s) mounted; unmounted" % left)
            took = time.time() - t
            # Room for a test that hangs to reach its own limit, the longest
            # of which is 180 s, while the rest of the suite runs.
            limit = args.suite_limit or 2 * took + 180
            print("the suite passes on the unchanged tree in %.0f s; a fault's run may take %.0f s" % (took, limit),
                  flush=True)
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
            left = 0
            try:
                restorer.change(path, text.replace(fault.find, fault.replace))
                status = run(["cmake", "--build", args.build, "-j" + args.jobs], 1200, log)
                if status != 0:
                    results["unbuilt"].append(fault)
                    verdict = "does not build" if status is not None else "the build did not end in 1200 s"
                else:
                    # Stops at the first failing test: one is enough.
                    status, timed_out = run_suite(args.build, args.jobs, limit, log, env)
                    for test in timed_out:
                        print("\n      timed out: %s, ended by its own time limit" % test, end="", flush=True)
                        ran_out.append((fault, test))
                    if status is None:
                        results["hung"].append(fault)
                        ran_out.append((fault, "the suite, killed after %.0f s" % limit))
                        verdict = "HUNG: the suite did not end in %.0f s and was killed; not caught" % limit
                    else:
                        caught = status != 0
                        results["caught" if caught else "survived"].append(fault)
                        verdict = "caught" if caught else "SURVIVED"
            finally:
                restorer.restore()
                left = clear_scratch(scratch)
            print("\n      %s (%.0f s)%s" % (verdict, time.time() - t, mounted_note(left)), flush=True)
        if not args.list:
            # Leaves the build matching the restored tree.
            run(["cmake", "--build", args.build, "-j" + args.jobs], 3600, log)

    counted = len(results["caught"]) + len(results["survived"]) + len(results["hung"])
    print("\n%d faults: %d caught, %d survived, %d hung, %d excluded, %d stale, %d do not build (%.0f s)" % (
        len(faults), len(results["caught"]), len(results["survived"]), len(results["hung"]),
        len(results["excluded"]), len(results["stale"]), len(results["unbuilt"]), time.time() - started))
    if counted:
        print("score: %.1f%% of the faults that change behaviour" % (100.0 * len(results["caught"]) / counted))
    for fault in results["survived"]:
        print("survived: %s: %s" % (fault.file, fault.title))
    for fault in results["hung"]:
        print("hung: %s: %s" % (fault.file, fault.title))
    for fault, what in ran_out:
        print("ran out of time: %s: %s: %s" % (fault.file, fault.title, what))
    for fault in results["stale"] + results["unbuilt"]:
        print("not counted: %s: %s" % (fault.file, fault.title))
    return 1 if results["survived"] or results["hung"] or results["stale"] else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt as stopped:
        print("\nstopped (%s); the sources are as they were" % (stopped or "Ctrl-C"))
        sys.exit(130)
