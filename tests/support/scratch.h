// Scratch directories and file helpers shared by both test programs.
#pragma once

#include <map>
#include <string>
#include <vector>

// A fresh directory removed with all its contents when the test ends. It
// sits alone in a private parent, so "outside the scratch directory" is a
// place the tests can inspect too.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& rel) const { return path + "/" + rel; }
};

// Plain helpers without GoogleTest, so that the fuzz targets share them;
// they throw std::runtime_error where they cannot do their work.
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);
// Anything at path, a dangling link included.
bool exists(const std::string& path);
bool isLink(const std::string& path);

// Every directory and file below dir by relative path; directories map to
// "<dir>", files to their contents, links to "<link>", anything else to
// "<other>". Makes two trees
// comparable in one assertion.
std::map<std::string, std::string> treeOf(const std::string& dir);

// The names in the scratch directory's private parent: "work" alone unless
// something escaped.
std::vector<std::string> besideScratch(const ScratchDir& dir);

// Removes everything inside dir, keeping dir itself; throws when
// something stays.
void emptyDirectory(const std::string& dir);

// Path of a committed file under tests/data.
std::string dataFile(const std::string& name);
// Names of the sample archives under tests/data, without ".dat", sorted.
std::vector<std::string> sampleStems();
// A test's name made of a data file's name: anything but letters and
// digits becomes "_", as GoogleTest requires.
std::string testNameFor(std::string name);
