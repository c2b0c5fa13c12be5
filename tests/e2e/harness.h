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
//
// A run that takes longer than 20 s (times DATTOOL_TEST_TIME_FACTOR, which
// CI sets for valgrind and wine) is killed, with everything it started, and
// fails the test that ran it: a fault that hangs the tool cannot hang the
// suite.
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
// read into ToolRun::out; nowhere (the descriptor closed); or the file at
// a path, relative to the run's directory, opened for appending, with
// standard error as usual (file) or closed (fileWithoutStderr).
enum class Output { pipe, terminal, closed, file, fileWithoutStderr };

// Runs the program under test with args in cwd; argv[0] is "dattool"
// unless a wrapper starts it.
ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd);
// The same for a run that takes seconds of work (gigabytes written): it
// may take 120 s instead of 20 before it is killed.
ToolRun runSlowTool(const std::vector<std::string>& args, const std::string& cwd);
// The same with its standard output where `to` says.
ToolRun runToolTo(const std::vector<std::string>& args, const std::string& cwd, Output to,
                  const std::string& file = "");
// The same with the fault shim (fault_shim.cpp) preloaded, carrying out
// faults; Linux builds only.
ToolRun runWithFaults(const std::vector<std::string>& args, const std::string& cwd, const std::string& faults,
                      Output to = Output::pipe);
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
