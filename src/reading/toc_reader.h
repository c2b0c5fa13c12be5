// Turns an archive's header and table of contents into a decoded archive: the
// entry tree below `root`, each entry keeping its own stored name. The reader
// only decodes; what may be written to disk the verdicts decide
// (reading/verdicts.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "platform/platform.h"

namespace dat::detail {

enum class Toc { ok, notArchive, damaged };

// Everything the reader learnt of one archive. It belongs to whoever asked
// for it: nothing of it is kept anywhere else, so any number of archives may
// be open at once.
struct Archive {
    Entry root{{typeDirectory, {}, 0, 0, 0, 0}, {}};  // root.size: the data region's length
    uint32_t tocSize = 0;                             // absolute offset of the data region's first byte
    uint32_t files = 0;                               // file records decoded, at any depth
    // notArchive: header unreadable, wrong magic or a root that is no
    // directory; the tree is empty. damaged: damage says why, and the
    // entries decoded before the damage stay in the tree.
    Toc status = Toc::notArchive;
    std::string damage;
};

// Reads the header and the whole TOC of an archive opened for reading, each
// by its absolute offset, and builds the tree.
Archive parseFile(const File& f);

// A descrambled TOC block: the bytes from offset 5 up to tocSize.
struct TocSpan {
    const uint8_t* start;
    const uint8_t* end;
};

// Decodes the root record at the start of the block and everything below
// it into archive (root, files, damage); returns what it sets
// archive.status to. The TOC must end exactly at the end of the block.
Toc readTOC(const TocSpan& toc, Archive& archive);

}  // namespace dat::detail
