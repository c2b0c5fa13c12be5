#include "reading/toc_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/format.h"
#include "archive/keyed_stream.h"

uint32_t tocSize = 0;
uint32_t files = 0;

namespace {

// Absolute archive offset of a byte of the TOC block.
uint32_t offsetOf(const TocSpan& toc, const uint8_t* p) {
    return magicSize + static_cast<uint32_t>(p - toc.start);
}

std::string num(uint64_t v) { return std::to_string(v); }

// One decoding of a block: the block and, once found, what is wrong in it.
struct TocWalk {
    TocSpan toc;
    std::string& damage;
};

// Decodes n sibling records from cursor into list, recursing into
// directories; returns the cursor past the last sibling's subtree, or
// nullptr when the block is damaged (walk.damage set).
const uint8_t* readDir(TocWalk& walk, std::vector<Entry>& list, const std::string& prefix, const uint8_t* cursor,
                       uint32_t n) {
    const TocSpan& toc = walk.toc;
    auto damage = [&](const std::string& what) { walk.damage = what; };
    // n comes from the archive and may claim millions; every record of a
    // file or directory takes at least a file record's bytes of the block,
    // so the rest of the block bounds what is worth reserving.
    const size_t fit = static_cast<size_t>(toc.end - cursor) / (recordHeadSize + fileTailSize);
    list.reserve(list.size() + std::min<size_t>(n, fit));
    Record r;  // reused, so a long name's buffer is allocated once
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* at = cursor;
        if (takeRecord(cursor, toc.end, r) != Decode::ok) {
            damage("record at offset " + num(offsetOf(toc, at)) + " runs past the end of the TOC at " +
                   num(offsetOf(toc, toc.end)));
            return nullptr;
        }
        if (r.name.size() > maxNameLength) {
            damage("name of " + num(r.name.size()) + " bytes at offset " + num(offsetOf(toc, at)) +
                   " is longer than " + num(maxNameLength) + " bytes");
            return nullptr;
        }
        Entry e;
        e.type = r.type;
        if (r.type == typeFile || r.type == typeDirectory) {
            // A zero byte ends the name, as it would in a C string.
            const size_t length = std::min(r.name.find('\0'), r.name.size());
            e.name.reserve(prefix.size() + length + 1);
            e.name.append(prefix).append(r.name, 0, length);
            if (r.type == typeDirectory) e.name += '\\';
            // Deep nesting ends here too, which bounds the recursion.
            if (e.name.size() > maxPathLength()) {
                damage("path at offset " + num(offsetOf(toc, at)) + " is longer than " + num(maxPathLength()) +
                       " bytes");
                return nullptr;
            }
            e.offset = r.offset;
            e.size = r.size;
            e.count = r.count;
            e.scrambled = r.scrambled;
        }
        if (r.type == typeFile) ++files;
        list.push_back(std::move(e));
        if (r.type == typeDirectory) {
            Entry& dir = list.back();
            cursor = readDir(walk, dir.child, dir.name, cursor, r.count);
            if (!cursor) return nullptr;
        }
    }
    return cursor;
}

}  // namespace

Toc readTOC(const TocSpan& toc, std::string& damage) {
    TocWalk walk{toc, damage};
    auto damaged = [&](const std::string& what) {
        damage = what;
        return Toc::damaged;
    };
    root.child.clear();
    const uint8_t* cursor = toc.start;
    Record r;
    if (toc.start == toc.end || toc.start[0] != typeDirectory) return Toc::notArchive;
    if (takeRecord(cursor, toc.end, r) != Decode::ok)
        return damaged("root record runs past the end of the TOC at " + num(offsetOf(toc, toc.end)));
    if (!r.name.empty()) return damaged("root record has a name");
    root.size = r.size;
    root.count = r.count;
    cursor = readDir(walk, root.child, "", cursor, r.count);
    if (!cursor) return Toc::damaged;
    // Records that stop short of the data region mean the region's start,
    // taken from the archive's length, is off: bytes were added.
    if (cursor != toc.end)
        return damaged("TOC ends at offset " + num(offsetOf(toc, cursor)) + " but the data region starts at " +
                       num(offsetOf(toc, toc.end)));
    return Toc::ok;
}

Toc parseFile(File& f, std::string& damage) {
    auto damaged = [&](const std::string& what) {
        damage = what;
        return Toc::damaged;
    };
    resetFile(f);
    const uint64_t length = fileLength(f);
    uint8_t header[headerSize];
    if (!ReadData(f, header, headerSize, 1)) return Toc::notArchive;
    if (std::memcmp(header, magic, magicSize) != 0) return Toc::notArchive;
    if (header[magicSize] != typeDirectory) return Toc::notArchive;
    if (length > UINT32_MAX) return damaged("archive is 4 GiB or larger");
    const uint32_t rootSize = get32(header + rootSizeOffset);
    if (rootSize > length - headerSize)
        return damaged("data region of " + num(rootSize) + " bytes is larger than the archive");
    tocSize = static_cast<uint32_t>(length - rootSize);

    resetFile(f);
    seekFile(f, magicSize);
    std::vector<uint8_t> block;
    try {
        block.resize(tocSize - magicSize);
    } catch (const std::bad_alloc&) {
        return damaged("TOC of " + num(tocSize - magicSize) + " bytes does not fit in memory");
    }
    if (!ReadData(f, block.data(), block.size(), 1)) return damaged("cannot read the TOC");
    return readTOC({block.data(), block.data() + block.size()}, damage);
}
