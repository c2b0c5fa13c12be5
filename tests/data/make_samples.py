#!/usr/bin/env python3
"""Writes the sample archives of this directory, each named for what it holds,
and beside each, <name>.expected: what "l" and "x" print on standard output
and standard error, their exit statuses and the tree "x" leaves (<name>.windows.expected where a Windows build differs).
tests/e2e/samples_test.cpp runs every archive here against its expectations,
so a new hostile case is one entry in samples() and a run of this script.

Run by hand from anywhere (python3 tests/data/make_samples.py); the files are
committed, so the tests never need Python.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAGIC = b"tolva"
PLAIN_ENDINGS = (b".tex", b".msh", b".TEX", b".MSH")


def key_at(p):
    return (0x3D + 0xA7 * p) & 0xFF


def scramble(data, start):
    return bytes(b ^ key_at(start + i) for i, b in enumerate(data))


class F:
    """A file; offset and size may be forced to lie."""

    def __init__(self, name, data=b"", offset=None, size=None, flag=None):
        self.name = name.encode() if isinstance(name, str) else name
        self.data = data
        self.forced_offset = offset
        self.forced_size = size
        # Any flag but 0 stores the bytes scrambled.
        self.scrambled = flag if flag is not None else 0 if self.name.endswith(PLAIN_ENDINGS) else 1


class D:
    """A directory; its child count may be forced to lie."""

    def __init__(self, name, children=(), count=None):
        self.name = name.encode() if isinstance(name, str) else name
        self.children = list(children)
        self.count = len(self.children) if count is None else count


class X:
    """A record of a type the format does not know: type and name only."""

    def __init__(self, type_, name):
        self.type = type_
        self.name = name.encode()


def walk(entries, records, data, start):
    """Appends records and file bytes in preorder; returns the next offset."""
    at = start
    for e in entries:
        head = lambda t: struct.pack("<BH", t, len(e.name)) + e.name
        if isinstance(e, F):
            offset = at if e.forced_offset is None else e.forced_offset
            size = len(e.data) if e.forced_size is None else e.forced_size
            records.append(head(0) + struct.pack("<IIB", offset, size, e.scrambled))
            data.append((e.data, e.scrambled))
            at += len(e.data)
        elif isinstance(e, D):
            body = []
            end = walk(e.children, body, data, at)
            records.append(head(1) + struct.pack("<III", at, end - at, e.count << 8) + b"\0")
            records.extend(body)
            at = end
        else:
            records.append(head(e.type))
    return at


def archive(entries, magic=MAGIC, root_type=1, root_size=None):
    records, data = [], []
    total = walk(entries, records, data, 0)
    size = total if root_size is None else root_size
    root = struct.pack("<BHIII", root_type, 0, 0, size, len(entries) << 8) + b"\0"
    toc = magic + root + b"".join(records)
    out = bytearray(scramble(toc, 0))
    for bytes_, scrambled in data:
        out += scramble(bytes_, len(out)) if scrambled else bytes_
    return bytes(out)


def nested(levels, inner):
    return nested_named("d", levels, inner)


def nested_named(name, levels, inner, count=None):
    tree = inner
    for _ in range(levels):
        tree = [D(name, tree, count)]
    return tree


def too_many_claimed_expect(platform):
    """100 nested directories with empty names, each claiming 16,777,215
    children; 300 records of an unknown type below, then the TOC ends."""
    listing = "".join("\\" * i + "\n" for i in range(1, 101))
    end = 21 + 16 * 100 + 3 * 300
    return damaged(listing, "record at offset %d runs past the end of the TOC at %d" % (end, end))


DIR = "<dir>"
# The longest path each build takes: PATH_MAX - 1 on Linux, MAX_PATH - 1 on
# Windows.
PATH_LIMIT = {"linux": 4095, "windows": 259}
NOT_ARCHIVE = "Not a DAT file\n"
# Standard error names the archive as the command line did; the test puts
# the path it used in place of this.
ARCHIVE = "<archive>"


def err(path, reason):
    """One line of standard error."""
    return "dattool: %s: %s\n" % (path, reason)


def not_archive():
    line = err(ARCHIVE, "Not a DAT file")
    return Expect(NOT_ARCHIVE, 255, NOT_ARCHIVE, 255, list_errors=line, extract_errors=line)


class Expect:
    """What "l" and "x" print after "Parsing TOC..." and on standard error,
    their exit statuses, and the tree "x" leaves: path -> DIR or the file's
    bytes (directories that hold something may be left out; the test adds
    every ancestor)."""

    def __init__(self, listing, list_status, extraction, extract_status, tree=None, list_errors="",
                 extract_errors=""):
        self.listing = listing
        self.list_status = list_status
        self.extraction = extraction
        self.extract_status = extract_status
        self.tree = tree or {}
        self.list_errors = list_errors
        self.extract_errors = extract_errors


def damaged(listing, message):
    """Listing up to the damage, then the message; "x" writes nothing."""
    line = "Damaged archive: " + message + "\n"
    error = err(ARCHIVE, "Damaged archive: " + message)
    return Expect(listing + line, 255, line, 255, list_errors=error, extract_errors=error)


def extracted(lines, files):
    return "Extracting...\n" + "".join(l + "\n" for l in lines) + "Extracted %d file(s)\n" % files


def deep_expect(platform):
    """3000 levels of "d": the tree outgrows the reader's 2048 levels, the
    same on every platform; the directory past them is damage, reported with
    its record's offset (17 bytes per record)."""
    listing = "".join("d\\" * level + "\n" for level in range(1, 2049))
    return damaged(listing, "directory at offset %d lies deeper than 2048 levels" % (21 + 17 * 2048))


def chain_expect(platform, levels, name, files):
    """levels directories named name, each in the one before, and at the
    bottom the files (name, bytes). Everything is listed; "x" makes what
    its platform's paths can hold and refuses the rest, a directory or file
    whose path is longer than the limit, and all below it, as "File name
    too long"; a file with an empty name names no file."""
    limit = PATH_LIMIT[platform]
    listing, run, tree, errors = [], [], {}, ""
    too_long = "File name too long"
    made = 0  # levels of directories made
    for level in range(1, levels + 1):
        path = (name + "\\") * level
        listing.append(path)
        run.append("Creating directory " + path + "...")
        if len(path) > limit:
            run.append("Unable to create directory " + path)
            errors += err(path, too_long)
        else:
            made = level
    bottom = (name + "\\") * levels
    for file_name, data in files:
        path = bottom + file_name
        listing.append(path)
        why = "path names no file" if not file_name else too_long if len(path) > limit else None
        run.append("Extracting " + path + ("...failed" if why else "...ok"))
        if why:
            errors += err(path, why)
        else:
            tree["/".join([name] * levels + [file_name])] = data
    # Directories that hold something are left out (the test adds them).
    if made and not tree:
        tree["/".join([name] * made)] = DIR
    status = 255 if errors else 0
    return Expect("".join(p + "\n" for p in listing), 0, extracted(run, len(files)), status, tree,
                  extract_errors=errors)


def nested_expect(platform):
    """200 levels of "d" and a file: 405 bytes, more than a Windows path
    holds."""
    return chain_expect(platform, 200, "d", [("f.txt", b"deep")])


def deepest_expect(platform):
    """2047 levels of "d" and a file "f": a path of exactly 4095 bytes."""
    return chain_expect(platform, 2047, "d", [("f", b"deep")])


def too_deep_expect(platform):
    """2049 levels of directories with empty names: each level adds one
    "\\" (16-byte records); the 2049th is damage on every platform."""
    listing = "".join("\\" * i + "\n" for i in range(1, 2049))
    return damaged(listing, "directory at offset %d lies deeper than 2048 levels" % (21 + 16 * 2048))


def amplified_expect(platform, files):
    """15 levels of 255-byte names over files with empty names: each file
    lists as its directory's path, and names no file to extract."""
    return chain_expect(platform, 15, "n" * 255, [("", b"")] * files)


WINDOWS_NAMES = ["a:b", "trail.", "space ", "LONGDI~1", "CON", "aux.txt", "Com1", "lpt9.log", "nul .x",
                 "CONIN$", "conout$.txt", "abcdef~1.txt", "what?", "a<b>"]
# The UTF-8 bytes of "COM" and a superscript one: a device to a program
# whose code page is UTF-8, "COM" and two other characters to one that
# reads them in 1252, as wine's default code page does.
UTF8_DEVICE = b"COM\xc2\xb9".decode("latin-1")
WINDOWS_TAKEN = ["COM10", "console", "a.b", "com", "a~b.txt", "longname~1.text", UTF8_DEVICE]


def windows_names_expect(platform):
    """Names a Windows build refuses as one component of a path, and names
    close to them that it takes."""
    names = WINDOWS_NAMES
    allowed = WINDOWS_TAKEN
    dirs = names[:2] + ["LONGDI~1"]
    listing = "w\\\n" + "".join("w\\" + n + "\n" for n in names + allowed) + "d\\\n" + "".join(
        "d\\" + n + "\\\n" for n in dirs)
    refused = platform == "windows"
    run = ["Creating directory w\\..."]
    tree = {}
    errors = ""
    reserved = "name is reserved on Windows"

    def on_disk(n):
        # Tree paths are written as UTF-8 of the characters the system gave.
        data = n.encode("latin-1")
        return data.decode("cp1252") if platform == "windows" else data.decode()

    for n in names:
        run.append("Extracting w\\" + n + ("...failed" if refused else "...ok"))
        if refused:
            errors += err("w\\" + n, reserved)
        if not refused:
            tree["w/" + on_disk(n)] = n.encode("latin-1")
    for n in allowed:
        run.append("Extracting w\\" + n + "...ok")
        tree["w/" + on_disk(n)] = n.encode("latin-1")
    run.append("Creating directory d\\...")
    for n in dirs:
        run.append(("Skipping d\\%s\\: name is reserved on Windows" if refused else "Creating directory d\\%s\\...")
                   % n)
        if not refused:
            tree["d/" + n] = DIR
        else:
            errors += err("d\\%s\\" % n, reserved)
    if refused:
        tree["d"] = DIR
    return Expect(listing, 0, extracted(run, len(names) + len(allowed)), 255 if refused else 0, tree,
                  extract_errors=errors)


def joined_paths(entries, prefix=""):
    """Every entry's path as "l" lists it, in preorder."""
    out = []
    for e in entries:
        path = prefix + e.name.decode("latin-1") + ("\\" if isinstance(e, D) else "")
        out.append(path)
        if isinstance(e, D):
            out += joined_paths(e.children, path)
    return out


def nested_leading_expect(platform):
    """Leading "C:", "..", "\\" and "/" are dropped across levels until a
    name is kept; below that, ".." is refused and "C:" is a name, which a
    Windows build refuses."""
    listing = "".join(p + "\n" for p in joined_paths(NESTED_LEADING))
    top = "C:\\..\\\\\\/abs\\"
    refused = platform == "windows"
    run = ["Creating directory abs\\...", "Extracting abs\\f...ok",
           "Skipping " + top + "..\\: path leaves the current directory",
           "Extracting " + top + "..\\g...failed"]
    climbing = "path leaves the current directory"
    errors = err(top + "..\\", climbing) + err(top + "..\\g", climbing)
    tree = {"abs/f": b"f"}
    if refused:
        run += ["Skipping abs\\C:\\: name is reserved on Windows", "Extracting abs\\C:\\h...failed"]
        reserved = "name is reserved on Windows"
        errors += err("abs\\C:\\", reserved) + err("abs\\C:\\h", reserved)
    else:
        run += ["Creating directory abs\\C:\\...", "Extracting abs\\C:\\h...ok"]
        tree["abs/C:/h"] = b"h"
    return Expect(listing, 0, extracted(run, 3), 255, tree, extract_errors=errors)


NESTED_LEADING = [D("C:", [D("..", [D("\\", [D("/abs", [
    F("f", b"f"), D("..", [F("g", b"g")]), D("C:", [F("h", b"h")])])])])])]


def samples():
    """name -> (archive bytes, {platform: Expect}); an Expect given once holds
    for both platforms."""
    worked = archive([D("data", [F("a.txt", b"abc"), F("m.msh", b"0123456789")])])
    sharing = archive([D("d", [F("a.bin", b"hello world"), F("b.bin", offset=0, size=5),
                               F("c.tex", offset=0, size=5)])])
    worked_listing = "data\\\ndata\\a.txt\ndata\\m.msh\n"
    one_file = [D("data", [F("a.txt", b"abc")])]
    return {
        # The layout example: one directory, a scrambled and a plain file.
        "worked_example.dat": (worked, Expect(
            worked_listing, 0,
            extracted(["Creating directory data\\...", "Extracting data\\a.txt...ok",
                       "Extracting data\\m.msh...ok"], 2), 0,
            {"data/a.txt": b"abc", "data/m.msh": b"0123456789"})),
        # A file and a subdirectory with a file of its own.
        "edge_case.dat": (
            archive([D("data", [F("a.txt", b"alpha\n"), D("sub", [F("b.txt", b"beta\n")])])]),
            Expect("data\\\ndata\\a.txt\ndata\\sub\\\ndata\\sub\\b.txt\n", 0,
                   extracted(["Creating directory data\\...", "Extracting data\\a.txt...ok",
                              "Creating directory data\\sub\\...", "Extracting data\\sub\\b.txt...ok"], 2), 0,
                   {"data/a.txt": b"alpha\n", "data/sub/b.txt": b"beta\n"})),
        "empty.dat": (archive([]), Expect("", 0, extracted([], 0), 0)),
        "cut_short.dat": (worked[:-4], damaged(
            "data\\\ndata\\a.txt\n", "record at offset 58 runs past the end of the TOC at 71")),
        "bytes_appended.dat": (worked + b"JUNK!!!", damaged(
            worked_listing, "TOC ends at offset 75 but the data region starts at 82")),
        "header_cut_short.dat": (worked[:15], not_archive()),
        "wrong_magic.dat": (archive([D("data")], magic=b"tolvb"), not_archive()),
        "root_not_directory.dat": (archive([D("data")], root_type=0), not_archive()),
        "root_size_too_large.dat": (archive([D("data", [F("a.txt", b"abc")])], root_size=1000),
                                    damaged("", "data region of 1000 bytes and the 21-byte header are longer than the archive of 61 bytes")),
        # One byte more than the archive holds after its header.
        "root_size_one_too_large.dat": (archive(one_file, root_size=len(archive(one_file)) - 20),
                                        damaged("", "data region of 41 bytes and the 21-byte header are longer than the archive of 61 bytes")),
        "huge_child_count.dat": (archive([D("big", [F("only.txt", b"x")], count=0xFFFFFF)]), damaged(
            "big\\\nbig\\only.txt\n", "record at offset 60 runs past the end of the TOC at 60")),
        "name_300_bytes.dat": (archive([D("d", [F("ok.txt", b"1"), F("n" * 300, b"2")])]), damaged(
            "d\\\nd\\ok.txt\n", "name of 300 bytes at offset 56 is longer than 259 bytes")),
        # A zero byte ends the name.
        "zero_byte_in_name.dat": (
            archive([D("d", [F(b"ab\0cd.txt", b"hi"), F("e.txt", b"yo")])]),
            Expect("d\\\nd\\ab\nd\\e.txt\n", 0,
                   extracted(["Creating directory d\\...", "Extracting d\\ab...ok", "Extracting d\\e.txt...ok"], 2),
                   0, {"d/ab": b"hi", "d/e.txt": b"yo"})),
        # Bytes after a zero byte count toward no limit: 20 levels of
        # 259-byte names that end at their second byte make a path of 41.
        "zero_byte_in_long_names.dat": (
            archive(nested_named(b"d\0" + b"z" * 257, 20, [F(b"f\0" + b"y" * 257, b"deep")])),
            Expect("".join("d\\" * i + "\n" for i in range(1, 21)) + "d\\" * 20 + "f\n", 0,
                   extracted(["Creating directory " + "d\\" * i + "..." for i in range(1, 21)] +
                             ["Extracting " + "d\\" * 20 + "f...ok"], 1), 0,
                   {"d/" * 20 + "f": b"deep"})),
        # 3000 levels of "d\\": the tree outgrows the reader's depth.
        "deep_nesting.dat": (archive(nested(3000, [F("f.txt", b"deep")])),
                             {p: deep_expect(p) for p in PATH_LIMIT}),
        "nested_200_levels.dat": (archive(nested(200, [F("f.txt", b"deep")])),
                                  {p: nested_expect(p) for p in PATH_LIMIT}),
        # Leading ".." parts are dropped; ".." further on is refused.
        "dot_dot.dat": (archive([
            D("..", [F("up.txt", b"up")]),
            D("a", [D("..", [F("x.txt", b"x")])]),
            F("../../slash.txt", b"slash"),
            F("b/../../c.txt", b"c"),
            F("..\\escaped.txt", b"esc"),
        ]), Expect("..\\\n..\\up.txt\na\\\na\\..\\\na\\..\\x.txt\n../../slash.txt\nb/../../c.txt\n..\\escaped.txt\n", 0,
                   extracted(["Extracting up.txt...ok", "Creating directory a\\...",
                              "Skipping a\\..\\: path leaves the current directory",
                              "Extracting a\\..\\x.txt...failed", "Extracting slash.txt...ok",
                              "Extracting b/../../c.txt...failed", "Extracting escaped.txt...ok"], 5), 255,
                   {"up.txt": b"up", "a": DIR, "slash.txt": b"slash", "escaped.txt": b"esc"},
                   extract_errors=err("a\\..\\", "path leaves the current directory") +
                   err("a\\..\\x.txt", "path leaves the current directory") +
                   err("b/../../c.txt", "path leaves the current directory"))),
        # A file's own name climbing out from below a directory.
        "climbing_file_name.dat": (archive([
            D("data", [F("../../evil.txt", b"evil"), F("sub/../../../up.txt", b"up"), F("ok.txt", b"ok")]),
        ]), Expect("data\\\ndata\\../../evil.txt\ndata\\sub/../../../up.txt\ndata\\ok.txt\n", 0,
                   extracted(["Creating directory data\\...", "Extracting data\\../../evil.txt...failed",
                              "Extracting data\\sub/../../../up.txt...failed", "Extracting data\\ok.txt...ok"], 3),
                   255, {"data/ok.txt": b"ok"},
                   extract_errors=err("data\\../../evil.txt", "path leaves the current directory") +
                   err("data\\sub/../../../up.txt", "path leaves the current directory"))),
        # Leading parts stripped level after level, then names like any other.
        "nested_leading_parts.dat": (archive(NESTED_LEADING), {p: nested_leading_expect(p) for p in PATH_LIMIT}),
        # Refused with nothing below it that could fail: still a failure.
        "climbing_empty_directory.dat": (archive([D("a", [D("..")])]), Expect(
            "a\\\na\\..\\\n", 0,
            extracted(["Creating directory a\\...", "Skipping a\\..\\: path leaves the current directory"], 0),
            255, {"a": DIR}, extract_errors=err("a\\..\\", "path leaves the current directory"))),
        "absolute_names.dat": (archive([
            D("/tmp", [D("dattool-escape", [F("x.txt", b"abs")])]),
            D("\\abs", [F("y.txt", b"back")]),
        ]), Expect("/tmp\\\n/tmp\\dattool-escape\\\n/tmp\\dattool-escape\\x.txt\n\\abs\\\n\\abs\\y.txt\n", 0,
                   extracted(["Creating directory tmp\\...", "Creating directory tmp\\dattool-escape\\...",
                              "Extracting tmp\\dattool-escape\\x.txt...ok", "Creating directory abs\\...",
                              "Extracting abs\\y.txt...ok"], 2), 0,
                   {"tmp/dattool-escape/x.txt": b"abs", "abs/y.txt": b"back"})),
        "drive_names.dat": (archive([
            D("C:\\games", [F("save.txt", b"1")]),
            F("D:notes.txt", b"2"),
        ]), Expect("C:\\games\\\nC:\\games\\save.txt\nD:notes.txt\n", 0,
                   extracted(["Creating directory games\\...", "Extracting games\\save.txt...ok",
                              "Extracting notes.txt...ok"], 2), 0,
                   {"games/save.txt": b"1", "notes.txt": b"2"})),
        "unknown_record_type.dat": (archive([
            D("d", [F("a.txt", b"A"), X(7, "odd"), F("b.txt", b"B")]),
            X(200, "top"),
        ]), Expect("d\\\nd\\a.txt\nd\\b.txt\n", 0,
                   extracted(["Creating directory d\\...", "Extracting d\\a.txt...ok", "Extracting d\\b.txt...ok"], 2),
                   0, {"d/a.txt": b"A", "d/b.txt": b"B"})),
        # The bad record starts where the data region ends: "failed", no
        # file left under its name, and the rest goes on.
        "file_past_data_region.dat": (archive([
            D("d", [F("good.txt", b"good"), F("bad.txt", b"", offset=9, size=100), F("after.txt", b"after")]),
        ]), Expect("d\\\nd\\good.txt\nd\\bad.txt\nd\\after.txt\n", 0,
                   extracted(["Creating directory d\\...", "Extracting d\\good.txt...ok",
                              "Extracting d\\bad.txt...failed", "Extracting d\\after.txt...ok"], 3), 255,
                   {"d/good.txt": b"good", "d/after.txt": b"after"},
                   extract_errors=err("d\\bad.txt", "its bytes lie outside the archive"))),
        # An empty file reads nothing, so its offset may point anywhere.
        "zero_size_file.dat": (
            archive([F("empty.txt"), D("d", [F("none.msh"), F("far.txt", offset=0xFFFFFFF0, size=0),
                                             F("after.txt", b"x")])]),
            Expect("empty.txt\nd\\\nd\\none.msh\nd\\far.txt\nd\\after.txt\n", 0,
                   extracted(["Extracting empty.txt...ok", "Creating directory d\\...", "Extracting d\\none.msh...ok",
                              "Extracting d\\far.txt...ok", "Extracting d\\after.txt...ok"], 4), 0,
                   {"empty.txt": b"", "d/none.msh": b"", "d/far.txt": b"", "d/after.txt": b"x"})),
        # The deepest path a Linux build takes: 4095 bytes, 2047 levels.
        "deepest_path.dat": (archive(nested(2047, [F("f", b"deep")])),
                             {p: deepest_expect(p) for p in PATH_LIMIT}),
        # A path longer than Linux takes (16 levels of 256 bytes): listed
        # whole and extracted as far as it fits, the rest "File name too
        # long", the same archive on every system.
        "path_longer_than_4095_bytes.dat": (archive(nested_named(b"n" * 255, 16, [F("f", b"deep")])),
                                            {p: chain_expect(p, 16, "n" * 255, [("f", b"deep")])
                                             for p in PATH_LIMIT}),
        # One level deeper than the walks go, in a path short enough.
        "too_deep.dat": (archive(nested_named(b"", 2049, [F("f", b"deep")])),
                         {p: too_deep_expect(p) for p in PATH_LIMIT}),
        # Small records, long paths: a tree that kept every joined path
        # would cost far more than the archive.
        "long_paths_small_records.dat": (
            archive(nested_named(b"n" * 255, 15, [F("") for _ in range(200)])),
            {p: amplified_expect(p, 200) for p in PATH_LIMIT}),
        # Directories claiming 16,777,215 children each, the records below
        # them of an unknown type: nothing may be set aside for the claims.
        "claimed_counts.dat": (
            archive(nested_named(b"", 100, [X(7, "") for _ in range(300)], count=0xFFFFFF)),
            {p: too_many_claimed_expect(p) for p in PATH_LIMIT}),
        # The name's length is checked before the type: a long name is
        # damage in a record of any type.
        "unknown_type_long_name.dat": (archive([D("d", [F("ok.txt", b"1"), X(7, "n" * 300), F("after.txt", b"2")])]),
                                       damaged("d\\\nd\\ok.txt\n",
                                               "name of 300 bytes at offset 56 is longer than 259 bytes")),
        # Every flag but 0 means scrambled, whatever the name; 0 means plain.
        "scramble_flags.dat": (archive([D("d", [
            F("two.bin", b"two", flag=2), F("high.bin", b"high", flag=0x80), F("one.tex", b"one", flag=1),
            F("zero.txt", b"zero", flag=0)])]),
            Expect("d\\\nd\\two.bin\nd\\high.bin\nd\\one.tex\nd\\zero.txt\n", 0,
                   extracted(["Creating directory d\\...", "Extracting d\\two.bin...ok", "Extracting d\\high.bin...ok",
                              "Extracting d\\one.tex...ok", "Extracting d\\zero.txt...ok"], 4), 0,
                   {"d/two.bin": b"two", "d/high.bin": b"high", "d/one.tex": b"one", "d/zero.txt": b"zero"})),
        # Only records of an unknown type: they cost no entry.
        "unknown_records_only.dat": (archive([X(9, "") for _ in range(5000)]),
                                     Expect("", 0, extracted([], 0), 0)),
        # Names a Windows build refuses; a Linux build keeps them.
        "windows_names.dat": (archive([
            D("w", [F(n.encode("latin-1"), n.encode("latin-1")) for n in WINDOWS_NAMES + WINDOWS_TAKEN]),
            D("d", [D(n) for n in WINDOWS_NAMES[:2] + ["LONGDI~1"]]),
        ]), {p: windows_names_expect(p) for p in PATH_LIMIT}),
        # A directory with an empty name below a path: it opens the directory
        # it stands in, and its path as shown ends in a second separator.
        "empty_directory_name.dat": (archive([D("a", [D("", [F("f", b"f")])])]), Expect(
            "a\\\na\\\\\na\\\\f\n", 0,
            extracted(["Creating directory a\\...", "Creating directory a\\\\...", "Extracting a\\\\f...ok"], 1), 0,
            {"a/f": b"f"})),
        # A file whose own name ends in ".": it would be the directory it
        # names, so it is refused, and nothing of its name is made, not even
        # the directories before that ".".
        "file_named_dot.dat": (archive([
            F("d\\.", b"d"),
            D("e", [F("f/.", b"f")]),
            F("g\\h\\.", b"g"),
        ]), Expect("d\\.\ne\\\ne\\f/.\ng\\h\\.\n", 0,
                   extracted(["Extracting d\\....failed", "Creating directory e\\...", "Extracting e\\f/....failed",
                              "Extracting g\\h\\....failed"], 3), 255, {"e": DIR},
                   extract_errors=err("d\\.", "a directory stands in the way") +
                   err("e\\f/.", "a directory stands in the way") +
                   err("g\\h\\.", "a directory stands in the way"))),
        # Records pointing back at bytes an earlier file took: each would be
        # written whole, so a small archive could write far more than it
        # holds. Damage, named by the TOC offsets of the first two records
        # that share bytes; nothing is extracted.
        "records_sharing_bytes.dat": (sharing, damaged(
            "d\\\nd\\a.bin\nd\\b.bin\nd\\c.tex\n", "files at offsets 38 and 55 share bytes of the data region")),
    }


# Outputs longer than this are kept as a summary: line and byte counts, an
# FNV-1a hash and the last line.
KEEP_LIMIT = 4096


def fnv1a64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h = ((h ^ b) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def output_lines(key, text):
    data = text.encode("latin-1")
    if len(data) <= KEEP_LIMIT:
        return [b"%s %d\n" % (key, len(data)) + data + b"\n"]
    last = data[data.rstrip(b"\n").rfind(b"\n") + 1:]
    return [b"%s-summary %d %d %016x\n" % (key, data.count(b"\n"), len(data), fnv1a64(data)),
            b"%s-last %d\n" % (key, len(last)) + last + b"\n"]


def expectation(name, e):
    """The .expected file: "key value" lines; blocks of bytes follow a line
    that ends in their length, and a line break follows each block."""
    out = [b"# written by make_samples.py: what dattool does with " + name.encode() + b"\n",
           b"list-status %d\n" % e.list_status]
    out += output_lines(b"list", e.listing)
    out += output_lines(b"list-errors", e.list_errors)
    out.append(b"extract-status %d\n" % e.extract_status)
    out += output_lines(b"extract", e.extraction)
    out += output_lines(b"extract-errors", e.extract_errors)
    for path, content in sorted(e.tree.items()):
        if content == DIR:
            out.append(b"dir " + path.encode() + b"\n")
        else:
            out.append(b"file %d %s\n" % (len(content), path.encode()) + content + b"\n")
    return b"".join(out)


def main():
    sys.setrecursionlimit(20000)  # the deep sample nests 3000 levels
    for old in os.listdir(HERE):
        if old.endswith(".expected"):
            os.remove(os.path.join(HERE, old))
    made = samples()
    for name, (data, expect) in made.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
        if isinstance(expect, Expect):
            expect = {"linux": expect}
        stem = name[:-len(".dat")]
        texts = {p: expectation(name, e) for p, e in expect.items()}
        with open(os.path.join(HERE, stem + ".expected"), "wb") as f:
            f.write(texts["linux"])
        # A Windows build reads <stem>.windows.expected where it differs.
        if texts.get("windows", texts["linux"]) != texts["linux"]:
            with open(os.path.join(HERE, stem + ".windows.expected"), "wb") as f:
                f.write(texts["windows"])
    print("wrote", len(made), "archives and what dattool does with them")


if __name__ == "__main__":
    main()
