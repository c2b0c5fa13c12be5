// What datmount needs of an archive, in one place: open it with the whole
// table of contents checked, list every entry with what "x" does with it,
// and read any byte range of a file. The archive is read here alone, through
// the library's face; the mount's tree hashes names as the library's tables
// do (archive/name_hash.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dat/archive.hpp"

namespace dat::detail {

// One entry of the archive, in stored order.
struct Member {
    size_t parent = noParent;  // index of the directory holding it; noParent at the top
    std::string stored;        // its path as listed, for messages
    std::string written;       // where "x" writes it, "\\" or "/" between names
    bool directory = false;
    uint64_t size = 0;
    std::string refused;  // why "x" leaves it alone; empty when it is written
};

struct SourceState;

struct Source {
    std::vector<Member> members;
    std::shared_ptr<const SourceState> state;  // the open archive, read by any thread
};

// Opens the archive at path. False with why set to the text "dattool l"
// gives: the system's reason, "not a regular file", "Not a DAT file",
// "Damaged archive: ...", "Archive does not fit in memory".
bool openSource(const std::string& path, Source& source, std::string& why);

// Reads exactly n bytes of members[member] from offset within it, the
// range lying inside the file. Safe from any number of threads at once;
// false when the archive no longer holds those bytes.
bool readMember(const Source& source, size_t member, uint64_t offset, void* buf, size_t n);

}  // namespace dat::detail
