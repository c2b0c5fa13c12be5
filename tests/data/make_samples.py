#!/usr/bin/env python3
"""Writes the sample archives of this directory, each named for what it holds.

Run by hand from anywhere (python3 tests/data/make_samples.py); the .dat files
are committed, so the tests never need Python.
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

    def __init__(self, name, data=b"", offset=None, size=None):
        self.name = name.encode() if isinstance(name, str) else name
        self.data = data
        self.forced_offset = offset
        self.forced_size = size
        self.scrambled = 0 if self.name.endswith(PLAIN_ENDINGS) else 1


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
    tree = inner
    for _ in range(levels):
        tree = [D("d", tree)]
    return tree


def samples():
    worked = archive([D("data", [F("a.txt", b"abc"), F("m.msh", b"0123456789")])])
    return {
        # The layout example: one directory, a scrambled and a plain file.
        "worked_example.dat": worked,
        # A file and a subdirectory with a file of its own.
        "edge_case.dat": archive([D("data", [F("a.txt", b"alpha\n"), D("sub", [F("b.txt", b"beta\n")])])]),
        "empty.dat": archive([]),
        "cut_short.dat": worked[:-4],
        "bytes_appended.dat": worked + b"JUNK!!!",
        "header_cut_short.dat": worked[:15],
        "wrong_magic.dat": archive([D("data")], magic=b"tolvb"),
        "root_not_directory.dat": archive([D("data")], root_type=0),
        "root_size_too_large.dat": archive([D("data", [F("a.txt", b"abc")])], root_size=1000),
        "huge_child_count.dat": archive([D("big", [F("only.txt", b"x")], count=0xFFFFFF)]),
        "name_300_bytes.dat": archive([D("d", [F("ok.txt", b"1"), F("n" * 300, b"2")])]),
        "zero_byte_in_name.dat": archive([D("d", [F(b"ab\0cd.txt", b"hi"), F("e.txt", b"yo")])]),
        # 3000 levels of "d\\": the path outgrows the platform's limit.
        "deep_nesting.dat": archive(nested(3000, [F("f.txt", b"deep")])),
        "nested_200_levels.dat": archive(nested(200, [F("f.txt", b"deep")])),
        "dot_dot.dat": archive([
            D("..", [F("up.txt", b"up")]),
            D("a", [D("..", [F("x.txt", b"x")])]),
            F("../../slash.txt", b"slash"),
            F("b/../../c.txt", b"c"),
            F("..\\escaped.txt", b"esc"),
        ]),
        "absolute_names.dat": archive([
            D("/tmp", [D("dattool-escape", [F("x.txt", b"abs")])]),
            D("\\abs", [F("y.txt", b"back")]),
        ]),
        "drive_names.dat": archive([
            D("C:\\games", [F("save.txt", b"1")]),
            F("D:notes.txt", b"2"),
        ]),
        "unknown_record_type.dat": archive([
            D("d", [F("a.txt", b"A"), X(7, "odd"), F("b.txt", b"B")]),
            X(200, "top"),
        ]),
        "file_past_data_region.dat": archive([
            D("d", [F("good.txt", b"good"), F("bad.txt", b"", offset=4, size=100), F("after.txt", b"after")]),
        ]),
        "zero_size_file.dat": archive([F("empty.txt"), D("d", [F("none.msh"), F("after.txt", b"x")])]),
    }


def main():
    sys.setrecursionlimit(20000)  # the deep sample nests 3000 levels
    for name, data in samples().items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(data)
    print("wrote", len(samples()), "archives")


if __name__ == "__main__":
    main()
