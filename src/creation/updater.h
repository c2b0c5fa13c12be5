// Changes the tree of an existing archive into the tree "c" would make of
// the changed disk: what the library's writer, over the old archive, then
// writes as "c" writes it, copying every file that stays from the old
// archive and reading only what is added from disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/reporter.h"
#include "platform/platform.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"

namespace dat::detail {

// Why an archive, decoded whole from a file of `length` bytes, cannot be
// changed; empty when it can. It must be one "c" could have written: its
// entries in "c"'s order, each path once, every byte where the records say,
// and nothing "x" refuses. Then the changed archive is, byte for byte, what
// "c" writes of the changed tree. The tree is planned again on the way,
// which leaves one that passes as it was.
std::string unchangeable(Archive& a, uint64_t length);

// Puts what stands at path on disk, relative to the current directory, into
// the tree below root, where "c" would have stored it: a directory with
// everything below it as the scan finds it, or a regular file, in place of
// an entry of the same path. The path's first name is a top-level entry,
// unless a top-level entry's whole name starts the path; missing
// directories on the way are added. False, with why, when nothing can be
// stored: nothing is changed then. Items the scan leaves out are told to
// report.
bool addPath(Entry& root, const std::string& path, const std::vector<FileId>& own, Reporter& report,
             std::string& why);

// Removes the entries selected (by their verdicts), each directory with
// everything below it.
void removeSelected(Archive& a, const std::vector<Verdict>& verdicts, const std::vector<bool>& selected);

}  // namespace dat::detail
