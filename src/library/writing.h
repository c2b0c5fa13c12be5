// The library's writer as dattool's "c" drives it: told through dattool's
// reporter, keeping what "c" has always kept, and with the archive's
// writing and its putting in place apart, so that "c" can leave the
// directory -C entered in between.
#pragma once

#include <string>
#include <vector>

#include "archive/reporter.h"
#include "dat/archive.hpp"
#include "reading/members.h"

namespace dat::detail {

// How far an update's writer came with the old archive when it failed to
// open: not opened at all, opened but refused (damaged, or not as "c"
// writes), or taken, the failure being its target's, told already.
enum class OldArchive : uint8_t { unopened, refused, taken };

struct WriterAccess {
    // A writer told through report. Unlike the library's own, it keeps an
    // archive whose source files failed at their turn (zeros in their
    // place, as told), as "c" always has.
    static Writer open(const std::string& path, Reporter& report);
    // The same over the archive at path, as "u" and "d" change it.
    static Writer update(const std::string& path, Reporter& report, OldArchive& old);
    // Puts what stands at path on disk, relative to the current directory,
    // into the tree where "u" stores it; false, with why, when nothing can
    // be stored.
    static bool addPath(Writer& w, const std::string& path, std::string& why);
    // Removes what members select; the stored paths of the entries
    // removed, a directory's without what lies below it.
    static std::vector<std::string> remove(Writer& w, Members& members);
    // Plans and writes the archive to its temporary file (or in place).
    // damaged, with the writer's error saying why, when an update's old
    // archive cannot be read where a file lies: nothing is put in place.
    static Status write(Writer& w);
    // How many top-level arguments added as c adds them could be read.
    static size_t argumentsRead(const Writer& w);
    // Puts the archive written in place, or leaves nothing of one not
    // written.
    static Status place(Writer& w);
};

}  // namespace dat::detail
