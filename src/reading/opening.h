// The one way an archive is opened, by dattool and by the library alike, in
// two steps so that dattool can say how far it got between them: the file is
// opened and classified, then its table of contents decoded. Each step gives
// its result, or the kind of failure and the text dattool prints for it.
#pragma once

#include <string>

#include "platform/platform.h"
#include "reading/toc_reader.h"

namespace dat::detail {

enum class Failure {
    none,
    cannotOpen,  // the system's reason ("No such file or directory")
    notRegular,  // "not a regular file": a pipe or a device has no length to go by
    notArchive,  // "Not a DAT file"
    damaged,     // "Damaged archive: <what>"
    noMemory,    // "Archive does not fit in memory"
};

// The archive file, opened for reading and found to be a regular file.
struct Opened {
    File file;
    Failure failure = Failure::none;
    std::string why;       // the text for failure
    bool missing = false;  // cannotOpen: nothing stands at the path
};

// shared: the archive is to be replaced while it is read (fileOpenReadShared).
Opened openArchive(const std::string& path, bool shared = false);

// What the archive's table of contents holds. A damaged archive keeps what
// was decoded before the damage, which "l" lists; for any other failure the
// tree is empty.
struct Decoded {
    Archive archive;
    Failure failure = Failure::none;
    std::string why;
};

// Decodes the table of contents of an archive openArchive opened. Memory
// that runs out is a failure like the others, the tree freed first.
Decoded decodeArchive(Opened& opened);

}  // namespace dat::detail
