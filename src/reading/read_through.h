// What "t" and "p" do with a decoded archive: read files through, as "x"
// would read them, without making anything on disk. Nothing here prints:
// "t" tells its findings through a Reporter, "p" hands the bytes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/reporter.h"
#include "platform/platform.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"

namespace dat::detail {

// Takes one chunk of a file's bytes; false stops the reading.
using TakeBytes = std::function<bool(const uint8_t* bytes, size_t n)>;

// What reading a file through came to.
enum class Through { whole, unreadable, stopped };

// Reads e's bytes from the archive's data region a chunk at a time through
// buffer, descrambled, and hands each chunk to take. unreadable: the
// archive could not be read there (it changed, or the disk failed);
// stopped: take refused a chunk.
Through readThrough(const File& f, const Archive& archive, const Entry& e, std::vector<uint8_t>& buffer,
                    const TakeBytes& take);

// "t" on the entries of verdicts (judgeExtraction's on archive) that
// selected marks, or all when it is null: every refusal "x" would meet in
// an empty directory, and every file's bytes read through. Each file, and
// each directory "x" would refuse, is told through report as testing,
// then tested or notTested, named as "x" names it; testEnds tells the
// files tested and the problems found. Returns the problems.
uint32_t testEntries(const File& f, const Archive& archive, const std::vector<Verdict>& verdicts,
                     const std::vector<bool>* selected, Reporter& report);

}  // namespace dat::detail
