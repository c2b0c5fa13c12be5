#include "creation/writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/format.h"
#include "archive/keyed_stream.h"

namespace {

size_t chunk(uint64_t left) { return left < transferSize ? static_cast<size_t>(left) : transferSize; }

// Writes n zero bytes in place of data that could not be had.
bool writeZeros(File& f, uint64_t n, uint8_t scrambled) {
    uint8_t* buf = transferBuffer();
    std::memset(buf, 0, chunk(n));
    while (n > 0) {
        size_t piece = chunk(n);
        if (!WriteData(f, buf, piece, scrambled)) return false;
        n -= piece;
    }
    return true;
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
    uint8_t* buf = transferBuffer();
    uint64_t left = e.size;
    while (left > 0) {
        size_t want = chunk(left);
        size_t got = fileRead(in, buf, want);
        if (got > 0 && !WriteData(f, buf, got, e.scrambled)) return false;
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
    std::vector<uint8_t> toc(magic, magic + magicSize);
    writeTOC(toc, root);
    // Magic and records go out in one call, all scrambled.
    const bool whole = WriteData(f, toc.data(), toc.size(), 1) && writeFile(f, root.child);
    // Flushed even after a failure, so nothing waits for the next archive.
    return flushData(f) && whole;
}
