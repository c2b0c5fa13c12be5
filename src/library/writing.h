// The library's writer as dattool's "c" drives it: told through dattool's
// reporter, keeping what "c" has always kept, and with the archive's
// writing and its putting in place apart, so that "c" can leave the
// directory -C entered in between.
#pragma once

#include <string>

#include "archive/reporter.h"
#include "dat/archive.hpp"

namespace dat::detail {

struct WriterAccess {
    // A writer told through report. Unlike the library's own, it keeps an
    // archive whose source files failed at their turn (zeros in their
    // place, as told), as "c" always has.
    static Writer open(const std::string& path, Reporter& report);
    // Plans and writes the archive to its temporary file (or in place).
    static Status write(Writer& w);
    // Puts the archive written in place, or leaves nothing of one not
    // written.
    static Status place(Writer& w);
};

}  // namespace dat::detail
