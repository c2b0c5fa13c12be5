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
    // Bytes of the data region the root's size claims that the archive
    // lacks: a cut archive, or a root that claims too much, which cannot be
    // told apart. Found only when the start is taken from the records.
    uint32_t cut = 0;
};

// Where the data region starts: the archive's length less the root's size,
// as every reader of the format takes it, or where the records end, found
// by walking the child counts from the root. Only the second reads a cut
// archive's whole TOC, and tells how much of its data region is missing.
enum class Start { fromLength, fromRecords };

// Reads the header and the whole TOC of an archive opened for reading, each
// by its absolute offset, and builds the tree.
Archive parseFile(const File& f, Start start = Start::fromLength);

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
