// The program's commands, from a command line already split into words to
// the exit status. main, the tests that run the tool in-process and the fuzz
// targets all come through here, so they run one and the same flow.
#pragma once

#include <string>
#include <vector>

#include "report.h"

namespace dat::detail {

constexpr int statusFailed = -1;  // the shell sees 255

// Runs the command that args names: args[0] is the program's name, args[1]
// the command, args[2] the archive and for "c" the directories follow,
// which may be wildcard patterns.
// Prints the usage text when they do not suffice. Returns 0 or statusFailed;
// statusFailed too when standard output was closed or lost a write.
int runCommand(const std::vector<std::string>& args);

// "l" or "x" on the archive at path, told through out.
int readArchive(Printer& out, char command, const std::string& archive);

// "c": the archive at path from the directories in dirs, told through out.
int createArchive(Printer& out, const std::string& archive, const std::vector<std::string>& dirs);

}  // namespace dat::detail
