#include "reading/extraction.h"

#include <algorithm>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "archive/paths.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"

namespace dat::detail {

namespace {

// Why a directory could not be reached.
enum class Reach { ok, link, blocked };

// What one extraction keeps while it walks the tree. Every directory is
// reached from the current directory one name at a time, each opened
// relative to the handle of the one above without following a link, and
// files are made relative to their directory's handle. The handles of the
// current directory's path stay held, so each entry costs one open at most.
struct Extraction {
    Extraction(const File& f, const Archive& a, Reporter& r, const std::string& below)
        : file(f), archive(a), report(r), base(dirAt(below)) {}
    const File& file;        // the archive, read only at absolute offsets
    const Archive& archive;  // what was decoded of it
    Reporter& report;        // told what becomes of each entry
    std::vector<uint8_t> buffer = std::vector<uint8_t>(transferSize);  // file bytes pass through here
    Dir base;                                                          // the directory extracted into
    // Names from the current directory down to where the walk stands, and
    // the handles of as many of them as have been reached. A handle given
    // back for want of handles is opened again from the one above it.
    std::vector<std::string> pathNames;
    std::vector<Dir> handles;
    // The path of the entry at hand as listed, and as written below the
    // current directory.
    std::string stored, written;
    std::string why;  // why the last directory or file was not made
    // The entries to extract, by their place in stored order; all when null.
    const std::vector<bool>* selected = nullptr;
};

const Dir& parentOf(const Extraction& walk, size_t level) {
    return level == 0 ? walk.base : walk.handles[level - 1];
}

// Gives back the shallowest handle still open, keeping the parent of level
// `keep`; false when there is none to give. Handles are given back from the
// shallowest on, so the ones still open always end the list. handles[i]
// is the directory of pathNames[i]; the parent of level keep is
// handles[keep - 1], so only the handles before it, i + 1 < keep, may go.
bool giveBack(Extraction& walk, size_t keep) {
    for (size_t i = 0; i + 1 < keep && i < walk.handles.size(); ++i) {
        if (walk.handles[i]) {
            dirClose(walk.handles[i]);
            return true;
        }
    }
    return false;
}

// Keeps d as the handle of pathNames[level].
void hold(Extraction& walk, size_t level, Dir d) {
    if (level < walk.handles.size())
        walk.handles[level] = std::move(d);
    else
        walk.handles.push_back(std::move(d));
}

// pathNames[level] is missing: makes it, once and only when make is set,
// and holds it, so that it is entered through the handle that made it;
// false, with walk.why set, when it is not to be tried again. Someone else
// may make it meanwhile: then d stays closed and the open decides.
bool makeMissing(Extraction& walk, size_t level, bool make, bool& made, Dir& d) {
    if (made) return false;  // why: from the make
    walk.why = lastError();
    if (!make) return false;
    made = true;
    d = dirMake(parentOf(walk, level), walk.pathNames[level]);
    if (!d) walk.why = lastError();
    return true;
}

// Opens pathNames[level] inside its parent, which is open; makes it first when
// missing and make is set.
Reach openLevel(Extraction& walk, size_t level, bool make) {
    for (bool made = false;;) {
        Dir d;
        switch (dirOpen(parentOf(walk, level), walk.pathNames[level], d)) {
            case DirOpened::opened:
                hold(walk, level, std::move(d));
                return Reach::ok;
            case DirOpened::exhausted:
                walk.why = lastError();
                if (!giveBack(walk, level)) return Reach::blocked;
                continue;
            case DirOpened::missing:
                if (!makeMissing(walk, level, make, made, d)) return Reach::blocked;
                if (!d) continue;
                hold(walk, level, std::move(d));
                return Reach::ok;
            case DirOpened::link:
                return Reach::link;
            case DirOpened::notDirectory:
                walk.why = "a file stands in the way";
                return Reach::blocked;
            case DirOpened::failed:
                walk.why = lastError();
                return Reach::blocked;
        }
    }
}

// Opens, and makes where missing, every name of pathNames not yet reached. When
// the deepest handle held was given back, every handle was, and the path is
// opened again from the current directory, name by name: as safe as the
// first time, since no name is followed if it has become a link.
Reach reach(Extraction& walk) {
    size_t level = walk.handles.empty() || walk.handles.back() ? walk.handles.size() : 0;
    for (; level < walk.pathNames.size(); ++level) {
        const Reach r = openLevel(walk, level, level >= walk.handles.size());
        if (r != Reach::ok) {
            walk.handles.resize(level);
            return r;
        }
    }
    return Reach::ok;
}

// Leaves the names past n.
void leaveBelow(Extraction& walk, size_t n) {
    walk.pathNames.resize(n);
    if (walk.handles.size() > n) walk.handles.resize(n);
}

// The path an entry is named by in messages: as written, unless it climbs
// out and has none.
const std::string& named(const Extraction& walk, Refusal refusal) {
    return refusal == Refusal::leavesDirectory ? walk.stored : walk.written;
}

// Why a directory could not be reached, in words.
std::string reason(const Extraction& walk, Reach r) {
    switch (r) {
        case Reach::link:
            return "path passes through a symbolic link";
        case Reach::ok:
        case Reach::blocked:
            break;
    }
    return walk.why;
}

// Copies a plain file of size bytes from absolute offset `from` of the
// archive into out by the kernel's copy, which needs no buffer: the bytes
// are stored as they are.
bool copyPlainOut(Extraction& walk, File& out, uint64_t from, uint32_t size) {
    constexpr uint64_t piece = uint64_t(transferSize) * 64;  // between two progress calls
    for (uint64_t done = 0; done < size;) {
        const uint64_t want = std::min<uint64_t>(size - done, piece);
        bool outFailed = false;
        const uint64_t got = fileCopy(walk.file, from + done, out, want, outFailed);
        if (got < want) {
            walk.why = outFailed ? lastError() : "the archive cannot be read there";
            return false;
        }
        done += got;
        walk.report.moved();
    }
    return true;
}

// Copies size bytes from absolute offset `from` of the archive into out, a
// chunk at a time, so memory does not grow with the file.
bool copyOut(Extraction& walk, File& out, uint64_t from, uint32_t size, uint8_t scrambled) {
    if (!scrambled && size >= transferSize) return copyPlainOut(walk, out, from, size);
    uint8_t* buffer = walk.buffer.data();
    while (size > 0) {
        size_t n = std::min<size_t>(size, transferSize);
        if (!readAt(walk.file, from, buffer, n, scrambled)) {
            // Short or failed alike: the archive changed since it was checked.
            walk.why = "the archive cannot be read there";
            return false;
        }
        if (fileWrite(out, buffer, n) != n) {
            walk.why = lastError();
            return false;
        }
        from += n;
        size -= static_cast<uint32_t>(n);
        walk.report.moved();
    }
    return true;
}

// Keeps out, made in dir as name or as temp beside it, under name, and
// gives it up to the signals' clean-up: with signals held, so that a signal
// now neither removes the file once complete nor leaves it partial. A file
// that is not whole goes, and what stood at name stays.
bool finish(Extraction& walk, File& out, const Dir& dir, const std::string& name, const std::string& temp,
            bool whole) {
    const std::string& made = temp.empty() ? name : temp;
    const Held hold(walk.report);
    bool ok = whole;
    if (ok && !fileKeep(out, dir, made, name)) {
        walk.why = lastError();
        ok = false;
    }
    if (!ok) fileDiscard(out, dir, made);
    walk.report.removeOnSignal(nullptr, "");
    return ok;
}

// Writes the file name in dir, so that a file that fails never takes the
// place of what stood there. A free name is written directly and removed
// again if the file fails. Where something else stands (a file, a link, a
// FIFO), the new file is written under a temporary name beside it and put
// in its place only once complete: the old one stays until then, and a
// link is replaced itself, never written through. A directory stays. Each
// file is given to the signals' clean-up as it is made.
bool writeOut(Extraction& walk, const Dir& dir, const std::string& name, const Entry& e) {
    const uint64_t from = uint64_t(walk.archive.tocSize) + e.offset;
    bool taken = false;
    File out;
    {
        const Held hold(walk.report);
        out = fileCreateIn(dir, name, taken);
        // Out of handles, perhaps: one given back lets the file be made.
        if (!out && !taken && giveBack(walk, walk.handles.size())) out = fileCreateIn(dir, name, taken);
        if (!out) walk.why = lastError();
        if (out) walk.report.removeOnSignal(&dir, name);
    }
    if (out) return finish(walk, out, dir, name, "", copyOut(walk, out, from, e.size, e.scrambled));
    if (!taken) return false;
    if (isDirectoryIn(dir, name)) {
        walk.why = "a directory stands in the way";
        return false;
    }
    std::string temp;
    {
        const Held hold(walk.report);
        out = tempFileIn(dir, name, temp);
        if (!out && giveBack(walk, walk.handles.size())) out = tempFileIn(dir, name, temp);
        if (out) walk.report.removeOnSignal(&dir, temp);
    }
    if (!out) {
        walk.why = lastError();
        return false;
    }
    // Private while it is written; a file's usual bits once complete.
    bool whole = copyOut(walk, out, from, e.size, e.scrambled);
    bool ownerKept = true;
    if (whole && !fileFinalMode(out, nullptr, ownerKept)) {
        walk.why = lastError();
        whole = false;
    }
    return finish(walk, out, dir, name, temp, whole);
}

// part: what the entry adds to the written path, its directory's "\\" left
// out. The verdict has decided whether the file is written and where; only
// the disk may still stop it.
void extractFile(Extraction& walk, const Entry& e, Refusal refusal, const std::string& part) {
    const std::string& path = named(walk, refusal);
    walk.report.extracting(path, e.size);
    // Refused: nothing is made, not even the directories of its own name.
    if (refusal != Refusal::none) return walk.report.notExtracted(path, reasonOf(refusal));
    // A stored name may hold directories of its own: they lie before its
    // last separator and are reached like any directory; the rest is the
    // file's own name.
    const size_t names = walk.pathNames.size();
    const size_t cut = lastNameAt(part);
    const std::string name = part.substr(cut);
    splitPath(part.substr(0, cut), walk.pathNames);
    const Reach reached = reach(walk);
    const bool ok = reached == Reach::ok &&
                    writeOut(walk, walk.handles.empty() ? walk.base : walk.handles.back(), name, e);
    leaveBelow(walk, names);
    if (!ok) return walk.report.notExtracted(walk.written, reason(walk, reached));
    walk.report.extracted(walk.written);
}

// A directory not chosen is made, if at all, when an entry below needs it.
void extractDir(Extraction& walk, Refusal refusal, const std::string& part, bool chosen) {
    const std::string& path = named(walk, refusal);
    const char* why = reasonOf(refusal);
    switch (refusal) {
        case Refusal::leavesDirectory:
        case Refusal::reservedName:
            if (chosen) walk.report.skipped(path, why, why);
            return;
        case Refusal::fileInTheWay:
        case Refusal::nameTooLong:
            if (chosen) walk.report.directoryNotMade(path, why);
            return;
        case Refusal::namesNoFile:
        case Refusal::outsideArchive:
        case Refusal::directoryInTheWay:  // files only
        case Refusal::none:
            break;
    }
    splitPath(part, walk.pathNames);
    if (!chosen || walk.written.empty()) return;  // empty: it names the current directory
    const Reach r = reach(walk);
    const std::string because = reason(walk, r);
    switch (r) {
        case Reach::ok:
            walk.report.directoryMade(path);
            break;
        case Reach::link:
            walk.report.skipped(path, because, because);
            break;
        case Reach::blocked:
            walk.report.directoryNotMade(path, because);
            break;
    }
}

// Where the walk stood after a directory: what its entries start from.
struct Level {
    uint32_t verdict;
    size_t stored, written, names;
};

// Moves the walk's paths to the entry of v, below the level above, and
// returns what the entry adds to the written path: its name less what was
// dropped from its start.
std::string enter(Extraction& walk, const Verdict& v, const Level& above) {
    const Entry& e = *v.entry;
    walk.stored.resize(above.stored);
    walk.written.resize(above.written);
    leaveBelow(walk, above.names);
    walk.stored += e.name;
    if (e.type == typeDirectory) walk.stored += '\\';
    appendWritten(walk.written, v);
    return v.skip < e.name.size() ? e.name.substr(v.skip) : std::string();
}

// Every entry in stored order, as the verdicts judged it: the walk keeps
// the paths and the directory handles of the directories above the entry
// at hand, and nothing else.
void extractAll(Extraction& walk, const std::vector<Verdict>& verdicts) {
    std::vector<Level> levels;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const Verdict& v = verdicts[i];
        while (!levels.empty() && levels.back().verdict != v.parent) levels.pop_back();
        const std::string part = enter(walk, v, levels.empty() ? Level{topLevel, 0, 0, 0} : levels.back());
        const bool chosen = !walk.selected || (*walk.selected)[i];
        if (chosen) walk.report.entryAt(i);
        if (v.entry->type != typeDirectory) {
            if (chosen) extractFile(walk, *v.entry, v.refusal, part);
            continue;
        }
        extractDir(walk, v.refusal, part, chosen);
        levels.push_back(
            {static_cast<uint32_t>(i), walk.stored.size(), walk.written.size(), walk.pathNames.size()});
    }
}

}  // namespace

void printFiles(const std::vector<Entry>& list, Reporter& report) {
    std::string path;
    std::vector<size_t> marks;  // where the path of each level above ends
    Preorder<const std::vector<Entry>> walk(list);
    while (const Entry* e = walk.next()) {
        marks.resize(walk.depth() - 1);
        path.resize(marks.empty() ? 0 : marks.back());
        path += e->name;
        if (e->type == typeDirectory) path += '\\';
        report.listed(path);
        marks.push_back(path.size());
    }
}

void extractFiles(const File& f, const Archive& archive, Reporter& report, const std::vector<Verdict>* judged,
                  const std::vector<bool>* selected, const std::string& below) {
    report.extractionBegins();
    report.raiseHandleLimit();
    Extraction walk(f, archive, report, below);
    walk.selected = selected;
    if (!walk.base)
        report.noCurrentDirectory(lastError());
    else if (judged)
        extractAll(walk, *judged);
    else
        extractAll(walk, judgeExtraction(archive));
    uint32_t files = archive.files;
    if (judged && selected) {
        files = 0;
        for (size_t i = 0; i < judged->size(); ++i)
            if ((*selected)[i] && (*judged)[i].entry->type == typeFile) ++files;
    }
    report.extractionEnds(files);
}

}  // namespace dat::detail
