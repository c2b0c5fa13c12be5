// What a command line asks for: the command, the archive, the names after
// it and the options, which may stand anywhere after the command word.
// Reading it touches nothing; runCommand acts on the result.
#pragma once

#include <string>
#include <vector>

namespace dat::detail {

enum class Ask { run, help, version, wrong };

struct Options {
    Ask ask = Ask::run;
    char command = 0;  // 'c', 'l', 'x', 'u' or 'd': the first byte of the command word
    std::string archive;
    // Members for "l", "x" and "d", directories for "c", paths for "u".
    std::vector<std::string> names;
    std::string directory;  // -C; empty when not given
    bool quiet = false;     // -q
    bool verbose = false;   // -v
    // Ask::wrong: the argument at fault (or "command line") and why, for
    // the line on standard error after the usage text.
    std::string what;
    std::string why;
};

// args[0] is the program's name, args[1] the command word.
Options readOptions(const std::vector<std::string>& args);

// What --help prints: every command and option, an example of each
// command and where the manual is.
const char* helpText();

}  // namespace dat::detail
