#include "creation/writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/planner.h"

namespace {

// File bytes gather in the transfer buffer, scrambled in place where they
// should be, and go to the archive a whole buffer at a time: a run of small
// files costs one write between them.
size_t fill = 0;

// Archive offset of the next byte put in the buffer.
uint64_t nextOffset(const File& f) { return filePosition(f) + fill; }

bool flush(File& f) {
    // Already scrambled here, so written as they are; the key still moves.
    const bool whole = fill == 0 || WriteData(f, transferBuffer(), fill, 0);
    fill = 0;
    return whole;
}

// Room for at most want more bytes, writing out a full buffer first.
size_t room(File& f, uint64_t want, bool& whole) {
    if (fill == transferSize) whole = flush(f);
    return static_cast<size_t>(std::min<uint64_t>(want, transferSize - fill));
}

// Scrambles, when asked, the n bytes just placed at the buffer's end.
void take(File& f, size_t n, uint8_t scrambled) {
    uint8_t* bytes = transferBuffer() + fill;
    if (scrambled) keyBlock(bytes, bytes, n, keyAt(nextOffset(f)));
    fill += n;
}

// Puts n zero bytes in place of data that could not be had.
bool writeZeros(File& f, uint64_t n, uint8_t scrambled) {
    bool whole = true;
    while (n > 0 && whole) {
        size_t piece = room(f, n, whole);
        std::memset(transferBuffer() + fill, 0, piece);
        take(f, piece, scrambled);
        n -= piece;
    }
    return whole;
}

// Copies exactly e.size bytes, whatever has become of the source since the
// scan: the record already promises that many at e.offset.
bool copyFile(File& f, const Entry& e) {
    std::printf("Writing %s...\n", e.path.c_str());
    File in = fileOpenRead(e.path);
    if (!in) {
        std::printf("Unable to open %s: stored %u zero bytes in its place\n", e.path.c_str(), e.size);
        runFailed = true;
        return writeZeros(f, e.size, e.scrambled);
    }
    uint64_t left = e.size;
    bool whole = true;
    while (left > 0) {
        size_t want = room(f, left, whole);
        if (!whole) return false;
        size_t got = fileRead(in, transferBuffer() + fill, want);
        take(f, got, e.scrambled);
        left -= got;
        if (got < want) break;
    }
    if (left > 0) {
        std::printf("%s shrank: %u missing bytes stored as zeros\n", e.path.c_str(),
                    static_cast<uint32_t>(left));
        runFailed = true;
        return writeZeros(f, left, e.scrambled);
    }
    uint8_t extra = 0;
    if (fileRead(in, &extra, 1) > 0) {
        std::printf("%s grew: only its first %u bytes stored\n", e.path.c_str(), e.size);
        runFailed = true;
    }
    return true;
}

}  // namespace

void writeTOC(std::vector<uint8_t>& toc, const Entry& e) {
    putRecord(toc, Record{e.type, e.name, e.offset, e.size, e.count, e.scrambled});
    if (e.type == typeDirectory)
        for (const Entry& c : e.child) writeTOC(toc, c);
}

bool writeFile(File& f, const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        if (e.type == typeDirectory && !writeFile(f, e.child)) return false;
        if (e.type == typeFile && !copyFile(f, e)) return false;
    }
    return true;
}

bool createFile(File& f) {
    // The key follows the position from offset 0 on; everything after this
    // goes strictly forward through WriteData.
    resetFile(f);
    fill = 0;
    std::vector<uint8_t> toc(magic, magic + magicSize);
    toc.reserve(static_cast<size_t>(archiveLength(root) - root.size));
    writeTOC(toc, root);
    // Magic and records go out in one call, all scrambled; the block is
    // ours, so it is scrambled where it lies.
    keyBlock(toc.data(), toc.data(), toc.size(), keyAt(0));
    if (!WriteData(f, toc.data(), toc.size(), 0)) return false;
    toc = {};
    return writeFile(f, root.child) && flush(f);
}
