#include "reading/extraction.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "reading/toc_reader.h"
#include "report.h"

namespace {

// Archives made on Windows may use either separator.
bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// What one walk has learnt of the disk, as a tree of path components, so
// checking a path costs one look-up per component however deep it lies.
// The walk never makes a link and never removes a directory, so what it
// learns holds for the rest of it: a directory stays one, a link stays in
// the way, and below a name that was missing or no directory nothing can be
// a link. Between two walks the disk may have changed: each starts afresh.
enum class Seen { directory, link, noLinkBelow };
struct SeenNode {
    Seen kind = Seen::directory;
    std::unordered_map<std::string, size_t> child;
};

// What one extraction keeps while it walks the tree.
struct Extraction {
    File& archive;
    std::vector<SeenNode> seen;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(transferSize);  // file bytes pass through here
};

// True when a directory on the way to path is a symbolic link; with whole,
// path itself (a directory) counts as well.
bool passesLink(Extraction& x, const std::string& path, bool whole) {
    std::vector<SeenNode>& seen = x.seen;
    if (seen.empty()) seen.emplace_back();  // the current directory
    size_t end = path.size();
    while (end > 0 && isSeparator(path[end - 1])) --end;
    size_t node = 0;
    for (size_t start = 0; start < end;) {
        size_t stop = start;
        while (stop < end && !isSeparator(path[stop])) ++stop;
        if (stop == end && !whole) break;  // the file itself
        auto found = seen[node].child.find(path.substr(start, stop - start));
        size_t next;
        if (found != seen[node].child.end()) {
            next = found->second;
        } else {
            PathKind kind = pathKind(path.substr(0, stop));
            Seen k = kind == PathKind::link        ? Seen::link
                     : kind == PathKind::directory ? Seen::directory
                                                   : Seen::noLinkBelow;
            next = seen.size();
            seen[node].child.emplace(path.substr(start, stop - start), next);
            seen.push_back(SeenNode{k, {}});
        }
        if (seen[next].kind == Seen::link) return true;
        if (seen[next].kind == Seen::noLinkBelow) return false;
        node = next;
        start = stop;
        while (start < end && isSeparator(path[start])) ++start;
    }
    return false;
}

void failed() { failure("failed"); }

// Copies size bytes at the archive's position into out, a chunk at a time,
// so memory does not grow with the file.
bool copyOut(Extraction& x, File& out, uint32_t size, uint8_t scrambled) {
    File& in = x.archive;
    uint8_t* buffer = x.buffer.data();
    while (size > 0) {
        size_t n = std::min<size_t>(size, transferSize);
        if (!ReadData(in, buffer, n, scrambled)) return false;
        if (fileWrite(out, buffer, n) != n) return false;
        size -= static_cast<uint32_t>(n);
    }
    return true;
}

void extractFile(Extraction& x, const Entry& e) {
    std::string used;
    bool safe = safePath(e.name, used);
    std::printf("Extracting %s...", safe ? used.c_str() : e.name.c_str());
    if (!safe || used.empty() || passesLink(x, used, false)) return failed();
    // root.size is the data region's length; a record reaching past it
    // would read bytes that are not its own.
    if (uint64_t(e.offset) + e.size > root.size) {
        fileReplace(used);  // still left behind, empty
        return failed();
    }
    seekFile(x.archive, uint64_t(tocSize) + e.offset);
    File out = fileReplace(used);
    if (!out) return failed();
    bool whole = copyOut(x, out, e.size, e.scrambled);
    if (!fileClose(out) || !whole) return failed();
    std::puts("ok");
}

void extractList(Extraction& x, const std::vector<Entry>& list);

void extractDir(Extraction& x, const Entry& e) {
    std::string used;
    if (!safePath(e.name, used)) {
        failure("Skipping %s: path leaves the current directory", e.name.c_str());
    } else if (passesLink(x, used, true)) {
        failure("Skipping %s: path passes through a symbolic link", used.c_str());
    } else if (!used.empty()) {  // empty: it named the current directory
        std::printf("Creating directory %s...\n", used.c_str());
        makeDirectory(used);  // it may exist already; a real failure shows in its files
    }
    // Each entry below is judged on its own path.
    extractList(x, e.child);
}

void extractList(Extraction& x, const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        if (e.type == typeDirectory)
            extractDir(x, e);
        else if (e.type == typeFile)
            extractFile(x, e);
    }
}

}  // namespace

bool safePath(const std::string& name, std::string& used) {
    size_t i = 0;
    for (;;) {
        while (i < name.size() && isSeparator(name[i])) ++i;
        bool drive = i + 1 < name.size() && isLetter(name[i]) && name[i + 1] == ':';
        bool up = name.compare(i, 2, "..") == 0 && (i + 2 == name.size() || isSeparator(name[i + 2]));
        if (!drive && !up) break;
        i += 2;  // both are two characters
    }
    used = name.substr(i);
    for (size_t start = 0; start < used.size();) {
        size_t stop = std::min(used.find_first_of("\\/", start), used.size());
        if (stop - start == 2 && used.compare(start, 2, "..") == 0) return false;
        start = stop + 1;
    }
    return true;
}

void printFiles(const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        if (e.type != typeFile && e.type != typeDirectory) continue;
        std::puts(e.name.c_str());
        if (e.type == typeDirectory) printFiles(e.child);
    }
}

void extractFiles(File& f, const std::vector<Entry>& list) {
    Extraction x{f, {}};
    extractList(x, list);
}
