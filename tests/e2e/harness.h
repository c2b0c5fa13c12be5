// Runs the built dattool in a scratch directory and reads what it leaves.
//
// By default the tests run the Linux build next to them. Two environment
// variables point them at another build instead:
//   DATTOOL_EXE      the program to test, e.g. build-x86_64/dattool.exe
//   DATTOOL_WRAPPER  a program that runs it, e.g. /usr/lib/wine/wine64
// A Windows build writes its standard output in text mode; its CR LF line
// ends are turned into LF before the tests compare output.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ToolRun {
    std::string out;  // standard output, byte for byte but for CR LF (see above)
    std::string raw;  // standard output exactly as written
    std::string err;  // standard error; the tool never writes there
    int status = -1;  // exit status as the shell sees it
};

// Where the program's standard output goes: a pipe or a pseudo-terminal,
// read into ToolRun::out; nowhere (the descriptor closed); or the file at
// a path, relative to the run's directory, opened for appending.
enum class Output { pipe, terminal, closed, file };

// Runs the program under test with args in cwd; argv[0] is "dattool"
// unless a wrapper starts it.
ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd, Output to = Output::pipe,
                const std::string& file = "");
// The same with the fault shim (fault_shim.cpp) preloaded, carrying out
// faults; Linux builds only.
ToolRun runWithFaults(const std::vector<std::string>& args, const std::string& cwd, const std::string& faults,
                      Output to = Output::pipe);
// Runs the Linux build, whatever is under test.
ToolRun runNative(const std::vector<std::string>& args, const std::string& cwd);

// The program under test is a Windows build (its name ends in ".exe").
bool testingWindowsBuild();
// The program under test runs through DATTOOL_WRAPPER, where POSIX-only
// things (FIFOs, symbolic links, permission bits) do not carry over.
bool runsWrapped();

// A fresh directory removed with all its contents when the test ends.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& rel) const { return path + "/" + rel; }
};

void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);
bool exists(const std::string& path);

// Every directory and file below dir by relative path; directories map to
// "<dir>", files to their contents, links to "<link>". Makes two trees
// comparable in one assertion.
std::map<std::string, std::string> treeOf(const std::string& dir);

// Path of a committed sample archive under tests/data.
std::string dataFile(const std::string& name);
