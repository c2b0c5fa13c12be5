// What datmount needs of an archive, in one place: open it with the whole
// table of contents checked, the tree "x" would make of it with every entry
// "x" leaves alone and why, and any byte range of a file. The rest of
// datmount sees nothing else of the library, and decides nothing of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dat/archive.hpp"

namespace dat::detail {

// One directory or file of the tree "x" makes, by the library's number for
// it: 0 is the directory "x" makes it in, and each comes after the
// directory holding it, in the order "x" makes them.
struct Shown {
    std::string name;
    bool directory = true;
    size_t parent = 0;  // number of the directory holding it
    uint64_t size = 0;
    size_t member = 0;  // files: the archive's entry whose bytes it holds
};

// An entry "x" leaves alone: the path it names it by, and why.
struct LeftOut {
    std::string path;
    std::string reason;
};

struct SourceState;

struct Source {
    std::vector<Shown> shown;
    std::vector<LeftOut> leftOut;              // in stored order
    std::shared_ptr<const SourceState> state;  // the open archive, read by any thread
};

// Opens the archive at path. False with why set to the text "dattool l"
// gives: the system's reason, "not a regular file", "Not a DAT file",
// "Damaged archive: ...", "Archive does not fit in memory".
bool openSource(const std::string& path, Source& source, std::string& why);

// Reads exactly n bytes of the archive's entry member from offset within it,
// the range lying inside the file. Safe from any number of threads at once;
// false when the archive no longer holds those bytes.
bool readMember(const Source& source, size_t member, uint64_t offset, void* buf, size_t n);

}  // namespace dat::detail
