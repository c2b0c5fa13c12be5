"""The module dat against what dattool lists, extracts and creates.

Run by ctest with DAT_LIBRARY naming the build's libdat, DATTOOL its
dattool and PYTHONPATH holding python/; by hand the same way:

    DAT_LIBRARY=build/libdat.so.0 DATTOOL=build/dattool PYTHONPATH=python python3 -m pytest tests/python
"""
import io
import os
import random
import struct
import subprocess
from pathlib import Path

import pytest

import dat

DATA = Path(__file__).resolve().parents[1] / "data"
DATTOOL = os.environ.get("DATTOOL", "dattool")


def fnv1a64(data):
    h = 0xCBF29CE484222325
    for c in data:
        h = ((h ^ c) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def parse_expected(text):
    """What make_samples.py wrote beside a sample: "key value" lines, a
    block of bytes after each line that ends in its length."""
    want = {"tree": {}}
    at = 0
    while at < len(text):
        nl = text.index(b"\n", at)
        line = text[at:nl]
        at = nl + 1
        key, _, rest = line.partition(b" ")
        key = key.decode()
        if not key or key.startswith("#"):
            continue
        if key.endswith("-status"):
            want[key] = int(rest)
        elif key in ("list", "extract", "list-errors", "extract-errors") or key.endswith("-last"):
            n = int(rest)
            want[key] = text[at:at + n]
            at += n + 1
        elif key.endswith("-summary"):
            lines, size, h = rest.split()
            want[key] = (int(lines), int(size), int(h, 16))
        elif key == "dir":
            want["tree"][rest] = None
        elif key == "file":
            n, _, path = rest.partition(b" ")
            want["tree"][path] = text[at:at + int(n)]
            at += int(n) + 1
        else:
            raise ValueError(f"unknown line {line!r}")
    # Every directory a path passes through is there too.
    for path in list(want["tree"]):
        for at in range(len(path)):
            if path[at:at + 1] == b"/":
                want["tree"][path[:at]] = None
    return want


SAMPLES = sorted(p.stem for p in DATA.glob("*.dat"))


@pytest.mark.parametrize("stem", SAMPLES)
def test_sample_agrees_with_list_and_extract(stem):
    want = parse_expected((DATA / f"{stem}.expected").read_bytes())
    if want["list-status"] != 0:
        with pytest.raises(dat.Error) as failed:
            dat.open(DATA / f"{stem}.dat")
        said = want.get("list-errors", want.get("list-errors-last"))
        assert said.endswith(b": " + failed.value.why.encode() + b"\n")
        assert failed.value.path == DATA / f"{stem}.dat"
        return
    with dat.open(DATA / f"{stem}.dat") as archive:
        listed = "".join(name + "\n" for name in archive.names()).encode("utf-8", "surrogateescape")
        if "list" in want:
            assert listed == want["list"]
        else:
            lines, size, h = want["list-summary"]
            assert (listed.count(b"\n"), len(listed), fnv1a64(listed)) == (lines, size, h)
        # Every file "x" writes where it is listed holds what read gives.
        compared = 0
        for entry in archive.entries():
            at = entry.path.encode("utf-8", "surrogateescape").replace(b"\\", b"/")
            if entry.kind == dat.FILE and entry.refusal is None and not entry.replaced and at in want["tree"]:
                assert archive.read(entry) == want["tree"][at], entry.path
                assert archive.read(entry.path) == want["tree"][at], entry.path
                compared += 1
        if stem not in WRITTEN_ELSEWHERE:
            assert compared == sum(1 for v in want["tree"].values() if v is not None)


# Samples whose files "x" writes elsewhere than where they are listed.
WRITTEN_ELSEWHERE = {"absolute_names", "dot_dot", "drive_names", "empty_directory_name", "nested_leading_parts"}



def random_tree(root, seed):
    """Directories and files of random names and bytes below root: empty
    files, stored plain (.tex, .msh) and scrambled, names of any byte but
    the separators; returns each file's path below root and bytes."""
    rng = random.Random(seed)
    files = {}
    dirs = [b""]
    for n in range(rng.randint(20, 60)):
        parent = rng.choice(dirs)
        stem = bytes(rng.choice(b"abcxyz019 -_\xe9\xff") for _ in range(rng.randint(1, 12))) + b"%d" % n
        if rng.random() < 0.25:
            path = parent + stem + b"/"
            os.makedirs(os.path.join(root, path))
            dirs.append(path)
        else:
            path = parent + stem + rng.choice([b"", b".bin", b".tex", b".msh", b".TEX", b".MSH", b".txt"])
            data = rng.randbytes(rng.choice([0, 1, rng.randint(2, 5000), rng.randint(60000, 300000)]))
            with open(os.path.join(root, path), "wb") as f:
                f.write(data)
            files[path] = data
    return files


@pytest.mark.parametrize("seed", range(6))
def test_archive_made_by_c_reads_back(tmp_path, seed):
    tree = tmp_path / "tree"
    tree.mkdir()
    files = random_tree(os.fsencode(tree), seed)
    subprocess.run([DATTOOL, "c", "made.dat", "tree"], cwd=tmp_path, check=True, capture_output=True)
    with dat.open(tmp_path / "made.dat") as archive:
        read = {}
        for entry in archive.entries():
            raw = entry.path.encode("utf-8", "surrogateescape")
            assert raw.startswith(b"tree\\") and entry.refusal is None
            if entry.kind == dat.FILE:
                read[raw[len(b"tree\\"):].replace(b"\\", b"/")] = archive.read(entry.path)
        assert read == files



@pytest.fixture(scope="module")
def noise_archive(tmp_path_factory):
    """An archive made by c of one scrambled and one plain file of noise."""
    work = tmp_path_factory.mktemp("noise")
    (work / "d").mkdir()
    rng = random.Random(7)
    data = {name: rng.randbytes(300007) for name in ("n.bin", "n.tex")}
    for name, bytes_ in data.items():
        (work / "d" / name).write_bytes(bytes_)
    subprocess.run([DATTOOL, "c", "n.dat", "d"], cwd=work, check=True, capture_output=True)
    return work / "n.dat", data


# Each row: steps on a file object, run on a member and on io.BytesIO of the
# same bytes; every step's result and the position after it must agree.
SEEK_AND_READ = {
    "whole": [("read",)],
    "in pieces": [("read", 1), ("read", 4095), ("read", 100000), ("read", 1 << 20), ("read", 5)],
    "from the end": [("seek", -5, io.SEEK_END), ("read",)],
    "at the end": [("seek", 0, io.SEEK_END), ("read", 10), ("read",)],
    "past the end": [("seek", 400000), ("read", 10), ("seek", -3, io.SEEK_CUR), ("read", 10)],
    "back and forth": [("seek", 123457), ("read", 9), ("seek", -9, io.SEEK_CUR), ("read", 18),
                       ("seek", 7), ("read", 2)],
    "readinto": [("seek", 299990), ("readinto", 64), ("readinto", 64), ("readinto", 0)],
    "readinto a view": [("seek", 1000), ("readinto_view", 4096)],
    "buffered": [("buffered", 100, 70000, 5000)],
    "negative seek": [("seek", -1)],
    "unknown whence": [("seek", 0, 7)],
}


def step(f, name, *args):
    """One step of a SEEK_AND_READ row on f; returns what it gave."""
    try:
        if name == "readinto":
            b = bytearray(args[0])
            return f.readinto(b), bytes(b)
        if name == "readinto_view":
            b = bytearray(args[0] + 16)
            return f.readinto(memoryview(b)[8:-8]), bytes(b)
        if name == "buffered":
            r = io.BufferedReader(f, buffer_size=args[2])
            r.seek(args[0])
            got = r.read(args[1]), r.tell()
            r.detach()
            return got
        return getattr(f, name)(*args)
    except (ValueError, OSError) as e:
        return type(e).__name__


@pytest.mark.parametrize("member", ["d/n.bin", "d\\n.tex"])
@pytest.mark.parametrize("row", SEEK_AND_READ)
def test_open_seeks_and_reads_as_bytesio(noise_archive, row, member):
    path, data = noise_archive
    with dat.open(path) as archive:
        f = archive.open(member)
        want = io.BytesIO(data[member[2:]])
        assert f.readable() and f.seekable() and not f.writable()
        for s in SEEK_AND_READ[row]:
            assert step(f, *s) == step(want, *s), s
            assert f.tell() == want.tell(), s


# Each row: archive (a sample's stem, or a path below the test's folder),
# the member to read or None, the exception's class and its text.
FAILURES = [
    ("wrong_magic", None, dat.NotADatFile, "Not a DAT file"),
    ("cut_short", None, dat.DamagedArchive, "Damaged archive: record at offset 58 runs past the end of the TOC at 71"),
    ("huge_child_count", None, dat.DamagedArchive, None),
    ("/missing.dat", None, dat.NotFound, "No such file or directory"),
    ("/", None, dat.Error, "not a regular file"),
    ("worked_example", "data/none.txt", dat.NotFound, "not in the archive"),
    ("worked_example", "data\\a.txt\\", dat.NotFound, "not in the archive"),
    ("worked_example", "data/", dat.Error, "is a directory"),
    ("worked_example", "data/a.txt\0.bin", dat.NotFound, "not in the archive"),
    ("file_past_data_region", "d/bad.txt", dat.DamagedArchive, "its bytes lie outside the archive"),
]


@pytest.mark.parametrize("how", ["read", "open"])
@pytest.mark.parametrize("stem,member,error,why", FAILURES)
def test_failures_raise_by_kind_with_the_text(tmp_path, stem, member, error, why, how):
    path = tmp_path / stem[1:] if stem.startswith("/") else DATA / f"{stem}.dat"
    with pytest.raises(dat.Error) as failed:
        with dat.open(path) as archive:
            f = getattr(archive, how)(member)
            if how == "open":
                f.read()
    assert type(failed.value) is error
    assert failed.value.why == why or why is None and failed.value.why.startswith("Damaged archive: ")
    assert str(failed.value) == f"{member if member is not None else path}: {failed.value.why}"


# The archives an update refuses as it opens, beside those no open takes:
# each row a name below the test's folder, its bytes, the exception and its
# text.
UPDATE_REFUSED = [
    ("order.dat", "d/b d/a", dat.Error, "a is out of order"),
    ("twice.dat", "d/a d/a", dat.Error, "a is stored twice"),
    ("missing.dat", None, dat.NotFound, "No such file or directory"),
] + [(f"{stem}.dat", stem, error, why) for stem, member, error, why in FAILURES
   if member is None and not stem.startswith("/")]


def archive_of(paths):
    """A DAT archive of one directory d and the files named, each one byte,
    in the order given, written as the format lays it out."""
    names = [p.split("/")[1].encode() for p in paths.split()]
    key = lambda p: (0x3D + 0xA7 * p) % 256
    records = struct.pack("<BHIIIB", 1, 0, 0, len(names), 256, 0)
    records += struct.pack("<BH", 1, 1) + b"d" + struct.pack("<IIIB", 0, len(names), len(names) * 256, 0)
    for i, name in enumerate(names):
        records += struct.pack("<BH", 0, len(name)) + name + struct.pack("<IIB", i, 1, 1)
    plain = b"tolva" + records + b"x" * len(names)
    return bytes(b ^ key(p) for p, b in enumerate(plain))


@pytest.mark.parametrize("name,content,error,why", UPDATE_REFUSED)
def test_update_refuses_what_u_refuses_leaving_it(tmp_path, name, content, error, why):
    path = tmp_path / name
    if content is not None:
        path.write_bytes(archive_of(content) if " " in content else (DATA / f"{content}.dat").read_bytes())
    before = path.read_bytes() if content is not None else None
    if " " in (content or ""):
        run = subprocess.run([DATTOOL, "d", name, "d/a"], cwd=tmp_path, capture_output=True, text=True)
        assert run.returncode == 255 and f": {why}" in run.stdout
    with pytest.raises(dat.Error) as failed:
        dat.update(path)
    assert type(failed.value) is error
    assert failed.value.why == why or why is None and failed.value.why.startswith("Damaged archive: ")
    assert (path.read_bytes() if content is not None else None) == before
    assert sorted(os.listdir(tmp_path)) == ([name] if content is not None else [])


def test_archive_path_with_a_zero_byte_is_refused_as_open_refuses_it():
    for path in (f"{DATA}/worked_example.dat\0.x", os.fsencode(DATA / "worked_example.dat") + b"\0.x"):
        with pytest.raises(ValueError):
            dat.open(path)


def test_help_documents_every_public_name():
    undocumented = []
    for name in dat.__all__:
        thing = getattr(dat, name)
        if not isinstance(thing, str) and not (thing.__doc__ or "").strip():
            undocumented.append(name)
        if isinstance(thing, type):
            for attr, member in vars(thing).items():
                if callable(member) and not attr.startswith("_") and not (member.__doc__ or "").strip():
                    undocumented.append(f"{name}.{attr}")
    assert undocumented == []



# Each row: what is closed, then what is done and must raise ValueError.
AFTER_CLOSING = [
    ("archive", "archive.read", lambda archive, member: archive.read("data/a.txt")),
    ("archive", "archive.open", lambda archive, member: archive.open("data/a.txt")),
    ("archive", "archive.names", lambda archive, member: archive.names()),
    ("archive", "member.read", lambda archive, member: member.read()),
    ("archive", "member.readinto", lambda archive, member: member.readinto(bytearray(2))),
    ("member", "member.read", lambda archive, member: member.read()),
    ("member", "member.seek", lambda archive, member: member.seek(1)),
]


@pytest.mark.parametrize("closed,done,action", AFTER_CLOSING, ids=[f"{c}-{d}" for c, d, _ in AFTER_CLOSING])
def test_nothing_is_read_once_closed(closed, done, action):
    archive = dat.open(DATA / "worked_example.dat")
    member = archive.open("data/m.msh")
    (archive if closed == "archive" else member).close()
    with pytest.raises(ValueError):
        action(archive, member)
    archive.close()


@pytest.mark.parametrize("how", ["read", "open"])
def test_an_entry_of_another_archive_is_not_found(how):
    with dat.open(DATA / "worked_example.dat") as one, dat.open(DATA / "file_past_data_region.dat") as other:
        for entry in one.entries()[1:] + [one.entries()[1]._replace(index=99)]:
            with pytest.raises(dat.NotFound):
                getattr(other, how)(entry)
        # Another archive's entry may differ in its size alone.
        with pytest.raises(dat.NotFound):
            getattr(one, how)(one.entries()[1]._replace(size=one.entries()[1].size + 1))


# Each row: how a member of an archive cut short after it was opened is
# read: the cut takes the end of d/n.tex and of d/n.bin before it.
def seek_and_read(member, to):
    member.seek(to)
    return member.read()


READ_WHEN_CUT = {
    "read": lambda archive: archive.read("d/n.bin"),
    "open and read": lambda archive: archive.open("d/n.tex").read(),
    "open, seek and read": lambda archive: seek_and_read(archive.open("d/n.bin"), 250000),
    "buffered": lambda archive: io.BufferedReader(archive.open("d/n.tex")).read(),
}


@pytest.mark.parametrize("row", READ_WHEN_CUT)
def test_an_archive_cut_after_opening_is_never_read_short(tmp_path, noise_archive, row):
    path = tmp_path / "cut.dat"
    path.write_bytes(noise_archive[0].read_bytes())
    with dat.open(path) as archive:
        assert [e.path for e in archive.entries()] == ["d\\", "d\\n.bin", "d\\n.tex"]
        os.truncate(path, path.stat().st_size - 400000)
        with pytest.raises(dat.DamagedArchive):
            READ_WHEN_CUT[row](archive)


def change_tree(tree, files, seed):
    """Rewrites one file of the tree with another length, adds one and
    picks a directory or file to remove; returns the paths changed below
    the tree's parent and the member removed."""
    rng = random.Random(seed)
    changed = rng.choice(sorted(files))
    (tree / os.fsdecode(changed)).write_bytes(rng.randbytes(rng.randint(0, 700)))
    (tree / "added.txt").write_bytes(b"added")
    gone = rng.choice(sorted(files) + [p for p in sorted(files) if b"/" in p])
    gone = gone if rng.random() < 0.5 or b"/" not in gone else gone[:gone.rindex(b"/")]
    return ["tree/" + os.fsdecode(changed), "tree/added.txt"], "tree/" + os.fsdecode(gone)


# Each row: the members given to extractall, and what it writes.
EXTRACT_MEMBERS = [
    ("data/a.txt", {b"data": None, b"data/a.txt": b"abc"}),
    (b"data\\m.msh", {b"data": None, b"data/m.msh": b"0123456789"}),
    (["data/*.txt", b"data/m.msh"], {b"data": None, b"data/a.txt": b"abc", b"data/m.msh": b"0123456789"}),
]


@pytest.mark.parametrize("members,tree", EXTRACT_MEMBERS, ids=[repr(m) for m, _ in EXTRACT_MEMBERS])
def test_extractall_writes_the_members_given(tmp_path, members, tree):
    with dat.open(DATA / "worked_example.dat") as archive:
        archive.extractall(tmp_path / "out", members)
    assert tree_of(tmp_path / "out") == tree


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("how", ["as given", "arcname", "arcname below the top", "update", "remove"])
def test_create_writes_what_c_writes_byte_for_byte(tmp_path, monkeypatch, seed, how):
    tree = tmp_path / "tree"
    tree.mkdir()
    files = random_tree(os.fsencode(tree), seed)
    subprocess.run([DATTOOL, "c", "by_c.dat", "tree"], cwd=tmp_path, check=True, capture_output=True)
    monkeypatch.chdir(tmp_path)
    if how == "as given":
        with dat.create(tmp_path / "by_module.dat") as w:
            w.add("tree")
    elif how == "arcname":
        with dat.create(tmp_path / "by_module.dat") as w:
            w.add(tree, "tree")
    elif how == "arcname below the top":
        with dat.create(tmp_path / "by_module.dat") as w:
            # Each name below the top its own: the same archive.
            for child in os.listdir(tree):
                w.add(tree / child, "tree/" + child)
    else:
        # The module's update and remove write what u and d write.
        (tmp_path / "by_module.dat").write_bytes((tmp_path / "by_c.dat").read_bytes())
        paths, member = change_tree(tree, files, seed)
        args = ["u", "by_c.dat", *paths] if how == "update" else ["d", "by_c.dat", member]
        subprocess.run([DATTOOL, *args], cwd=tmp_path, check=True, capture_output=True)
        with dat.update(tmp_path / "by_module.dat") as w:
            for path in paths if how == "update" else []:
                w.add(tmp_path / path, path)
            if how == "remove":
                w.remove(member)
    assert (tmp_path / "by_module.dat").read_bytes() == (tmp_path / "by_c.dat").read_bytes()


def test_create_abandons_the_archive_on_an_exception(tmp_path):
    path = tmp_path / "a.dat"
    path.write_bytes(b"old")
    with pytest.raises(KeyError):
        with dat.create(path) as w:
            w.write_bytes("d/x.bin", b"new")
            raise KeyError("stop")
    assert path.read_bytes() == b"old"
    with dat.create(path) as w:
        w.write_bytes("d/x.bin", bytearray(b"new"))
    with dat.open(path) as archive:
        assert (archive.names(), archive.read("d/x.bin")) == (["d\\", "d\\x.bin"], b"new")


def tree_of(root):
    """Every directory (None) and file (its bytes) below root, by path with
    "/"; walked by directory handles, as paths may be too long to open."""
    tree = {}
    stack = [(os.open(root, os.O_RDONLY | os.O_DIRECTORY), b"")]
    while stack:
        fd, rel = stack.pop()
        for entry in os.scandir(fd):
            name = os.fsencode(entry.name)
            path = rel + b"/" + name if rel else name
            if entry.is_dir(follow_symlinks=False):
                tree[path] = None
                stack.append((os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd), path))
            else:
                file = os.open(name, os.O_RDONLY, dir_fd=fd)
                with os.fdopen(file, "rb") as f:
                    tree[path] = f.read()
        os.close(fd)
    return tree


def remove_tree(root):
    """Removes root and all below it by directory handles, as paths may be
    too long to name and trees too deep for a recursive removal."""
    top = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    stack = [(None, None, top, list(os.scandir(top)))]
    while stack:
        parent, name, fd, entries = stack[-1]
        if entries:
            entry = entries.pop()
            child = os.fsencode(entry.name)
            if entry.is_dir(follow_symlinks=False):
                inner = os.open(child, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
                stack.append((fd, child, inner, list(os.scandir(inner))))
            else:
                os.unlink(child, dir_fd=fd)
        else:
            stack.pop()
            os.close(fd)
            if parent is not None:
                os.rmdir(name, dir_fd=parent)
    os.rmdir(root)


@pytest.mark.parametrize("stem", SAMPLES)
def test_extractall_leaves_what_x_leaves_and_nothing_outside(tmp_path, stem):
    want = parse_expected((DATA / f"{stem}.expected").read_bytes())
    out = tmp_path / "out"
    try:
        with dat.open(DATA / f"{stem}.dat") as archive:
            archive.extractall(out)
        failed = None
    except dat.Error as e:
        failed = e
    assert (failed is None) == (want["extract-status"] == 0), failed
    assert tree_of(out) == want["tree"] if out.exists() else want["tree"] == {}
    assert sorted(p.name for p in tmp_path.iterdir()) in (["out"], [])
    if out.exists():
        remove_tree(out)
