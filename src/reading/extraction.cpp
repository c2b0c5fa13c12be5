#include "reading/extraction.h"

#include <algorithm>
#include <cstdio>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "reading/toc_reader.h"
#include "report.h"

namespace {

// Archives made on Windows may use either separator.
bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Calls found(start, length) for each name of path between separators
// until it returns true; says whether it did.
template <typename Found>
bool anyName(const std::string& path, Found found) {
    for (size_t start = 0; start < path.size();) {
        size_t stop = start;
        while (stop < path.size() && !isSeparator(path[stop])) ++stop;
        if (found(start, stop - start)) return true;
        start = stop + 1;
    }
    return false;
}

// Appends the names of a relative path, empty ones left out.
void splitPath(const std::string& path, std::vector<std::string>& names) {
    anyName(path, [&](size_t start, size_t length) {
        if (length > 0) names.push_back(path.substr(start, length));
        return false;
    });
}

// Whether a ".." part appears anywhere in path.
bool hasUp(const std::string& path) {
    return anyName(
        path, [&](size_t start, size_t length) { return length == 2 && path.compare(start, 2, "..") == 0; });
}

// Why a directory could not be reached.
enum class Reach { ok, link, reserved, blocked };

// What one extraction keeps while it walks the tree. Every directory is
// reached from the current directory one name at a time, each opened
// relative to the handle of the one above without following a link, and
// files are made relative to their directory's handle. The handles of the
// current directory's path stay held, so each entry costs one open at most.
struct Extraction {
    explicit Extraction(File& f) : archive(f) {}
    File& archive;
    std::vector<uint8_t> buffer = std::vector<uint8_t>(transferSize);  // file bytes pass through here
    Dir base = dirAt(".");
    // Names from the current directory down to where the walk stands, and
    // the handles of as many of them as have been reached. A handle given
    // back for want of handles is opened again from the one above it.
    std::vector<std::string> want;
    std::vector<Dir> held;
    std::string joined;   // the stored path, as listed
    std::string used;     // the path written to, below the current directory
    bool unsafe = false;  // the path climbs out: everything below is refused
    std::string why;      // why the last directory or file was not made
};

const Dir& parentOf(const Extraction& x, size_t level) {
    return level == 0 ? x.base : x.held[level - 1];
}

// Gives back the shallowest handle still open, keeping the parent of level
// `keep`; false when there is none to give. Handles are given back from the
// shallowest on, so the ones still open always end the list.
bool giveBack(Extraction& x, size_t keep) {
    for (size_t i = 0; i + 1 < keep && i < x.held.size(); ++i) {
        if (x.held[i]) {
            dirClose(x.held[i]);
            return true;
        }
    }
    return false;
}

// Opens want[level] inside its parent, which is open; makes it first when
// missing and make is set.
Reach open(Extraction& x, size_t level, bool make) {
    for (bool made = false;;) {
        Dir d;
        switch (dirOpen(parentOf(x, level), x.want[level], d)) {
            case Step::opened:
                if (level < x.held.size())
                    x.held[level] = std::move(d);
                else
                    x.held.push_back(std::move(d));
                return Reach::ok;
            case Step::exhausted:
                x.why = lastError();
                if (!giveBack(x, level)) return Reach::blocked;
                continue;
            case Step::missing:
                if (made) return Reach::blocked;  // why: from the make
                x.why = lastError();
                if (!make) return Reach::blocked;
                made = true;
                // Someone else may make it meanwhile: the open decides.
                if (!dirMake(parentOf(x, level), x.want[level])) x.why = lastError();
                continue;
            case Step::link:
                return Reach::link;
            case Step::notDirectory:
                x.why = "a file stands in the way";
                return Reach::blocked;
            case Step::failed:
                x.why = lastError();
                return Reach::blocked;
        }
    }
}

// Opens, and makes where missing, every name of want not yet reached. When
// the deepest handle held was given back, every handle was, and the path is
// opened again from the current directory, name by name: as safe as the
// first time, since no name is followed if it has become a link.
Reach reach(Extraction& x) {
    size_t level = x.held.empty() || x.held.back() ? x.held.size() : 0;
    for (; level < x.want.size(); ++level) {
        const bool again = level < x.held.size();
        if (!again && !nameAllowed(x.want[level])) return Reach::reserved;
        const Reach r = open(x, level, !again);
        if (r != Reach::ok) {
            x.held.resize(level);
            return r;
        }
    }
    return Reach::ok;
}

// Leaves the names past n.
void leave(Extraction& x, size_t n) {
    x.want.resize(n);
    if (x.held.size() > n) x.held.resize(n);
}

// "failed" completes the file's line; standard error says where and why.
void failed(const Extraction& x, const std::string& why) {
    failure(x.unsafe ? x.joined : x.used, why, "failed");
}

// Why a directory could not be reached, in words.
std::string reason(const Extraction& x, Reach r) {
    switch (r) {
        case Reach::link:
            return "path passes through a symbolic link";
        case Reach::reserved:
            return "name is reserved on Windows";
        case Reach::ok:
        case Reach::blocked:
            break;
    }
    return x.why;
}

// Copies size bytes at the archive's position into out, a chunk at a time,
// so memory does not grow with the file.
bool copyOut(Extraction& x, File& out, uint32_t size, uint8_t scrambled) {
    uint8_t* buffer = x.buffer.data();
    while (size > 0) {
        size_t n = std::min<size_t>(size, transferSize);
        if (!ReadData(x.archive, buffer, n, scrambled)) {
            // Short or failed alike: the archive changed since it was checked.
            x.why = "the archive cannot be read there";
            return false;
        }
        if (fileWrite(out, buffer, n) != n) {
            x.why = lastError();
            return false;
        }
        size -= static_cast<uint32_t>(n);
        progress();
    }
    return true;
}

// Copies the file's bytes into out and closes it; false when any of it
// failed.
bool fill(Extraction& x, File& out, const Entry& e) {
    seekFile(x.archive, uint64_t(tocSize) + e.offset);
    const bool whole = copyOut(x, out, e.size, e.scrambled);
    const bool closed = fileClose(out);
    if (whole && !closed) x.why = lastError();
    return closed && whole;
}

// Writes the file name in dir, so that a file that fails never takes the
// place of what stood there. A free name is written directly and removed
// again if the file fails. Where something else stands (a file, a link, a
// FIFO), the new file is written under a temporary name beside it and put
// in its place only once complete: the old one stays until then, and a
// link is replaced itself, never written through. A directory stays.
bool writeOut(Extraction& x, const Dir& dir, const std::string& name, const Entry& e) {
    bool taken = false;
    File out = fileCreateIn(dir, name, taken);
    // Out of handles, perhaps: one given back lets the file be made.
    if (!out && !taken && giveBack(x, x.held.size())) out = fileCreateIn(dir, name, taken);
    if (!out) x.why = lastError();
    if (out) {
        removeOnSignal(&dir, name);
        const bool ok = fill(x, out, e);
        if (!ok) removeIn(dir, name);
        removeOnSignal(nullptr, "");
        return ok;
    }
    if (!taken) return false;
    if (isDirectoryIn(dir, name)) {
        x.why = "a directory stands in the way";
        return false;
    }
    std::string temp;
    out = tempFileIn(dir, name, temp);
    if (!out && giveBack(x, x.held.size())) out = tempFileIn(dir, name, temp);
    if (!out) {
        x.why = lastError();
        return false;
    }
    removeOnSignal(&dir, temp);
    const bool filled = fill(x, out, e);
    const bool ok = filled && renameIn(dir, temp, name);
    if (filled && !ok) x.why = lastError();
    if (!ok) removeIn(dir, temp);
    removeOnSignal(nullptr, "");
    return ok;
}

void extractFile(Extraction& x, const Entry& e) {
    const size_t names = x.want.size();
    std::printf("Extracting %s...", shown(x.unsafe ? x.joined : x.used).c_str());
    // A large file takes a while: its line goes out before any of its work.
    if (e.size > largeFile)
        sendProgress();
    else
        progress();
    if (x.unsafe) return failed(x, "path leaves the current directory");
    // A path that ends in a separator names no file.
    if (x.used.empty() || isSeparator(x.used.back())) return failed(x, "path names no file");
    // root.size is the data region's length; a record reaching past it
    // would read bytes that are not its own. An empty file reads nothing.
    if (e.size != 0 && uint64_t(e.offset) + e.size > root.size)
        return failed(x, "its bytes lie outside the archive");
    // The file's own name, after any directories its stored name holds.
    const size_t tail = x.used.size() - std::min(x.used.size(), e.name.size());
    size_t cut = x.used.size();
    while (cut > tail && !isSeparator(x.used[cut - 1])) --cut;
    const std::string name = x.used.substr(cut);
    splitPath(x.used.substr(tail, cut - tail), x.want);
    Reach reached = reach(x);
    if (reached == Reach::ok && !nameAllowed(name)) reached = Reach::reserved;
    const bool ok = reached == Reach::ok && writeOut(x, x.held.empty() ? x.base : x.held.back(), name, e);
    leave(x, names);
    if (!ok) return failed(x, reason(x, reached));
    std::puts("ok");
    progress();
}

void extractList(Extraction& x, const std::vector<Entry>& list);

void extractDir(Extraction& x, const Entry& e) {
    if (x.unsafe) {
        const char* why = "path leaves the current directory";
        failure(x.joined, why, "Skipping %s: %s", shown(x.joined).c_str(), why);
    } else if (!x.used.empty()) {  // empty: it named the current directory
        const Reach r = reach(x);
        const std::string why = reason(x, r);
        switch (r) {
            case Reach::ok:
                std::printf("Creating directory %s...\n", shown(x.used).c_str());
                progress();
                break;
            case Reach::link:
            case Reach::reserved:
                failure(x.used, why, "Skipping %s: %s", shown(x.used).c_str(), why.c_str());
                break;
            case Reach::blocked:
                std::printf("Creating directory %s...\n", shown(x.used).c_str());
                failure(x.used, why, "Unable to create directory %s", shown(x.used).c_str());
                break;
        }
    }
    // Each entry below is judged on its own path.
    extractList(x, e.child);
}

void extractList(Extraction& x, const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        const size_t joinedMark = x.joined.size(), usedMark = x.used.size(), names = x.want.size();
        const bool wasUnsafe = x.unsafe;
        const bool dir = e.type == typeDirectory;
        x.joined.append(e.name);
        if (dir) x.joined += '\\';
        if (!x.unsafe) {
            if (x.used.empty()) {
                // Nothing kept yet: leading separators, drives and ".." of
                // this name are dropped, as from the start of a path.
                x.unsafe = !safePath(x.joined.substr(joinedMark), x.used);
            } else {
                x.used.append(e.name);
                if (dir) x.used += '\\';
                x.unsafe = hasUp(e.name);
            }
            if (dir && !x.unsafe) splitPath(x.used.substr(usedMark), x.want);
        }
        if (dir)
            extractDir(x, e);
        else
            extractFile(x, e);
        leave(x, names);
        x.joined.resize(joinedMark);
        x.used.resize(usedMark);
        x.unsafe = wasUnsafe;
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
    return !hasUp(used);
}

namespace {

void printList(std::string& path, const std::vector<Entry>& list) {
    for (const Entry& e : list) {
        const size_t mark = path.size();
        path.append(e.name);
        if (e.type == typeDirectory) path += '\\';
        std::puts(shown(path).c_str());
        progress();
        printList(path, e.child);  // a file's list is empty
        path.resize(mark);
    }
}

}  // namespace

void printFiles(const std::vector<Entry>& list) {
    std::string path;
    printList(path, list);
}

void extractFiles(File& f, const std::vector<Entry>& list) {
    raiseHandleLimit();
    Extraction x(f);
    if (!x.base) {
        failure(".", lastError(), "Unable to open the current directory");
        return;
    }
    extractList(x, list);
}
