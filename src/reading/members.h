// The members named on the command line of "l" and "x": which entries of an
// archive they select. A member is a stored path or a pattern matched
// against the whole stored path, and a directory selects everything below
// it. Nothing here touches the disk or prints.
#pragma once

#include <string>
#include <vector>

#include "reading/verdicts.h"

namespace dat::detail {

// The members as typed, and whether each has selected an entry yet.
struct Members {
    std::vector<std::string> names;
    std::vector<bool> found;
};

Members membersOf(const std::vector<std::string>& names);

// Whether member names path: the same bytes, or a pattern that matches the
// whole of it. "/" and "\\" are one separator; "*" matches any bytes and
// "?" any one byte, separators included; "[...]" matches one byte of a
// set ("a-z" a range, "!" or "^" first: any byte not in it, "]" first: a
// "]" in it), and a "[" that no "]" closes is itself. Case counts.
// Trailing separators of either side count for nothing, so "data",
// "data/" and "data\\" all name the directory listed as "data\\".
bool memberMatches(const std::string& member, const std::string& path);

// The stored path of each verdict in turn, as "l" lists it, built as a walk
// in stored order goes down and up: a deep tree costs no more per entry
// than the entry's own name.
struct StoredPaths {
    std::string path;
    // The directories from the top down to the entry at hand: their
    // verdicts and where each one's path ends.
    std::vector<std::pair<uint32_t, size_t>> above;
};
// The stored path of verdicts[i]; i must follow the last one asked for.
const std::string& nextStoredPath(StoredPaths& walk, const std::vector<Verdict>& verdicts, size_t i);

// Which verdicts the members select, in stored order: those whose stored
// path a member names, and everything below a selected directory. Marks
// each member that names any entry.
std::vector<bool> selectedBy(Members& members, const std::vector<Verdict>& verdicts);

}  // namespace dat::detail
