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

// What one scan keeps while it walks the disk; one serves every directory
// of an archive.
struct Scan {
    Scan(Reporter& r, std::vector<FileId> files);
    Reporter& report;         // told of every item left out
    std::vector<FileId> own;  // the files being written, never stored in themselves
    // Identities of the directories from the top-level one down to the one
    // being scanned: a link to any of them would make the scan endless.
    // Its length is the depth of the directory being scanned.
    std::vector<FileId> path;
    // Length of the archive planned so far. Links are followed, so a tree
    // can fan out into more copies than any disk holds; the scan stops
    // once the archive is too large to be written anyway.
    uint64_t length;
};

// Whether the archive planned so far is too large to be written.
bool tooLarge(const Scan& scan);
// Counts e in the archive's length.
void plan(Scan& scan, const Entry& e);

// Appends dir to list as a directory named exactly as typed, as c stores
// its arguments, filled by a scan of it; false, after telling why, for a
// name extraction would refuse, or when the archive is too large already.
bool addArgument(Scan& scan, std::vector<Entry>& list, const std::string& dir);

// Whether dir, a top-level name as typed, is one extraction would refuse;
// told as a skip.
bool topNameRefused(Reporter& report, const std::string& dir);

// Fills the directory entry e with what the directory on disk holds, in
// name order, subdirectories scanned through.
void scanInto(Scan& scan, Entry& e, const std::string& directory);

// Whether a stored name is one extraction would refuse (a backslash, too
// long, reserved on this system) or makes a path too long (path as it
// would be extracted; dir: a directory's); told as a skip of path.
bool nameRefused(Reporter& report, const std::string& name, const std::string& path, bool dir);

// Appends one top-level directory per argument to root's child list, each
// named exactly as typed and filled by addDir. Items that are files being
// written (the identities in `own`: the archive, then its temporary file)
// are left out, the archive told so. Sets root.count to the number of
// entries stored. Stops as soon as the archive planned so far reaches
// 4 GiB, leaving a tree that archiveLength shows too large.
void buildTree(Entry& root, const std::vector<std::string>& dirs, const std::vector<FileId>& own,
               Reporter& report);

// The order of items within a directory: bytes compared with a-z taken as
// A-Z, then plain bytes for names equal that way.
bool nameBefore(const std::string& a, const std::string& b);

}  // namespace dat::detail
