// Turns the directories named for the create command into the entry tree
// below root. Only names, kinds and sizes are gathered here; the writer
// reads the contents later.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/reporter.h"
#include "platform/platform.h"

namespace dat::detail {

// Appends one top-level entry per argument to root's child list, each
// named exactly as typed: a directory filled by addDir, or a regular file.
// Items that are files being written (the identities in `own`: the
// archive, then its temporary file) are left out, the archive told so.
// Sets root.count to the number of entries stored. Stops as soon as the
// archive planned so far reaches 4 GiB, leaving a tree that archiveLength
// shows too large. Returns how many arguments could be read: directories
// listed and files stored.
size_t buildTree(Entry& root, const std::vector<std::string>& dirs, const std::vector<FileId>& own,
                 Reporter& report);

// The order of items within a directory: bytes compared with a-z taken as
// A-Z, then plain bytes for names equal that way.
bool nameBefore(const std::string& a, const std::string& b);

}  // namespace dat::detail
