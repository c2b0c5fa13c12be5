// Changes an existing archive into the archive "c" would write of the
// changed tree, without rebuilding it: every file that stays is copied from
// the old archive as it is stored there, and only what is added is read
// from disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/keyed_stream.h"
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
// the tree below a.root, where "c" would have stored it: a directory with
// everything below it as the scan finds it, or a regular file, in place of
// an entry of the same path. The path's first name is a top-level entry,
// unless a top-level entry's whole name starts the path; missing
// directories on the way are added. False, with why, when nothing can be
// stored: nothing is changed then. Items the scan leaves out are told to
// report.
bool addPath(Archive& a, const std::string& path, const std::vector<FileId>& own, Reporter& report,
             std::string& why);

// Removes the entries selected (by their verdicts), each directory with
// everything below it.
void removeSelected(Archive& a, const std::vector<Verdict>& verdicts, const std::vector<bool>& selected);

// Where a file of the changed tree gets its bytes: the old archive at
// offset, stored scrambled or not, or the disk.
struct Source {
    uint32_t offset = 0;
    uint8_t scrambled = 0;
    bool disk = false;
};

// Plans the changed tree as "c" plans one: counts, offsets, sizes and
// flags. Returns each file's source, in stored order; the length of the
// archive it makes is then archiveLength(a.root).
std::vector<Source> planChange(Archive& a);

// Writes the changed archive to f from offset 0 on: the records, then each
// file, from the old archive (old, its data region at oldTocSize) or from
// disk. A file that keeps its place in the key's 256-byte cycle is copied
// as stored, by the kernel where it can; one that moves by another amount
// is keyed again in blocks. False as soon as the archive takes fewer bytes
// than handed to it, or, with why set, when the old archive cannot be read
// where a file lies.
bool writeChange(KeyedFile& f, const Archive& a, const std::vector<Source>& sources, const File& old,
                 uint32_t oldTocSize, const std::vector<FileId>& own, Reporter& report, std::string& why);

}  // namespace dat::detail
