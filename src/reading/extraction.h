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
#include "reading/verdicts.h"

namespace dat::detail {

// Tells every file's and directory's path in preorder.
void printFiles(const std::vector<Entry>& list, Reporter& report);

// Extracts every entry below the current directory, reading file bytes
// from the archive's data region. Refused entries and failed files are
// told as failures; the walk always goes on. With selected (one flag per
// entry of judged, judgeExtraction's verdicts on archive), only the entries
// selected, and the count told at the end is of the files selected: the
// directories above them are made as they are needed, by the same rules.
// Extraction goes below the directory below names, "." by default.
void extractFiles(const File& f, const Archive& archive, Reporter& report,
                  const std::vector<Verdict>* judged = nullptr, const std::vector<bool>* selected = nullptr,
                  const std::string& below = ".");

}  // namespace dat::detail
