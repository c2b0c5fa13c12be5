// The in-memory tree of an archive's entries, shared by every command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Entry {
    int32_t type = 0;  // 0 file, 1 directory; a read archive may hold others
    // Read archive: the joined path ("\\" between names, directories end in
    // "\\"). Creation: the name stored in the archive.
    std::string name;
    std::string path;  // creation only: where the entry lies on disk
    uint32_t offset = 0;  // relative to the data region
    uint32_t size = 0;    // file: bytes; directory: bytes of all files below
    uint32_t count = 0;   // directory: direct children
    uint8_t scrambled = 0;
    std::vector<Entry> child;  // in sibling order; walks are preorder
};

extern Entry root;
