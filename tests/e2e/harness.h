// Runs the built dattool in a scratch directory and reads what it leaves.
// The end-to-end tests see the tool only through this: its command line,
// its output, its exit status and the files it leaves.
//
// By default the tests run the Linux build next to them. Two environment
// variables point them at another build instead:
//   DATTOOL_EXE      the program to test, e.g. build-x86_64/dattool.exe
//   DATTOOL_WRAPPER  a program that runs it, e.g. /usr/lib/wine/wine64
// A Windows build writes its standard output and standard error in text
// mode; their CR LF line ends are turned into LF before the tests compare.
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
    std::string err;  // standard error: "dattool: <path>: <reason>" per failure
    int status = -1;  // exit status as the shell sees it
};

// Where the program's standard output goes: a pipe or a pseudo-terminal,
// read into ToolRun::out; nowhere (the descriptor closed); the file at a
// path, relative to the run's directory, opened for appending (and for
// reading, so a FIFO opens at once), with standard error as usual (file) or
// closed (fileWithoutStderr); or a pipe whose reader has gone, as after
// "| head -1", where every write fails. merged: standard output and
// standard error share one pipe, read into ToolRun::out, as with 2>&1.
// errorsOnTerminal: standard output is a pipe, standard error a
// pseudo-terminal, read into ToolRun::err. Elsewhere standard error goes
// to a file.
enum class Output { pipe, terminal, closed, file, fileWithoutStderr, brokenPipe, merged, errorsOnTerminal };

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
// The same as an unprivileged user (nobody) when the tests run as root;
// Linux builds only, and not under valgrind, which cannot follow the
// change of user (see canRunUnprivileged).
ToolRun runUnprivileged(const std::vector<std::string>& args, const std::string& cwd);
// Whether runUnprivileged runs the tool as a user that permissions stop:
// not under a wrapper, and as root only where it can drop to nobody.
bool canRunUnprivileged();
// Runs exe, a copy of the program placed where that user can reach it,
// as the unprivileged user nobody, with args in cwd; for permissions that
// root would pass. Linux builds only, started as root; a status of 126
// means the user could not be taken on.
ToolRun runAsNobody(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd);
// Runs the Linux build, whatever is under test.
ToolRun runNative(const std::vector<std::string>& args, const std::string& cwd);
// Runs another build, or another program, through wrapper unless that is
// empty, the same way, with its standard output where `to` says.
ToolRun runProgram(const std::string& exe, const std::string& wrapper, const std::vector<std::string>& args,
                   const std::string& cwd, Output to = Output::pipe);

// One line of standard error as the tool writes it.
std::string errLine(const std::string& path, const std::string& reason);
// The same for a reason in the system's own words: a Windows build words
// them in the user's language, so there only the path is checked, and that
// there is a reason (see errorsMatch).
std::string sysLine(const std::string& path, const std::string& reason);
// Whether standard error is what want says, line by line.
bool errorsMatch(const std::string& err, const std::string& want);

// The absolute path of the program under test.
const std::string& programUnderTest();
// The program under test is a Windows build (its name ends in ".exe").
bool testingWindowsBuild();
// The program under test runs through DATTOOL_WRAPPER, where POSIX-only
// things (FIFOs, symbolic links, permission bits) do not carry over.
bool runsWrapped();
