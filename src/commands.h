// The program's commands, from a command line already split into words to
// the exit status. main, the tests that run the tool in-process and the fuzz
// targets all come through here, so they run one and the same flow.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "report.h"

namespace dat::detail {

constexpr int statusFailed = -1;  // the shell sees 255

// Runs the command that args names: args[0] is the program's name, args[1]
// the command, then the archive, the members of "l", "x" and "d", the
// directories of "c" or the paths of "u" (which may be wildcard
// patterns), and options
// anywhere among them (see options.h).
// Prints the usage text when they do not suffice. Returns 0 or statusFailed;
// statusFailed too when standard output was closed or lost a write.
int runCommand(const std::vector<std::string>& args);

// "l" or "x" as options ask, told through out.
int readArchive(Printer& out, const Options& options);

// "c" as options ask, told through out.
int createArchive(Printer& out, const Options& options);

// "u" or "d" as options ask, told through out: the archive changed into
// the one "c" would write of the changed tree, put in place once complete.
int changeArchive(Printer& out, const Options& options);

}  // namespace dat::detail
