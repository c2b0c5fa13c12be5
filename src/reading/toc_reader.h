// Turns an archive's header and table of contents into the entry tree below
// `root`, each entry's name already joined into its path. The reader only
// decodes; what may be written to disk is decided by extraction.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "platform/platform.h"

extern uint32_t tocSize;  // absolute offset of the data region's first byte
extern uint32_t files;    // file records decoded, at any depth

enum class Toc { ok, notArchive, damaged };

// Reads the header and the whole TOC of an archive opened for reading and
// builds the tree. notArchive: header unreadable, wrong magic or a root
// that is no directory; the tree stays empty. damaged: damage says why, and
// the entries decoded before the damage stay in the tree.
Toc parseFile(File& f, std::string& damage);

// A descrambled TOC block: the bytes from offset 5 up to tocSize.
struct TocSpan {
    const uint8_t* start;
    const uint8_t* end;
};

// Decodes the root record at the start of the block and everything below
// it. The TOC must end exactly at the end of the block.
Toc readTOC(const TocSpan& toc, std::string& damage);
