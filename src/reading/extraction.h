// The two walks over a tree read from an archive: listing tells every path
// as stored; extraction recreates directories and files below the current
// directory and decides what may be written there.
#pragma once

#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/reporter.h"
#include "platform/platform.h"
#include "reading/toc_reader.h"

namespace dat::detail {

// Tells every file's and directory's path in preorder.
void printFiles(const std::vector<Entry>& list, Reporter& report);

// Extracts every entry below the current directory, reading file bytes
// from the archive's data region. Refused entries and failed files are
// told as failures; the walk always goes on.
void extractFiles(const File& f, const Archive& archive, Reporter& report);

}  // namespace dat::detail
