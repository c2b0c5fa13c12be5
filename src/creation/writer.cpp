#include "creation/writer.h"

#include <algorithm>
#include <cstring>

#include "archive/format.h"
#include "archive/keyed_stream.h"

namespace dat::detail {

namespace {

size_t chunk(uint64_t left) {
    return left < transferSize ? static_cast<size_t>(left) : transferSize;
}

// Writes n zero bytes in place of data that could not be had.
bool writeZeros(KeyedFile& f, uint8_t* buf, uint64_t n, uint8_t scrambled) {
    std::memset(buf, 0, chunk(n));
    while (n > 0) {
        size_t piece = chunk(n);
        if (!WriteData(f, buf, piece, scrambled)) return false;
        n -= piece;
    }
    return true;
}

// Bytes a plain file moves by one kernel copy between two progress calls.
constexpr uint64_t copyPiece = uint64_t(transferSize) * 64;

// Stores up to e.size bytes of in, from its start: a plain file of a
// buffer or more by the kernel's copy, anything else a chunk at a time
// through buf. copied: how many in gave. False when the archive took fewer.
bool storeBytes(KeyedFile& f, uint8_t* buf, const File& in, const Entry& e, Reporter& report,
                uint64_t& copied) {
    const bool kernel = !e.scrambled && e.size >= transferSize;
    copied = 0;
    while (copied < e.size) {
        const uint64_t want = std::min<uint64_t>(e.size - copied, kernel ? copyPiece : transferSize);
        bool failed = false;
        uint64_t got = 0;
        if (kernel) {
            got = copyPlain(f, in, copied, want, failed);
        } else {
            got = fileReadAt(in, copied, buf, static_cast<size_t>(want));
            failed = got > 0 && !WriteData(f, buf, static_cast<size_t>(got), e.scrambled);
        }
        if (failed) return false;
        copied += got;
        if (got < want) break;
        report.moved();
    }
    return true;
}

}  // namespace

bool storeFile(KeyedFile& f, uint8_t* buf, const Entry& e, const std::string& path,
               const std::vector<FileId>& own, Reporter& report) {
    report.writing(path, e.size);
    File in = fileOpenRead(path);
    // Only a regular file is read: what stands there now may be a device
    // that never ends or a FIFO that never delivers. A new file in its place
    // is fine; editors save that way, but not the archive itself, which a
    // link put there since the scan would have it read.
    FileId id;
    const bool regular = in && regularFileId(in, id);
    if (regular && std::find(own.begin(), own.end(), id) != own.end()) {
        report.sourceFault(path, SourceFault::isArchive, e.size, "it is the archive being written");
        return writeZeros(f, buf, e.size, e.scrambled);
    }
    if (!regular) {
        report.sourceFault(path, SourceFault::unreadable, e.size, in ? "not a regular file" : lastError());
        return writeZeros(f, buf, e.size, e.scrambled);
    }
    uint64_t copied = 0;
    if (!storeBytes(f, buf, in, e, report, copied)) return false;
    const uint64_t left = e.size - copied;
    if (left > 0) {
        report.sourceFault(path, SourceFault::shrank, static_cast<uint32_t>(left),
                           "shrank since it was scanned");
        return writeZeros(f, buf, left, e.scrambled);
    }
    uint8_t extra = 0;
    if (fileReadAt(in, e.size, &extra, 1) > 0)
        report.sourceFault(path, SourceFault::grew, e.size, "grew since it was scanned");
    return true;
}

namespace {

// Copies the e.size bytes held for e.
bool copyHeld(KeyedFile& f, uint8_t* buf, const Entry& e, const std::string& path, const FileSource& src,
              const HeldBytes& bytes, Reporter& report) {
    report.writing(path, e.size);
    if (!src.spilled) return WriteData(f, bytes.memory.data() + src.at, e.size, e.scrambled);
    for (uint64_t done = 0; done < e.size;) {
        const size_t n = chunk(e.size - done);
        if (fileReadAt(bytes.spill, src.at + done, buf, n) != n || !WriteData(f, buf, n, e.scrambled))
            return false;
        done += n;
        report.moved();
    }
    return true;
}

// How a piece of a file moved: whole, or stopped by the archive written
// or the old one read.
enum class Moved { whole, unwritten, unread };

// Moves up to left bytes from offset from of the old archive, as stored or
// descrambled there (from) and scrambled again here (to), through buf; n:
// how many it moved.
Moved movePiece(KeyedFile& f, uint8_t* buf, const File& old, uint64_t from, uint64_t left, bool asStored,
                const FileSource& src, uint8_t to, uint64_t& n) {
    // Bytes as stored need no buffer: the kernel copies them where it can.
    if (asStored && left >= transferSize) {
        n = std::min<uint64_t>(left, copyPiece);
        bool failed = false;
        const uint64_t got = copyPlain(f, old, from, n, failed);
        return failed ? Moved::unwritten : got < n ? Moved::unread : Moved::whole;
    }
    n = std::min<uint64_t>(left, transferSize);
    const uint8_t in = asStored ? 0 : src.scrambled, out = asStored ? 0 : to;
    if (!readAt(old, from, buf, static_cast<size_t>(n), 0)) return Moved::unread;
    return WriteMoved(f, buf, static_cast<size_t>(n), from, in, out) ? Moved::whole : Moved::unwritten;
}

// Copies the file e from the old archive: as stored when its bytes are
// plain in both, or scrambled in both and the key at its new place is the
// key at its old one; else through the key in blocks.
bool moveFile(KeyedFile& f, uint8_t* buf, const File& old, const FileSource& src, const Entry& e,
              Reporter& report, std::string& why) {
    const uint64_t to = filePosition(f.file) + f.pendingSize;
    const bool both = src.scrambled != 0 && e.scrambled != 0;
    const bool asStored = both ? (to - src.at) % 256 == 0 : (src.scrambled != 0) == (e.scrambled != 0);
    for (uint64_t done = 0; done < e.size;) {
        uint64_t n = 0;
        switch (movePiece(f, buf, old, src.at + done, e.size - done, asStored, src, e.scrambled, n)) {
            case Moved::whole:
                break;
            case Moved::unwritten:
                return false;
            case Moved::unread:
                why = "the old archive cannot be read there";
                return false;
        }
        done += n;
        report.moved();
    }
    return true;
}

// Appends the record of e and, for a directory, the records of its subtree.
void writeTOC(std::vector<uint8_t>& toc, const Entry& e) {
    putRecord(toc, e);
    Preorder<const std::vector<Entry>> walk(e.child);
    while (const Entry* below = walk.next()) putRecord(toc, *below);
}

// Copies the bytes of every file of list and the lists below it, each
// through buffer (transferSize bytes); path is the disk path of the
// directory that holds list, empty for the top level.
// The path on disk of each entry in turn, joined from the names as a walk
// in preorder goes down and up, in one buffer: a deep tree costs no more
// per entry than its own name. A directory with a source of its own starts
// a new path for what lies below it, until the walk leaves it.
struct DiskPaths {
    explicit DiskPaths(std::string& buffer) : path(buffer), top(buffer.size()) {}
    ~DiskPaths() { path.resize(top); }
    DiskPaths(const DiskPaths&) = delete;
    DiskPaths& operator=(const DiskPaths&) = delete;

    // Of e, at depth in the walk; src its source, if any.
    const std::string& next(const Entry& e, size_t depth, const FileSource* src) {
        for (; !rebased.empty() && rebased.back().depth >= depth; rebased.pop_back()) {
            path = std::move(rebased.back().path);
            marks = std::move(rebased.back().marks);
        }
        marks.resize(depth - 1);
        // Each source lies where the scan found it: its directory's path on
        // disk, "\\", its name; a top-level directory is its name alone.
        const size_t mark = marks.empty() ? top : marks.back();
        path.resize(mark);
        if (mark > 0) path += '\\';
        path += e.name;
        if (src && !src->held && e.type == typeDirectory) {
            rebased.push_back({depth, std::move(path), marks});
            path = src->path;
        }
        marks.push_back(path.size());
        return path;
    }

    struct Rebased {
        size_t depth;
        std::string path;
        std::vector<size_t> marks;
    };
    std::string& path;
    size_t top;
    std::vector<size_t> marks;  // where the path of each directory above ends
    std::vector<Rebased> rebased;
};

// The sources of a walk's entries, by their index in preorder.
struct SourceCursor {
    explicit SourceCursor(const Sources* sources) {
        if (!sources) return;
        at = sources->list.data();
        end = at + sources->list.size();
    }
    const FileSource* of(size_t index) { return at != end && at->entry == index ? at++ : nullptr; }
    const FileSource* at = nullptr;
    const FileSource* end = nullptr;
};

// Copies one file's bytes from where src says, or from path.
bool copyFile(KeyedFile& f, uint8_t* buffer, const Entry& e, const std::string& path, const FileSource* src,
              const std::vector<FileId>& own, Reporter& report, const Sources* sources, std::string& why) {
    if (!src) return storeFile(f, buffer, e, path, own, report);
    if (src->held) return copyHeld(f, buffer, e, path, *src, sources->bytes, report);
    if (src->old) return moveFile(f, buffer, *sources->old, *src, e, report, why);
    return storeFile(f, buffer, e, src->path, own, report);
}

bool writeFile(KeyedFile& f, uint8_t* buffer, std::string& buf, const std::vector<Entry>& list,
               const std::vector<FileId>& own, Reporter& report, const Sources* sources, std::string& why) {
    DiskPaths paths(buf);
    SourceCursor cursor(sources);
    size_t index = 0;
    Preorder<const std::vector<Entry>> walk(list);
    for (const Entry* e = walk.next(); e; e = walk.next(), ++index) {
        const FileSource* src = cursor.of(index);
        const std::string& path = paths.next(*e, walk.depth(), src);
        if (e->type == typeFile && !copyFile(f, buffer, *e, path, src, own, report, sources, why))
            return false;
    }
    return true;
}

}  // namespace

bool createFile(KeyedFile& f, const Entry& root, const std::vector<FileId>& own, Reporter& report,
                const Sources* sources, std::string* unread) {
    // The key follows the position from offset 0 on; everything after this
    // goes strictly forward through WriteData.
    if (!resetFile(f)) return false;
    std::vector<uint8_t> toc(magic, magic + magicSize);
    writeTOC(toc, root);
    // Magic and records go out in one call, all scrambled.
    std::vector<uint8_t> buffer(transferSize);  // file bytes pass through here
    std::string path, why;
    const bool written = WriteData(f, toc.data(), toc.size(), 1) &&
                         writeFile(f, buffer.data(), path, root.child, own, report, sources, why) &&
                         flushData(f);
    if (unread) *unread = why;
    return written;
}

}  // namespace dat::detail
