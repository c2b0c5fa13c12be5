// Decides where every file's bytes lie in the data region and which files
// are stored scrambled, between the scan and the writing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/paths.h"

namespace dat::detail {

// Assigns offsets, directory sizes and scramble flags to the entries of list
// and everything below, placing the first file's data at start. Returns the
// offset just past the subtree's last byte of data.
uint32_t fixupTree(std::vector<Entry>& list, uint32_t start);

// Whether a file of this name is stored plain: it ends in exactly ".tex",
// ".msh", ".TEX" or ".MSH".
bool storedPlain(const std::string& name);

// What one entry adds to the archive's length: its record and, for a file,
// its bytes. The scan adds these up as it goes, to stop as soon as the
// archive is too large; archiveLength adds them up over a whole tree.
uint64_t entryLength(const Entry& e);

// Full length of the archive the tree makes: magic, every record from root
// down, and every file's size, counted without wrapping.
uint64_t archiveLength(const Entry& top);

}  // namespace dat::detail
