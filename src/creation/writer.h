// Writes a planned tree as an archive, strictly front to back: magic, every
// record from root down, then the bytes of every file in the same order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/keyed_stream.h"
#include "archive/reporter.h"
#include "platform/platform.h"

namespace dat::detail {

// Writes the whole archive for root to f from offset 0 on. False
// as soon as the archive takes fewer bytes than handed to it; problems with
// a source file are told and written around instead. A source that turns
// out to be one of the files in `own` (the archive, its temporary file) is
// never read.
bool createFile(KeyedFile& f, const Entry& root, const std::vector<FileId>& own, Reporter& report);

// Copies the file e from path, exactly e.size bytes, whatever has become of
// it since the scan: the record already promises that many at e.offset.
// buf holds transferSize bytes. False when the archive took fewer bytes;
// a source that fell short or is one of `own` is told and filled with zeros.
bool storeFile(KeyedFile& f, uint8_t* buf, const Entry& e, const std::string& path,
               const std::vector<FileId>& own, Reporter& report);

}  // namespace dat::detail
