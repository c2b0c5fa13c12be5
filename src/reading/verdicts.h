// What "x" does with each entry of a decoded archive, judged from the
// archive alone: where it is written, or why it is refused, and which of
// repeated paths ends up on disk. Nothing here touches the disk or prints,
// so a library or a mount can show exactly what "x" would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "reading/toc_reader.h"

namespace dat::detail {

// Why "x" leaves an entry alone.
enum class Refusal : uint8_t {
    none,
    leavesDirectory,    // a ".." part climbs out, here or in a directory above
    namesNoFile,        // a file's path is empty or ends in a separator
    outsideArchive,     // a file's bytes reach past the data region
    reservedName,       // Windows cannot hold a name of the path (Windows builds only)
    fileInTheWay,       // an earlier file stands where this path needs a directory
    directoryInTheWay,  // an earlier directory stands where this file goes
};

// The parent of a verdict at the top of the tree: 32 bits, as the library
// answers with its own noParent.
constexpr uint32_t topLevel = UINT32_MAX;

// One entry, in stored order (preorder). Sixteen bytes: an open archive
// keeps one per entry beside its tree, so this stays small.
struct Verdict {
    const Entry* entry = nullptr;  // in the archive's tree, which must outlive this
    uint32_t parent = topLevel;    // index of the verdict of the directory holding it
    // Bytes at the start of the stored name that "x" drops (leading
    // separators, drives, ".."). What the entry adds to its parent's path
    // is the rest, and a directory's "\\" after it unless nothing is left.
    uint16_t skip = 0;
    Refusal refusal = Refusal::none;
    bool replaced = false;  // a later file of the same path is written over this one
};

// The path state of one walk over the tree, for "x" and for judgeExtraction
// alike: the stored path as listed, the path written to, and whether a
// directory above already climbed out or could not be named.
struct PathWalk {
    std::string stored;
    std::string written;
    bool leaves = false;
    bool reserved = false;
};

// Moves walk down to entry e and judges it by the rules that need no disk:
// climbing out, naming no file, bytes outside the data region (dataSize)
// and, on Windows, reserved names. The caller puts walk back after e and
// everything below it.
Refusal judgeEntry(PathWalk& walk, const Entry& e, uint32_t dataSize);

// How judgeExtraction used its table of the names written: the table never
// grows, so it is sized at the start for every name there can be, with
// room to spare so that every search soon meets a free slot.
struct NameTableUse {
    size_t slots = 0;   // its size
    size_t filled = 0;  // slots taken when the judging ended
};

// Every entry of archive, in stored order, with what "x" does with it in
// an empty current directory. Names are compared byte for byte, as a
// case-sensitive file system compares them. use, when given, is told how
// the table of names was used.
std::vector<Verdict> judgeExtraction(const Archive& archive, NameTableUse* use = nullptr);

// The path of verdicts[i] as listed, and as written below the current
// directory; directories end in "\\".
std::string storedPath(const std::vector<Verdict>& verdicts, size_t i);
std::string writtenPath(const std::vector<Verdict>& verdicts, size_t i);

// The reason "x" gives for a refusal.
const char* reasonOf(Refusal r);

}  // namespace dat::detail
