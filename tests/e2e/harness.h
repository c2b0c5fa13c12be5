// Runs the built dattool in a scratch directory and reads what it leaves.
#pragma once

#include <map>
#include <string>
#include <vector>

struct ToolRun {
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error; the tool never writes there
    int status = -1;  // exit status as the shell sees it
};

// Runs dattool with args in cwd; argv[0] is "dattool".
ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd);

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
