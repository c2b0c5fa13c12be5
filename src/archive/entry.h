// The in-memory tree of an archive's entries, shared by every command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dat::detail {

// Each entry keeps its own name only: the walks join paths as they go down,
// in one buffer, so a deep tree costs memory in proportion to its records
// and not to the lengths of its paths.
struct Entry {
    uint8_t type = 0;     // 0 file, 1 directory; a read archive never keeps others
    std::string name;     // as stored, without the parents' names
    uint32_t offset = 0;  // relative to the data region
    uint32_t size = 0;    // file: bytes; directory: bytes of all files below
    uint32_t count = 0;   // directory: direct children
    uint8_t scrambled = 0;
    std::vector<Entry> child;  // in sibling order; walks are preorder
};

}  // namespace dat::detail
