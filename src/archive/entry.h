// The in-memory tree of an archive's entries, shared by every command.
#pragma once

#include <vector>

#include "archive/format.h"

namespace dat::detail {

// An entry is its record, as the reader decoded it or the writer encodes
// it, with the entries below it. type is typeFile or typeDirectory: a read
// archive keeps no others. name is the entry's own, as stored up to any
// zero byte, without the parents' names: the walks join paths as they go
// down, in one buffer, so a deep tree costs memory in proportion to its
// records and not to the lengths of its paths. offset is relative to the
// data region; a directory's size is the bytes of all files below it, its
// count its direct children.
struct Entry : Record {
    std::vector<Entry> child;  // in sibling order; walks are preorder
};

}  // namespace dat::detail
