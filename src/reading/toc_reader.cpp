#include "reading/toc_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "archive/paths.h"

namespace dat::detail {

namespace {

// Absolute archive offset of a byte of the TOC block.
uint32_t offsetOf(const TocSpan& toc, const uint8_t* p) {
    return magicSize + static_cast<uint32_t>(p - toc.start);
}

std::string decimal(uint64_t v) {
    return std::to_string(v);
}

// Bytes of a stored name up to the first zero byte, which ends it as it
// would end a C string.
size_t nameLength(const std::string& name) {
    return std::min(name.find('\0'), name.size());
}

// One directory being decoded: how many records it still claims; while
// building, where its entries go.
struct Level {
    std::vector<Entry>* list;  // building: the directory's entries
    size_t kept;               // measuring: the directory's index in TocWalk::kept
    uint32_t left;
};

// Where a non-empty file's bytes lie in the data region, and the TOC
// offset of its record.
struct Range {
    uint32_t offset;
    uint32_t size;
    uint32_t record;
};

// The block below the root record is decoded twice: first to find where it
// ends or is damaged and how many entries each directory really holds, then
// to build the tree with every list reserved to its exact size. So a count
// the archive claims is never trusted, and memory follows the records
// actually there. Both passes check each record the same way.
struct TocWalk {
    const TocSpan& toc;
    Archive& archive;
    std::vector<uint32_t> kept;  // entries of each directory, in preorder, root first
    size_t records = 0;          // records decoded before the end or the damage
    size_t filled = 0;           // non-empty files among them
    std::vector<Range> ranges;   // building: of every non-empty file
};

enum class Check { entry, passedOver, damaged };

// Decodes the record at cursor, depth levels below the root, and moves
// cursor past it. entry: a file or directory; passedOver: a record of
// another type, which costs no entry; damaged: walk.archive.damage says
// why. The bounds are the format's, the same on every system: how long a
// path may be on this one is for extraction to say.
Check checkRecord(TocWalk& walk, const uint8_t*& cursor, size_t depth, Record& r) {
    const TocSpan& toc = walk.toc;
    const uint8_t* at = cursor;
    auto damaged = [&](const std::string& what) {
        walk.archive.damage = what;
        return Check::damaged;
    };
    if (takeRecord(cursor, toc.end, r) != Decode::ok)
        return damaged("record at offset " + decimal(offsetOf(toc, at)) +
                       " runs past the end of the TOC at " + decimal(offsetOf(toc, toc.end)));
    if (r.name.size() > maxNameLength)
        return damaged("name of " + decimal(r.name.size()) + " bytes at offset " +
                       decimal(offsetOf(toc, at)) + " is longer than " + decimal(maxNameLength) + " bytes");
    if (r.type != typeFile && r.type != typeDirectory) return Check::passedOver;
    if (r.type == typeDirectory && depth > maxDepth)
        return damaged("directory at offset " + decimal(offsetOf(toc, at)) + " lies deeper than " +
                       decimal(maxDepth) + " levels");
    return Check::entry;
}

// The first pass, below a root that claims rootCount children: fills
// walk.kept, walk.records and walk.filled; returns the cursor past the
// last record, or nullptr at damage.
const uint8_t* measure(TocWalk& walk, const uint8_t* cursor, uint32_t rootCount) {
    walk.kept.assign(1, 0);
    std::vector<Level> stack{{nullptr, 0, rootCount}};
    Record r;  // reused, so a long name's buffer is allocated once
    for (;;) {
        while (!stack.empty() && stack.back().left == 0) stack.pop_back();
        if (stack.empty()) return cursor;
        Level& level = stack.back();
        --level.left;
        const Check checked = checkRecord(walk, cursor, stack.size(), r);
        if (checked == Check::damaged) return nullptr;
        ++walk.records;
        if (checked == Check::passedOver) continue;
        ++walk.kept[level.kept];
        if (r.type == typeFile) {
            if (r.size > 0) ++walk.filled;
            continue;
        }
        stack.push_back({nullptr, walk.kept.size(), r.count});
        walk.kept.push_back(0);
    }
}

// The second pass: decodes the walk.records records the first found sound
// into the tree, and notes where each non-empty file's bytes lie.
void build(TocWalk& walk, const uint8_t* cursor, uint32_t rootCount) {
    std::vector<Entry>& top = walk.archive.root.child;
    size_t nextDir = 0;  // index in kept of the next directory
    top.reserve(walk.kept[nextDir++]);
    walk.ranges.reserve(walk.filled);
    std::vector<Level> stack{{&top, 0, rootCount}};
    Record r;  // copied into each entry, the name at its exact length
    for (size_t done = 0; done < walk.records; ++done) {
        while (!stack.empty() && stack.back().left == 0) stack.pop_back();
        if (stack.empty()) return;
        Level& level = stack.back();
        --level.left;
        const uint8_t* at = cursor;
        if (checkRecord(walk, cursor, stack.size(), r) != Check::entry) continue;
        r.name.resize(nameLength(r.name));
        level.list->push_back(Entry{r, {}});
        Entry& e = level.list->back();
        if (e.type == typeFile) {
            ++walk.archive.files;
            if (e.size > 0) walk.ranges.push_back({e.offset, e.size, offsetOf(walk.toc, at)});
            continue;
        }
        // Reserved exactly, so the lists above never move while this one fills.
        e.child.reserve(walk.kept[nextDir++]);
        stack.push_back({&e.child, 0, e.count});
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
            damage = "files at offsets " + decimal(std::min(furthest->record, r.record)) + " and " +
                     decimal(std::max(furthest->record, r.record)) + " share bytes of the data region";
            return true;
        }
        if (uint64_t(r.offset) + r.size > end) {
            end = uint64_t(r.offset) + r.size;
            furthest = &r;
        }
    }
    return false;
}

// Where the records that the root's child counts call for end in toc, a
// block that starts with the root record; nullptr when they run past its
// end. Only the counts are followed: readTOC checks everything else.
const uint8_t* recordsEnd(const TocSpan& toc) {
    const uint8_t* cursor = toc.start;
    Record r;
    if (takeRecord(cursor, toc.end, r) != Decode::ok) return nullptr;
    std::vector<uint32_t> left{r.count};  // records still due, of each directory down to the one at hand
    while (!left.empty()) {
        if (left.back() == 0) {
            left.pop_back();
            continue;
        }
        --left.back();
        if (takeRecord(cursor, toc.end, r) != Decode::ok) return nullptr;
        if (r.type == typeDirectory) left.push_back(r.count);
    }
    return cursor;
}

// Reads the TOC into block up to where its records end, in reads that
// double until they hold every record, so memory follows the records
// there. A read may stop short where the archive cannot be read, in the
// data region beyond the records: what came is enough if it holds them.
// Records that run past the archive's end leave all of it in block, for
// readTOC to say where. False when the records cannot be read.
bool readToRecordsEnd(const File& f, uint64_t length, std::vector<uint8_t>& block) {
    const uint64_t most = length - magicSize;
    uint64_t want = std::min<uint64_t>(most, 1 << 16);
    for (;;) {
        block.resize(static_cast<size_t>(want));
        const size_t got = fileReadAt(f, magicSize, block.data(), block.size());
        keyBlock(block.data(), block.data(), got, keyAt(magicSize));
        const uint8_t* end = recordsEnd({block.data(), block.data() + got});
        if (end) {
            block.resize(static_cast<size_t>(end - block.data()));
            return true;
        }
        if (got < block.size()) return false;
        if (want == most) return true;
        want = std::min(most, want * 2);
    }
}

}  // namespace

Toc readTOC(const TocSpan& toc, Archive& archive) {
    Entry& root = archive.root;
    root.child.clear();
    archive.files = 0;
    auto damaged = [&](const std::string& what) {
        archive.damage = what;
        return archive.status = Toc::damaged;
    };
    const uint8_t* cursor = toc.start;
    Record r;
    if (toc.start == toc.end || toc.start[0] != typeDirectory) return archive.status = Toc::notArchive;
    if (takeRecord(cursor, toc.end, r) != Decode::ok)
        return damaged("root record runs past the end of the TOC at " + decimal(offsetOf(toc, toc.end)));
    if (!r.name.empty()) return damaged("root record has a name");
    root.size = r.size;
    root.count = r.count;
    TocWalk walk{toc, archive, {}, 0, 0, {}};
    const uint8_t* end = measure(walk, cursor, r.count);
    build(walk, cursor, r.count);
    if (!end) return archive.status = Toc::damaged;
    // Records that stop short of the data region mean the region's start,
    // taken from the archive's length, is off: bytes were added.
    if (end != toc.end)
        return damaged("TOC ends at offset " + decimal(offsetOf(toc, end)) +
                       " but the data region starts at " + decimal(offsetOf(toc, toc.end)));
    if (overlapping(walk.ranges, archive.damage)) return archive.status = Toc::damaged;
    return archive.status = Toc::ok;
}

namespace {

// The TOC up to where its records end: the data region starts there, and
// what the root's size claims past the archive's end is cut. More data
// than the root claims is damage, as it is to every reader.
void readFromRecords(const File& f, uint64_t length, uint32_t rootSize, Archive& archive) {
    std::vector<uint8_t> block;
    if (!readToRecordsEnd(f, length, block)) {
        archive.damage = "cannot read the TOC";
        archive.status = Toc::damaged;
        return;
    }
    archive.tocSize = static_cast<uint32_t>(magicSize + block.size());
    if (readTOC({block.data(), block.data() + block.size()}, archive) != Toc::ok) return;
    const uint64_t present = length - archive.tocSize;
    if (present > rootSize) {
        archive.damage = "TOC ends at offset " + decimal(archive.tocSize) +
                         " but the data region starts at " + decimal(length - rootSize);
        archive.status = Toc::damaged;
        return;
    }
    archive.cut = static_cast<uint32_t>(rootSize - present);
}

}  // namespace

Archive parseFile(const File& f, Start start) {
    Archive archive;
    auto damaged = [&](const std::string& what) {
        archive.damage = what;
        archive.status = Toc::damaged;
        return std::move(archive);
    };
    const uint64_t length = fileLength(f);
    uint8_t header[headerSize];
    if (length < headerSize || !readAt(f, 0, header, headerSize, 1)) return archive;
    if (std::memcmp(header, magic, magicSize) != 0) return archive;
    if (header[magicSize] != typeDirectory) return archive;
    if (length > UINT32_MAX) return damaged("archive is 4 GiB or larger");
    const uint32_t rootSize = get32(header + rootSizeOffset);
    if (start == Start::fromRecords) {
        readFromRecords(f, length, rootSize, archive);
        return archive;
    }
    // The data region and the header must both fit in the archive.
    if (rootSize > length - headerSize)
        return damaged("data region of " + decimal(rootSize) + " bytes and the " + decimal(headerSize) +
                       "-byte header are longer than the archive of " + decimal(length) + " bytes");
    archive.tocSize = static_cast<uint32_t>(length - rootSize);

    // Too large for memory throws std::bad_alloc, which the command reports.
    std::vector<uint8_t> block(archive.tocSize - magicSize);
    if (!readAt(f, magicSize, block.data(), block.size(), 1)) return damaged("cannot read the TOC");
    readTOC({block.data(), block.data() + block.size()}, archive);
    return archive;
}

}  // namespace dat::detail
