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

// Appends the record of e and, for a directory, the records of its subtree.
void writeTOC(std::vector<uint8_t>& toc, const Entry& e) {
    putRecord(toc, e);
    Preorder<const std::vector<Entry>> walk(e.child);
    while (const Entry* below = walk.next()) putRecord(toc, *below);
}

// Copies the bytes of every file of list and the lists below it, each
// through buffer (transferSize bytes); path is the disk path of the
// directory that holds list, empty for the top level.
bool writeFile(KeyedFile& f, uint8_t* buffer, std::string& path, const std::vector<Entry>& list,
               const std::vector<FileId>& own, Reporter& report) {
    const size_t top = path.size();
    std::vector<size_t> marks;  // where the path of each directory above ends
    Preorder<const std::vector<Entry>> walk(list);
    while (const Entry* e = walk.next()) {
        marks.resize(walk.depth() - 1);
        // Each source lies where the scan found it: its directory's path on
        // disk, "\", its name; a top-level directory is its name alone.
        const size_t mark = marks.empty() ? top : marks.back();
        path.resize(mark);
        if (mark > 0) path += '\\';
        path += e->name;
        marks.push_back(path.size());
        if (e->type == typeFile && !storeFile(f, buffer, *e, path, own, report)) {
            path.resize(top);
            return false;
        }
    }
    path.resize(top);
    return true;
}

}  // namespace

bool createFile(KeyedFile& f, const Entry& root, const std::vector<FileId>& own, Reporter& report) {
    // The key follows the position from offset 0 on; everything after this
    // goes strictly forward through WriteData.
    if (!resetFile(f)) return false;
    std::vector<uint8_t> toc(magic, magic + magicSize);
    writeTOC(toc, root);
    // Magic and records go out in one call, all scrambled.
    std::vector<uint8_t> buffer(transferSize);  // file bytes pass through here
    std::string path;
    return WriteData(f, toc.data(), toc.size(), 1) &&
           writeFile(f, buffer.data(), path, root.child, own, report) && flushData(f);
}

}  // namespace dat::detail
