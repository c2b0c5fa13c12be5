// What both fuzz targets share: one scratch directory made once and
// emptied between inputs, and a check that nothing appeared outside it.
// Files and trees are written and compared with the tests' own helpers
// (tests/support/scratch.h).
#pragma once

#include <string>

#include "support/scratch.h"

// The layout, made once under $TMPDIR (or /tmp):
//   base/                  holds only "in.dat" and "a"
//   base/a/b/work          the current directory while an input runs
// An entry escaping work by a few ".." would land in b, a or base; one
// escaping by an absolute path would land in "/". Both are checked.
struct Scratch {
    std::string base;
    std::string work;     // absolute
    std::string archive;  // base/in.dat, outside work
};

// Creates the layout, moves into work and sends stdout to /dev/null; the
// layout is removed again when the program exits normally. Aborts when it
// cannot. Nothing else on the machine should create entries in "/" while a
// target runs: the check would take them for the target's.
const Scratch& scratchSetUp();

// Removes everything inside work, keeping work itself.
void scratchClear();

// Aborts, naming the intruder, when anything besides the layout exists in
// base, a, b or "/" (compared with "/" as it was at set-up).
void scratchCheckOutside();
