#include "reading/extraction.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "reading/toc_reader.h"

namespace {

// Archives made on Windows may use either separator.
bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Directories already seen to be real directories, not links. Nothing the
// walk does can turn one into a link (it never removes a directory), so
// each is looked at once however many files go into it.
std::unordered_set<std::string> verified;

std::string cacheKey(const std::string& dir) {
    std::string k = dir;
    std::replace(k.begin(), k.end(), '/', '\\');
    return k;
}

bool isLink(const std::string& dir) {
    std::string k = cacheKey(dir);
    if (verified.count(k)) return false;
    PathKind kind = pathKind(dir);
    if (kind == PathKind::directory) verified.insert(k);
    return kind == PathKind::link;
}

// True when a directory on the way to path is a symbolic link; with whole,
// path itself (a directory) counts as well.
bool passesLink(const std::string& path, bool whole) {
    size_t end = path.size();
    while (end > 0 && isSeparator(path[end - 1])) --end;
    for (size_t p = 1; p <= end; ++p) {
        bool cut = p == end ? whole : isSeparator(path[p]);
        // A prefix ending in a separator would be resolved through a link
        // at its end; the shorter prefix before it was checked already.
        if (!cut || isSeparator(path[p - 1])) continue;
        if (isLink(path.substr(0, p))) return true;
    }
    return false;
}

void walk(File& f, const std::vector<Entry>& list);

void failed() {
    std::puts("failed");
    runFailed = true;
}

// The stretch of the archive that was read last. File bytes lie back to back
// in the data region, so a run of small files costs one read between them;
// each file descrambles its own bytes in place, so from `raw` on the bytes
// are still as stored, and a file that starts before `raw` (an archive whose
// records overlap) has its bytes read again.
struct Window {
    uint64_t start = 0;
    uint64_t end = 0;
    uint64_t raw = 0;
};
Window window;

// Copies the size bytes at absolute offset at into out, through the window,
// so memory does not grow with the file.
bool copyOut(File& in, File& out, uint64_t at, uint32_t size, uint8_t scrambled) {
    uint8_t* buffer = transferBuffer();
    const uint64_t stop = at + size;
    while (at < stop) {
        if (at < window.raw || at >= window.end) {
            // Never past the data region's end, where the archive ends.
            const uint64_t regionEnd = uint64_t(tocSize) + root.size;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(transferSize, regionEnd - at));
            seekFile(in, at);
            if (!ReadData(in, buffer, n, 0)) {
                window = {};
                return false;
            }
            window = {at, at + n, at};
        }
        const size_t n = static_cast<size_t>(std::min(stop, window.end) - at);
        uint8_t* bytes = buffer + (at - window.start);
        if (scrambled) keyBlock(bytes, bytes, n, keyAt(at));
        window.raw = at + n;
        if (fileWrite(out, bytes, n) != n) return false;
        at += n;
    }
    return true;
}

void extractFile(File& f, const Entry& e) {
    std::string used;
    bool safe = safePath(e.name, used);
    std::printf("Extracting %s...", safe ? used.c_str() : e.name.c_str());
    if (!safe || used.empty() || passesLink(used, false)) return failed();
    // root.size is the data region's length; a record reaching past it
    // would read bytes that are not its own.
    if (uint64_t(e.offset) + e.size > root.size) {
        fileReplace(used);  // still left behind, empty
        return failed();
    }
    File out = fileReplace(used);
    if (!out) return failed();
    bool whole = copyOut(f, out, uint64_t(tocSize) + e.offset, e.size, e.scrambled);
    if (!fileClose(out) || !whole) return failed();
    std::puts("ok");
}

void extractDir(File& f, const Entry& e) {
    std::string used;
    if (!safePath(e.name, used)) {
        std::printf("Skipping %s: path leaves the current directory\n", e.name.c_str());
        runFailed = true;
    } else if (passesLink(used, true)) {
        std::printf("Skipping %s: path passes through a symbolic link\n", used.c_str());
        runFailed = true;
    } else if (!used.empty()) {  // empty: it named the current directory
        std::printf("Creating directory %s...\n", used.c_str());
        makeDirectory(used);  // it may exist already; a real failure shows in its files
    }
    // Each entry below is judged on its own path.
    walk(f, e.child);
}

void walk(File& f, const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        if (e.type == typeDirectory)
            extractDir(f, e);
        else if (e.type == typeFile)
            extractFile(f, e);
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

void printEntry(const Entry& e) { std::puts(e.name.c_str()); }

void extractFiles(File& f, const std::vector<Entry>& list) {
    window = {};  // what an earlier archive left there is not this one's
    walk(f, list);
}
