// Runs the built dattool in a scratch directory and reads what it leaves.
// The end-to-end tests see the tool only through this: its command line,
// its output, its exit status and the files it leaves.
//
// By default the tests run the Linux build next to them. Two environment
// variables point them at another build instead:
//   DATTOOL_EXE      the program to test, e.g. build-x86_64/dattool.exe
//   DATTOOL_WRAPPER  a program that runs it, e.g. /usr/lib/wine/wine64
// A Windows build writes its standard output in text mode; its CR LF line
// ends are turned into LF before the tests compare output.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

struct ToolRun {
    std::string out;  // standard output, byte for byte but for CR LF (see above)
    std::string raw;  // standard output exactly as written
    std::string err;  // standard error: only the refusal of an archive that is standard output
    int status = -1;  // exit status as the shell sees it
};

// Where the program's standard output goes: a pipe or a pseudo-terminal,
// read into ToolRun::out; nowhere (the descriptor closed); the file at a
// path, relative to the run's directory, opened for appending; or a pipe
// whose reader has gone, as after "| head -1", where every write fails.
enum class Output { pipe, terminal, closed, file, brokenPipe };

// Runs the program under test with args in cwd; argv[0] is "dattool"
// unless a wrapper starts it.
ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd);
// The same with its standard output where `to` says.
ToolRun runToolTo(const std::vector<std::string>& args, const std::string& cwd, Output to,
                  const std::string& file = "");
// The same with the fault shim (fault_shim.cpp) preloaded, carrying out
// faults; Linux builds only.
ToolRun runWithFaults(const std::vector<std::string>& args, const std::string& cwd, const std::string& faults,
                      Output to = Output::pipe);
// Runs exe, a copy of the program placed where that user can reach it,
// as the unprivileged user nobody, with args in cwd; for permissions that
// root would pass. Linux builds only, started as root; a status of 126
// means the user could not be taken on.
ToolRun runAsNobody(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd);
// Runs the Linux build, whatever is under test.
ToolRun runNative(const std::vector<std::string>& args, const std::string& cwd);
// Runs another build, through wrapper unless that is empty, the same way.
ToolRun runProgram(const std::string& exe, const std::string& wrapper, const std::vector<std::string>& args,
                   const std::string& cwd);

// The absolute path of the program under test.
const std::string& programUnderTest();
// The program under test is a Windows build (its name ends in ".exe").
bool testingWindowsBuild();
// The program under test runs through DATTOOL_WRAPPER, where POSIX-only
// things (FIFOs, symbolic links, permission bits) do not carry over.
bool runsWrapped();
