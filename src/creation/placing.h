// Where c and the library's writer put an archive: a temporary file beside
// the file its path leads to, moved there only once complete, so that what
// stood there stays until then; written in place only where the system
// leaves no other way, said so first.
#pragma once

#include <string>

#include "archive/reporter.h"
#include "platform/platform.h"

namespace dat::detail {

// Where an archive is written until it is complete: a temporary file
// beside the file the archive's path leads to, links resolved, so that a
// link stays a link. Its file stays closed when the archive is written in
// place.
struct Staging {
    Dir dir;
    std::string name;  // of the file the path leads to, in dir
    std::string temp;  // of the temporary file, in dir
    File file;
};

// What an archive is written to, and what stood at its path.
struct Target {
    File old;  // the archive there, or a new one written in place
    Staging staged;
    bool missing = false;  // nothing stood at the path
    bool made = false;     // written in place under a name this run made
    bool staging = false;  // written to staged.file
};

// Opens what the archive at archive is written to; false, the failure
// told, when there is nothing. The file to write is t.staged.file when
// t.staging, else t.old.
// A changed archive (inPlace false) is read while it is written: it is
// written only beside the old one.
bool openTarget(Reporter& report, const std::string& archive, Target& t, bool inPlace = true);

// Leaves nothing of an archive not written but what stood there before;
// file is the one it was written to.
void discard(Reporter& report, const std::string& archive, Target& t, File& file);

// Closes file, the archive written whole or not, and puts a whole one in
// place; a failure is told.
void finish(Reporter& report, const std::string& archive, Target& t, File& file, bool written);

}  // namespace dat::detail
