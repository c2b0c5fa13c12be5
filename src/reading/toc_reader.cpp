#include "reading/toc_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/format.h"
#include "archive/keyed_stream.h"

uint32_t tocSize = 0;
uint32_t files = 0;

namespace {

// Absolute archive offset of a byte of the TOC block.
uint32_t offsetOf(const TocSpan& toc, const uint8_t* p) {
    return magicSize + static_cast<uint32_t>(p - toc.start);
}

std::string num(uint64_t v) {
    return std::to_string(v);
}

// Bytes of a stored name up to the first zero byte, which ends it as it
// would end a C string.
size_t nameLength(const std::string& name) {
    return std::min(name.find('\0'), name.size());
}

// One directory being decoded: where its entries go and how many records it
// still claims.
struct Level {
    std::vector<Entry>* list;  // null while only measuring
    uint32_t left;
    size_t pathLength;  // of the joined path of the directory, "\\" included
};

// One decoding of the block below the root record. The block is decoded
// twice: first to find where it ends or is damaged and how many entries
// each directory really holds, then to build the tree with every list
// reserved to its exact size. So a count the archive claims is never
// trusted, and memory follows the records actually there.
// Where a non-empty file's bytes lie in the data region, and the TOC
// offset of its record.
struct Range {
    uint32_t offset;
    uint32_t size;
    uint32_t record;
};

struct TocWalk {
    const TocSpan& toc;
    std::string& damage;
    std::vector<uint32_t> kept;  // entries of each directory, in preorder, root first
    size_t records = 0;          // records decoded before the end or the damage
    size_t filled = 0;           // non-empty files among them
    std::vector<Range> ranges;   // building: of every non-empty file
};

// Decodes the records below a root that claims rootCount children. With
// build false it fills walk.kept and walk.records and returns the cursor past
// the last record, or nullptr at damage (walk.damage set). With build true
// it decodes walk.records records into root.child.
const uint8_t* decode(TocWalk& walk, const uint8_t* cursor, uint32_t rootCount, bool build) {
    const TocSpan& toc = walk.toc;
    auto damaged = [&](const std::string& what) -> const uint8_t* {
        walk.damage = what;
        return nullptr;
    };
    std::vector<Level> stack;
    std::vector<size_t> keptAt;  // measuring: index in kept of each open directory
    size_t nextDir = 0;          // building: index in kept of the next directory
    if (build) {
        walk.ranges.reserve(walk.filled);
        root.child.reserve(walk.kept[nextDir++]);
        stack.push_back({&root.child, rootCount, 0});
    } else {
        walk.kept.assign(1, 0);
        keptAt.push_back(0);
        stack.push_back({nullptr, rootCount, 0});
    }
    Record r;  // reused, so a long name's buffer is allocated once
    for (size_t done = 0;; ++done) {
        while (!stack.empty() && stack.back().left == 0) {
            stack.pop_back();
            if (!build) keptAt.pop_back();
        }
        if (stack.empty() || (build && done == walk.records)) return cursor;
        Level& level = stack.back();
        --level.left;
        const uint8_t* at = cursor;
        if (takeRecord(cursor, toc.end, r) != Decode::ok)
            return damaged("record at offset " + num(offsetOf(toc, at)) +
                           " runs past the end of the TOC at " + num(offsetOf(toc, toc.end)));
        if (r.name.size() > maxNameLength)
            return damaged("name of " + num(r.name.size()) + " bytes at offset " + num(offsetOf(toc, at)) +
                           " is longer than " + num(maxNameLength) + " bytes");
        // Records of other types are passed over: they cost no entry.
        if (r.type != typeFile && r.type != typeDirectory) {
            if (!build) walk.records = done + 1;
            continue;
        }
        const bool dir = r.type == typeDirectory;
        const size_t length = nameLength(r.name);
        const size_t pathLength = level.pathLength + length + (dir ? 1 : 0);
        if (pathLength > maxPathLength())
            return damaged("path at offset " + num(offsetOf(toc, at)) + " is longer than " +
                           num(maxPathLength()) + " bytes");
        if (dir && stack.size() > maxDepth)
            return damaged("directory at offset " + num(offsetOf(toc, at)) + " lies deeper than " +
                           num(maxDepth) + " levels");
        if (!build) {
            ++walk.kept[keptAt.back()];
            walk.records = done + 1;
            if (!dir && r.size > 0) ++walk.filled;
            if (dir) {
                keptAt.push_back(walk.kept.size());
                walk.kept.push_back(0);
                stack.push_back({nullptr, r.count, pathLength});
            }
            continue;
        }
        level.list->push_back(Entry{static_cast<uint8_t>(r.type),
                                    r.name.substr(0, length),
                                    r.offset,
                                    r.size,
                                    r.count,
                                    r.scrambled,
                                    {}});
        if (!dir) {
            ++files;
            if (r.size > 0) walk.ranges.push_back({r.offset, r.size, offsetOf(toc, at)});
            continue;
        }
        // Reserved exactly, so the lists above never move while this one fills.
        std::vector<Entry>* children = &level.list->back().child;
        children->reserve(walk.kept[nextDir++]);
        stack.push_back({children, r.count, pathLength});
    }
}

// Two files whose bytes overlap would each be written whole: a small
// archive could fill a disk many times its size. Archives made by "c"
// never overlap; empty files take no bytes and may point anywhere.
// Sorted by offset, a range overlaps an earlier one exactly when it starts
// before the furthest end seen so far.
bool overlapping(std::vector<Range>& ranges, std::string& damage) {
    auto before = [](const Range& a, const Range& b) {
        return a.offset != b.offset ? a.offset < b.offset : a.record < b.record;
    };
    // Archives made by "c" come in order already: one pass checks that.
    if (!std::is_sorted(ranges.begin(), ranges.end(), before))
        std::sort(ranges.begin(), ranges.end(), before);
    const Range* furthest = nullptr;
    uint64_t end = 0;
    for (const Range& r : ranges) {
        if (furthest && r.offset < end) {
            damage = "files at offsets " + num(std::min(furthest->record, r.record)) + " and " +
                     num(std::max(furthest->record, r.record)) + " share bytes of the data region";
            return true;
        }
        if (uint64_t(r.offset) + r.size > end) {
            end = uint64_t(r.offset) + r.size;
            furthest = &r;
        }
    }
    return false;
}

}  // namespace

Toc readTOC(const TocSpan& toc, std::string& damage) {
    root.child.clear();
    auto damaged = [&](const std::string& what) {
        damage = what;
        return Toc::damaged;
    };
    const uint8_t* cursor = toc.start;
    Record r;
    if (toc.start == toc.end || toc.start[0] != typeDirectory) return Toc::notArchive;
    if (takeRecord(cursor, toc.end, r) != Decode::ok)
        return damaged("root record runs past the end of the TOC at " + num(offsetOf(toc, toc.end)));
    if (!r.name.empty()) return damaged("root record has a name");
    root.size = r.size;
    root.count = r.count;
    TocWalk walk{toc, damage, {}, 0, 0, {}};
    const uint8_t* end = decode(walk, cursor, r.count, false);
    decode(walk, cursor, r.count, true);
    if (!end) return Toc::damaged;
    // Records that stop short of the data region mean the region's start,
    // taken from the archive's length, is off: bytes were added.
    if (end != toc.end)
        return damaged("TOC ends at offset " + num(offsetOf(toc, end)) + " but the data region starts at " +
                       num(offsetOf(toc, toc.end)));
    if (overlapping(walk.ranges, damage)) return Toc::damaged;
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
    if (length < headerSize || !ReadData(f, header, headerSize, 1)) return Toc::notArchive;
    if (std::memcmp(header, magic, magicSize) != 0) return Toc::notArchive;
    if (header[magicSize] != typeDirectory) return Toc::notArchive;
    if (length > UINT32_MAX) return damaged("archive is 4 GiB or larger");
    const uint32_t rootSize = get32(header + rootSizeOffset);
    // The data region and the header must both fit in the archive.
    if (rootSize > length - headerSize)
        return damaged("data region of " + num(rootSize) + " bytes and the " + num(headerSize) +
                       "-byte header are longer than the archive of " + num(length) + " bytes");
    tocSize = static_cast<uint32_t>(length - rootSize);

    resetFile(f);
    seekFile(f, magicSize);
    // Too large for memory throws std::bad_alloc, which the command reports.
    std::vector<uint8_t> block(tocSize - magicSize);
    if (!ReadData(f, block.data(), block.size(), 1)) return damaged("cannot read the TOC");
    return readTOC({block.data(), block.data() + block.size()}, damage);
}
