"""Read, write and extract DAT archives, in the manner of zipfile and tarfile.

A DAT archive is one file holding whole directory trees. This module works
through the installed library libdat (libdat.so.0); nothing is
compiled. Set DAT_LIBRARY to the path of another copy of the library (a
build tree's, say) to use that one instead.

Reading::

    import dat
    with dat.open("textures.dat") as archive:
        for entry in archive.entries():
            print(entry.path, entry.size)
        data = archive.read("textures/wall.tex")

Writing, and extracting as dattool x does::

    with dat.create("textures.dat") as writer:
        writer.add("textures")
        writer.write_bytes("notes/readme.txt", b"hello")
    with dat.open("textures.dat") as archive:
        archive.extractall("out")

Updating, as dattool u and d do: the entries kept are copied from the old
archive, and the result is what dattool c writes of the changed tree::

    with dat.update("textures.dat") as writer:
        writer.add("textures/wall.tex", "textures/wall.tex")
        writer.remove("textures/old")

Paths inside an archive are listed as dattool lists them: names joined by
"\\", a directory's path ending in "\\". Wherever a path is looked up, "/"
and "\\" are alike and a directory's trailing separator is optional.
Names are bytes in the archive; they come out as str decoded as UTF-8, any
other byte kept as a lone surrogate (as os.fsdecode keeps it), so that
every name goes back to the library unchanged.

Failures raise dat.Error, or one of its subclasses NotADatFile,
DamagedArchive and NotFound; str() of the exception is the library's text.
"""

import collections
import ctypes
import io
import os

__all__ = [
    "Archive", "DIRECTORY", "DamagedArchive", "Entry", "Error", "FILE", "Member",
    "NotADatFile", "NotFound", "Writer", "create", "open", "update",
]

FILE = "file"
DIRECTORY = "directory"

_NONE = ctypes.c_size_t(-1).value  # the library's "no entry"


class Error(Exception):
    """Something could not be done with an archive.

    why is the library's text ("Not a DAT file", "Damaged archive: ...",
    the system's reason); path the archive or entry it is about, or None.
    str() gives both, as dattool says them: "path: why".
    """

    def __init__(self, why, path=None):
        super().__init__(why, path)
        self.why = why
        self.path = path

    def __str__(self):
        return self.why if self.path is None else f"{os.fsdecode(self.path)}: {self.why}"


class NotADatFile(Error):
    """The file is no DAT archive."""


class DamagedArchive(Error):
    """The archive's table of contents is damaged."""


class NotFound(Error):
    """No entry of the archive has the path asked for."""


class _EntryFields(ctypes.Structure):
    _fields_ = [
        ("name", ctypes.c_char_p),
        ("kind", ctypes.c_int),
        ("size", ctypes.c_uint32),
        ("offset", ctypes.c_uint64),
        ("parent", ctypes.c_size_t),
        ("refusal", ctypes.c_char_p),
        ("replaced", ctypes.c_int),
    ]


# What became of one entry extracted: context, entry, status, path, why.
_OUTCOME = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p)

_lib = None


def _library():
    """libdat, loaded on first use: DAT_LIBRARY's path or the installed one."""
    global _lib
    if _lib is None:
        lib = ctypes.CDLL(os.environ.get("DAT_LIBRARY") or "libdat.so.0")
        handle = ctypes.c_void_p
        for name, result, args in (
            ("dat_open", handle, [ctypes.c_char_p]),
            ("dat_error", ctypes.c_char_p, [handle]),
            ("dat_count", ctypes.c_size_t, [handle]),
            ("dat_entry_at", ctypes.c_int, [handle, ctypes.c_size_t, ctypes.POINTER(_EntryFields)]),
            ("dat_find", ctypes.c_size_t, [handle, ctypes.c_char_p]),
            ("dat_read", ctypes.c_int64, [handle, ctypes.c_size_t, ctypes.c_uint64, ctypes.c_void_p,
                                          ctypes.c_size_t]),
            ("dat_close", None, [handle]),
            ("dat_status", ctypes.c_int, [handle]),
            ("dat_last_status", ctypes.c_int, []),
            ("dat_last_error", ctypes.c_char_p, []),
            ("dat_create", handle, [ctypes.c_char_p]),
            ("dat_add_file", ctypes.c_int, [handle, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]),
            ("dat_add_bytes", ctypes.c_int, [handle, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t,
                                             ctypes.c_int]),
            ("dat_add_tree", ctypes.c_int, [handle, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]),
            ("dat_finish", ctypes.c_int, [handle]),
            ("dat_abort", None, [handle]),
            ("dat_writer_status", ctypes.c_int, [handle]),
            ("dat_writer_error", ctypes.c_char_p, [handle]),
            ("dat_writer_free", None, [handle]),
            ("dat_update", handle, [ctypes.c_char_p]),
            ("dat_remove", ctypes.c_int, [handle, ctypes.c_char_p]),
            ("dat_extract", ctypes.c_int, [handle, ctypes.c_char_p, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t,
                                           _OUTCOME, ctypes.c_void_p]),
        ):
            call = getattr(lib, name)
            call.restype = result
            call.argtypes = args
        _lib = lib
    return _lib


def _new_bytes(size):
    """A new bytes object of size bytes, for the library to fill before
    anyone else sees it: the read goes straight into the object returned,
    never through a zeroed buffer and a copy, which would cost more than
    the read itself."""
    return _bytes_of_size(None, size)


_bytes_of_size = ctypes.pythonapi.PyBytes_FromStringAndSize
_bytes_of_size.restype = ctypes.py_object
_bytes_of_size.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t]


def _text(raw):
    return raw.decode("utf-8", "surrogateescape")


def _raw(text):
    return text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)


# The library's status codes that have an exception of their own.
_NOT_FOUND, _NOT_A_DAT, _DAMAGED = 1, 2, 3


def _error(status, why, path=None):
    """The exception for a status code of the library, with its text."""
    kind = {_NOT_FOUND: NotFound, _NOT_A_DAT: NotADatFile, _DAMAGED: DamagedArchive}.get(status, Error)
    return kind(why, path)


def _checked_handle(make, path, status_of, error_of, free):
    """The library's handle that make gives for path, checked: an
    exception for its status, the handle freed, when it did not open."""
    raw = os.fsencode(path)
    # The library takes C strings: a zero byte would cut the path short
    # and open another file.
    if b"\0" in raw:
        raise ValueError("embedded null byte")
    handle = make(raw)
    if not handle:
        raise MemoryError("no memory for " + os.fsdecode(raw))
    status = status_of(handle)
    if status:
        why = _text(error_of(handle) or b"")
        free(handle)
        raise _error(status, why, path)
    return handle


class Entry(collections.namedtuple("Entry", "name path kind size offset refusal replaced index")):
    """One entry of an archive, in stored order.

    name      as stored, without the names of the directories above it
    path      as dattool lists it: names joined by "\\", a directory's ending in "\\"
    kind      dat.FILE or dat.DIRECTORY
    size      a file's bytes; for a directory, the bytes of all files below it
    offset    a file's first byte in the archive (0 for a directory)
    refusal   why "dattool x" would not write the entry, or None when it does
    replaced  True when a later file of the same path is written over it
    index     its number in stored order
    """

    __slots__ = ()

    def is_dir(self):
        """True for a directory."""
        return self.kind == DIRECTORY


class Archive:
    """An open DAT archive; see dat.open. Use it in a with block, or close()."""

    _handle = None

    def __init__(self, path):
        lib = _library()
        self._handle = _checked_handle(lib.dat_open, path, lib.dat_status, lib.dat_error, lib.dat_close)
        self._lib = lib
        self._entries = None
        self.path = path

    def close(self):
        """Closes the archive; members opened from it stop reading."""
        if self._handle:
            self._lib.dat_close(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        self.close()

    def _open_handle(self):
        if not self._handle:
            raise ValueError("the archive is closed")
        return self._handle

    def entries(self):
        """Every entry, in stored order, as a list of Entry."""
        if self._entries is None:
            handle = self._open_handle()
            count = self._lib.dat_count(handle)
            fields = _EntryFields()
            at = self._lib.dat_entry_at
            make = Entry._make
            entries = []
            paths = []
            add_entry = entries.append
            add_path = paths.append
            # Field by field from one record, the common cases first: this
            # loop is the whole cost of listing a large archive.
            for i in range(count):
                at(handle, i, fields)
                name = fields.name.decode("utf-8", "surrogateescape")
                parent = fields.parent
                # A path is its directory's and its own name, as listed.
                if fields.kind:
                    path = name + "\\" if parent == _NONE else paths[parent] + name + "\\"
                    kind, offset = DIRECTORY, 0
                else:
                    path = name if parent == _NONE else paths[parent] + name
                    kind, offset = FILE, fields.offset
                add_path(path)
                refusal = fields.refusal
                add_entry(make((name, path, kind, fields.size, offset,
                                refusal.decode("utf-8", "surrogateescape") if refusal else None,
                                fields.replaced != 0, i)))
            self._entries = entries
        return list(self._entries)

    def names(self):
        """The path of every entry, in stored order, as dattool lists them."""
        return [e.path for e in self.entries()]

    def _find(self, member):
        """The index of member: an Entry of this archive or a path."""
        handle = self._open_handle()
        if isinstance(member, Entry):
            # By its index, which names the entry itself where paths repeat;
            # an entry of another archive is not taken for this one's.
            fields = _EntryFields()
            if (self._lib.dat_entry_at(handle, member.index, fields) != 0
                    or _text(fields.name) != member.name or fields.size != member.size
                    or (0 if fields.kind else fields.offset) != member.offset):
                raise NotFound("not in the archive", member.path)
            return member.index
        raw = _raw(member)
        # No stored name holds a zero byte; cut there, the path would find another entry.
        i = _NONE if b"\0" in raw else self._lib.dat_find(handle, raw)
        if i == _NONE:
            raise NotFound("not in the archive", member)
        return i

    def _file(self, member):
        """The index, size and path of the file member."""
        i = self._find(member)
        fields = _EntryFields()
        self._lib.dat_entry_at(self._handle, i, fields)
        if isinstance(member, Entry):
            member = member.path
        if fields.kind:
            raise Error("is a directory", member)
        return i, fields.size, member

    def _read_into(self, i, offset, buffer, n, member):
        got = self._lib.dat_read(self._open_handle(), i, offset, buffer, n)
        if got < 0:
            raise self._read_error(i, member)
        return got

    def _read_error(self, i, member):
        """The exception for the read of entry i that just failed on this thread."""
        return _error(self._lib.dat_last_status(), _text(self._lib.dat_last_error()), member)

    def read(self, member):
        """The bytes of the file member (a path or an Entry)."""
        i, size, member = self._file(member)
        data = _new_bytes(size)
        got = self._read_into(i, 0, data, size, member) if size else 0
        if got != size:
            raise self._read_error(i, member)
        return data

    def extractall(self, to, members=None):
        """Extracts the archive, or the members given (stored paths, "/" or
        "\\", or patterns "*", "?", "[...]", as dattool x takes them; a
        directory with all below it), below the directory to, made when
        missing, as dattool x does: nothing outside it, no link followed.
        Returns the paths written. When an entry is refused or fails, or a
        member selects nothing, raises the worst as Error (NotFound for a
        member) after all else is written; its outcomes lists (path, why)
        of everything not written."""
        handle = self._open_handle()
        written, missed = [], []

        def outcome(ctx, entry, status, path, why):
            if status == 0:
                written.append(_text(path))
            else:
                missed.append((status, _text(path), _text(why)))

        callback = _OUTCOME(outcome)
        raw = None if members is None else [_raw(m) for m in ([members] if isinstance(members, (str, bytes)) else members)]
        array = None if raw is None else (ctypes.c_char_p * len(raw))(*raw)
        worst = self._lib.dat_extract(handle, os.fsencode(to), array, 0 if raw is None else len(raw), callback, None)
        if worst:
            status, path, why = next((m for m in missed if m[0] == worst), (worst, os.fsdecode(to), ""))
            error = _error(status, why or _text(self._lib.dat_last_error()), path)
            error.outcomes = [(p, w) for _, p, w in missed]
            raise error
        return written

    def extract(self, member, to):
        """Extracts one member (with all below it, for a directory) below the directory to; see extractall."""
        return self.extractall(to, [member.path if isinstance(member, Entry) else member])

    def open(self, member):
        """The file member (a path or an Entry) as a seekable binary file object."""
        i, size, member = self._file(member)
        return Member(self, i, size, member)


class Member(io.RawIOBase):
    """A file of an open archive, read in place: seekable, read-only.

    name is the path it was opened by, size its length in bytes.
    """

    def __init__(self, archive, index, size, name):
        super().__init__()
        self._archive = archive
        self._index = index
        self.name = name
        self._position = 0
        self.size = size

    def readable(self):
        """True: a member is read."""
        return True

    def seekable(self):
        """True: a member seeks anywhere, past its end too."""
        return True

    def seek(self, offset, whence=io.SEEK_SET):
        """Moves to offset from the start, the position (SEEK_CUR) or the end
        (SEEK_END); returns the new position."""
        self._checkClosed()
        base = {io.SEEK_SET: 0, io.SEEK_CUR: self._position, io.SEEK_END: self.size}.get(whence)
        if base is None:
            raise ValueError(f"invalid whence ({whence})")
        if base + offset < 0:
            raise ValueError(f"negative seek position {base + offset}")
        self._position = base + offset
        return self._position

    def tell(self):
        """The position, in bytes from the start."""
        self._checkClosed()
        return self._position

    def readinto(self, buffer):
        """Reads up to len(buffer) bytes at the position into buffer, with one
        read of the archive; returns how many, 0 at or past the end."""
        self._checkClosed()
        view = memoryview(buffer).cast("B")
        n = len(view)
        if n == 0 or self._position >= self.size:
            return 0
        target = (ctypes.c_char * n).from_buffer(view)
        got = self._archive._read_into(self._index, self._position, target, n, self.name)
        self._position += got
        return got

    def readall(self):
        """The rest of the member, in one read."""
        rest = bytearray(max(self.size - self.tell(), 0))
        got = self.readinto(rest)
        del rest[got:]
        return bytes(rest)


_VERBATIM = 1  # the library's flag: one top-level name, kept as it stands


class Writer:
    """An archive being written; see dat.create and dat.update.

    Nothing is written where the archive goes until finish(): leaving the
    with block finishes it, an exception in the block abandons it, and an
    archive already there stays as it was.
    """

    _handle = None

    def __init__(self, path, _update=False):
        lib = _library()
        # A writer whose archive cannot be made, or whose old archive an
        # update refuses, says so at once.
        make = lib.dat_update if _update else lib.dat_create
        self._handle = _checked_handle(make, path, lib.dat_writer_status, lib.dat_writer_error, lib.dat_writer_free)
        self._lib = lib
        self.path = path

    def _writing(self):
        if not self._handle:
            raise ValueError("the archive is finished or abandoned")
        return self._handle

    def _check(self, status, about):
        if status:
            raise _error(status, _text(self._lib.dat_writer_error(self._handle) or b""), about)

    def add(self, path_on_disk, arcname=None):
        """Adds the file or directory at path_on_disk, a directory with all it
        holds, as dattool c stores it: under arcname when given ("/" or "\\"
        between names), else under path_on_disk exactly as given, which is
        then one name at the top of the archive."""
        handle = self._writing()
        given = os.fsencode(path_on_disk)
        name, flags = (given, _VERBATIM) if arcname is None else (_raw(arcname), 0)
        if b"\0" in given or b"\0" in name:
            raise ValueError("embedded null byte")
        # The library reads files at finish(), from the directory current
        # then: the path is made absolute now, without resolving ".." or links.
        disk = os.path.join(os.getcwdb(), given)
        add = self._lib.dat_add_tree if os.path.isdir(disk) else self._lib.dat_add_file
        self._check(add(handle, name, disk, flags), path_on_disk)

    def write_bytes(self, arcname, data):
        """Adds a file of the bytes data (any bytes-like object) as arcname."""
        handle = self._writing()
        name = _raw(arcname)
        if b"\0" in name:
            raise ValueError("embedded null byte")
        view = memoryview(data).cast("B")
        buffer = bytes(view) if view.readonly else (ctypes.c_char * len(view)).from_buffer(view)
        self._check(self._lib.dat_add_bytes(handle, name, buffer, len(view), 0), arcname)

    def remove(self, member):
        """Removes the entries member selects, as dattool x takes members:
        a path in the archive ("/" or "\\" between names) or a pattern
        ("*", "?", "[...]"), a directory with all below it. Raises NotFound
        when it selects nothing."""
        handle = self._writing()
        name = _raw(member)
        if b"\0" in name:
            raise ValueError("embedded null byte")
        self._check(self._lib.dat_remove(handle, name), member)

    def finish(self):
        """Writes the archive and moves it into place."""
        handle = self._writing()
        status = self._lib.dat_finish(handle)
        try:
            self._check(status, self.path)
        finally:
            self._lib.dat_writer_free(handle)
            self._handle = None

    def abort(self):
        """Abandons the archive: nothing is written, an old one stays."""
        if self._handle:
            self._lib.dat_abort(self._handle)
            self._lib.dat_writer_free(self._handle)
            self._handle = None

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        if kind is None:
            self.finish()
        else:
            self.abort()

    def __del__(self):
        self.abort()


def create(path):
    """Starts a new archive at path; returns a Writer for a with block."""
    return Writer(path)


def update(path):
    """Starts changing the archive at path; returns the Writer dat.create
    returns, over the old archive's entries: add() replaces an entry of the
    same path, remove() takes entries out, and finish() writes what
    dattool c writes of the tree that makes, copying the entries kept from
    the old archive. Raises NotADatFile, DamagedArchive or Error (an
    archive dattool c could not have written) with the library's text."""
    return Writer(path, _update=True)



def open(path):
    """Opens the DAT archive at path for reading; returns an Archive.

    Raises NotADatFile, DamagedArchive or Error (say, when there is no file
    at path) with the library's text.
    """
    return Archive(path)
