// What "x" does with each entry of a decoded archive, judged from the
// archive alone: where it is written, or why it is refused, and which of
// repeated paths ends up on disk. Nothing here touches the disk or prints,
// so a library or a mount can show exactly what "x" would make.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
    cutShort,           // a file's bytes reach past the end of a cut archive (Archive::cut)
    reservedName,       // Windows cannot hold a name of the path (Windows builds only)
    fileInTheWay,       // an earlier file stands where this path needs a directory
    directoryInTheWay,  // an earlier directory stands where this file goes
    nameTooLong,        // the path, or a name of it, is longer than this system takes
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

// One thing "x" leaves in an empty current directory: a directory, or a
// file with the bytes of the last entry written there. Twelve bytes.
struct Made {
    uint32_t parent = 0;   // index of the directory holding it
    uint32_t verdict = 0;  // directory: whose stored name holds its name; file: whose bytes it holds
    uint16_t start = 0;    // where its name starts in that verdict's stored name
    bool directory = true;
};

// How judgeExtraction used its table of the names written: the table never
// grows, so it is sized at the start for every name there can be, with
// room to spare so that every search soon meets a free slot.
struct NameTableUse {
    size_t slots = 0;   // its size
    size_t filled = 0;  // slots taken when the judging ended
};

// Every entry of archive, in stored order, with what "x" does with it in
// an empty current directory. Names are compared byte for byte, as a
// case-sensitive file system compares them. These verdicts are the one
// decision of what "x" makes: "x" follows them, and the library and the
// mount show them.
//
// made, when given, receives what "x" makes, in the order it makes it:
// made[0] is the current directory, every other directory and file comes
// after the directory holding it. Of repeated files there is one, placed
// where the first was made. use, when given, is told how the table of
// names was used.
std::vector<Verdict> judgeExtraction(const Archive& archive, std::vector<Made>* made = nullptr,
                                     NameTableUse* use = nullptr);

// The name of made[i]; empty for the current directory, made[0].
std::string_view madeName(const std::vector<Verdict>& verdicts, const std::vector<Made>& made, size_t i);

// The path of verdicts[i] as listed, and as written below the current
// directory; directories end in "\\".
std::string storedPath(const std::vector<Verdict>& verdicts, size_t i);
std::string writtenPath(const std::vector<Verdict>& verdicts, size_t i);

// Appends to path, the written path of v's directory, what v adds to it:
// its stored name less what was dropped from its start, and a directory's
// "\\", unless all of it was dropped from the start of the path.
void appendWritten(std::string& path, const Verdict& v);

// The reason "x" gives for a refusal.
const char* reasonOf(Refusal r);

}  // namespace dat::detail
