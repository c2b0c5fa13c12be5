#include "reading/verdicts.h"

#include <algorithm>
#include <string_view>

#include "archive/format.h"
#include "archive/name_hash.h"
#include "archive/paths.h"
#include "platform/platform.h"

namespace {

// Whether every name in part may be made on this system.
bool namesAllowed(const std::string& part) {
    size_t start = 0;
    for (size_t i = 0; i <= part.size(); ++i) {
        if (i < part.size() && !isSeparator(part[i])) continue;
        if (i > start && !nameAllowed(part.substr(start, i - start))) return false;
        start = i + 1;
    }
    return true;
}

// The names of a stored name from skip on, as "x" makes them: split at
// either separator, empty names left out. Starts go to starts.
void namesOf(const std::string& name, size_t skip, std::vector<uint16_t>& starts) {
    starts.clear();
    for (size_t i = skip; i < name.size();) {
        size_t stop = i;
        while (stop < name.size() && !isSeparator(name[stop])) ++stop;
        if (stop > i) starts.push_back(static_cast<uint16_t>(i));
        i = stop + 1;
    }
}

// The name that starts at start of name, up to the next separator.
std::string_view nameAt(const std::string& name, size_t start) {
    size_t stop = start;
    while (stop < name.size() && !isSeparator(name[stop])) ++stop;
    return std::string_view(name).substr(start, stop - start);
}

bool isDot(std::string_view name) {
    return name.size() == 1 && name[0] == '.';
}

// The paths written so far, as a tree of names, to find repeated paths and
// files and directories that stand in each other's way. An open archive
// holds this beside its whole tree while it is judged, so a node keeps its
// name as a place in a stored name, and nodes are found through an
// open-addressed table of their numbers: about 17 bytes per name.
struct Written {
    struct Node {
        uint32_t parent;   // node of the directory holding it
        uint32_t verdict;  // whose stored name holds its name; files: whose bytes stand there now
        uint16_t start;    // of its name in that stored name
        bool file;
    };
    static constexpr uint32_t blocked = UINT32_MAX;  // below a file: nothing can be made

    const std::vector<Verdict>& verdicts;
    std::vector<Node> nodes;
    std::vector<uint32_t> slots;  // node number + 1; 0 is free
    unsigned shift = 0;           // 64 less the bits of a slot number
    NameHash hash{this};
    std::vector<uint16_t> starts;  // scratch for namesOf

    // names: how many names all stored names hold, the most nodes there
    // can be besides the current directory.
    Written(const std::vector<Verdict>& judged, size_t names) : verdicts(judged) {
        nodes.reserve(names + 1);
        nodes.push_back({0, 0, 0, false});  // 0: the current directory
        size_t size = 8;
        shift = 61;
        while (size < names + names / 4 + 1) {  // at most four fifths full
            size *= 2;
            --shift;
        }
        slots.assign(size, 0);
    }

    std::string_view nameOf(const Node& n) const { return nameAt(verdicts[n.verdict].entry->name, n.start); }

    size_t slotOf(uint32_t at, std::string_view name) const {
        return static_cast<size_t>(hash(at, name) >> shift);
    }

    // The node of the name at start of verdict's stored name in directory
    // at, made when missing. A node is made once at most for each name of
    // each stored name, so the table, sized for all of them, always has a
    // free slot.
    uint32_t find(uint32_t at, uint32_t verdict, uint16_t start, bool file) {
        const std::string_view name = nameAt(verdicts[verdict].entry->name, start);
        size_t s = slotOf(at, name);
        for (; slots[s] != 0; s = (s + 1) & (slots.size() - 1)) {
            const Node& n = nodes[slots[s] - 1];
            if (n.parent == at && nameOf(n) == name) return slots[s] - 1;
        }
        nodes.push_back({at, verdict, start, file});
        slots[s] = static_cast<uint32_t>(nodes.size());
        return static_cast<uint32_t>(nodes.size() - 1);
    }
};

// How many entries the tree below list holds, and how many names their
// stored names hold.
void countEntries(const std::vector<Entry>& list, size_t& entries, size_t& names,
                  std::vector<uint16_t>& starts) {
    for (const Entry& e : list) {
        ++entries;
        namesOf(e.name, 0, starts);
        names += starts.size();
        countEntries(e.child, entries, names, starts);
    }
}

// Places verdict i, which the rules left alone, among what was written
// before it; returns the node of its directory (blocked when it has none).
// "." names open the directory they stand in.
uint32_t place(Written& w, std::vector<Verdict>& verdicts, uint32_t i, uint32_t at) {
    Verdict& v = verdicts[i];
    const bool dir = v.entry->type == typeDirectory;
    const std::string& name = v.entry->name;
    std::vector<uint16_t>& starts = w.starts;
    namesOf(name, v.skip, starts);
    const size_t dirs = dir || starts.empty() ? starts.size() : starts.size() - 1;
    for (size_t n = 0; n < dirs && at != Written::blocked; ++n) {
        if (isDot(nameAt(name, starts[n]))) continue;
        const uint32_t node = w.find(at, i, starts[n], false);
        at = w.nodes[node].file ? Written::blocked : node;
    }
    if (at == Written::blocked) {
        v.refusal = Refusal::fileInTheWay;
        return at;
    }
    if (dir) return at;
    if (isDot(nameAt(name, starts.back()))) {
        v.refusal = Refusal::directoryInTheWay;  // the directory "." names
        return Written::blocked;
    }
    const uint32_t node = w.find(at, i, starts.back(), true);
    Written::Node& there = w.nodes[node];
    if (!there.file) {
        v.refusal = Refusal::directoryInTheWay;
    } else if (there.verdict != i) {
        verdicts[there.verdict].replaced = true;
        there.verdict = i;
        there.start = starts.back();
    }
    return Written::blocked;
}

// Judges the entries of list, below the verdict parent whose directory is
// node at.
void judgeList(PathWalk& walk, Written& w, std::vector<Verdict>& verdicts, uint32_t parent, uint32_t at,
               const std::vector<Entry>& list, uint32_t dataSize) {
    for (const Entry& e : list) {
        const bool leaves = walk.leaves, reserved = walk.reserved;
        const size_t storedMark = walk.stored.size(), writtenMark = walk.written.size();
        const auto i = static_cast<uint32_t>(verdicts.size());
        Verdict v;
        v.entry = &e;
        v.parent = parent;
        v.refusal = judgeEntry(walk, e, dataSize);
        // What was added to the written path is the end of the stored name
        // and its separator; the rest was dropped.
        const size_t added = walk.written.size() - writtenMark;
        const size_t whole = e.name.size() + (e.type == typeDirectory ? 1 : 0);
        v.skip = static_cast<uint16_t>(std::min(whole - std::min(added, whole), e.name.size()));
        verdicts.push_back(v);
        uint32_t node = Written::blocked;
        if (v.refusal == Refusal::none) {
            if (at == Written::blocked)
                verdicts[i].refusal = Refusal::fileInTheWay;
            else
                node = place(w, verdicts, i, at);
        }
        judgeList(walk, w, verdicts, i, node, e.child, dataSize);
        walk.stored.resize(storedMark);
        walk.written.resize(writtenMark);
        walk.leaves = leaves;
        walk.reserved = reserved;
    }
}

// Appends to path what each verdict from the top down to i adds to it.
template <typename Part>
std::string joinedPath(const std::vector<Verdict>& verdicts, size_t i, Part part) {
    std::vector<uint32_t> chain;
    for (size_t at = i; at != noParent; at = verdicts[at].parent) chain.push_back(static_cast<uint32_t>(at));
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) part(path, verdicts[*at]);
    return path;
}

}  // namespace

Refusal judgeEntry(PathWalk& walk, const Entry& e, uint32_t dataSize) {
    const bool dir = e.type == typeDirectory;
    const size_t storedMark = walk.stored.size(), writtenMark = walk.written.size();
    walk.stored.append(e.name);
    if (dir) walk.stored += '\\';
    if (!walk.leaves) {
        if (walk.written.empty()) {
            // Nothing kept yet: leading separators, drives and ".." of this
            // name are dropped, as from the start of a path.
            walk.leaves = !safePath(walk.stored.substr(storedMark), walk.written);
        } else {
            walk.written.append(e.name);
            if (dir) walk.written += '\\';
            walk.leaves = hasUp(e.name);
        }
    }
    if (walk.leaves) return Refusal::leavesDirectory;
    // A path that ends in a separator names no file.
    if (!dir && (walk.written.empty() || isSeparator(walk.written.back()))) return Refusal::namesNoFile;
    // dataSize is the data region's length; a record reaching past it would
    // read bytes that are not its own. An empty file reads nothing.
    if (!dir && e.size != 0 && uint64_t(e.offset) + e.size > dataSize) return Refusal::outsideArchive;
    if (!walk.reserved) walk.reserved = !namesAllowed(walk.written.substr(writtenMark));
    if (walk.reserved) return Refusal::reservedName;
    return Refusal::none;
}

std::vector<Verdict> judgeExtraction(const Archive& archive) {
    std::vector<Verdict> verdicts;
    size_t entries = 0, names = 0;
    std::vector<uint16_t> starts;
    countEntries(archive.root.child, entries, names, starts);
    verdicts.reserve(entries);
    Written w(verdicts, names);
    PathWalk walk;
    judgeList(walk, w, verdicts, noParent, 0, archive.root.child, archive.root.size);
    return verdicts;
}

std::string storedPath(const std::vector<Verdict>& verdicts, size_t i) {
    return joinedPath(verdicts, i, [](std::string& path, const Verdict& v) {
        path += v.entry->name;
        if (v.entry->type == typeDirectory) path += '\\';
    });
}

std::string writtenPath(const std::vector<Verdict>& verdicts, size_t i) {
    return joinedPath(verdicts, i, [](std::string& path, const Verdict& v) {
        if (v.skip >= v.entry->name.size()) return;  // all of it dropped
        path.append(v.entry->name, v.skip, std::string::npos);
        if (v.entry->type == typeDirectory) path += '\\';
    });
}

const char* reasonOf(Refusal r) {
    switch (r) {
        case Refusal::none:
            break;
        case Refusal::leavesDirectory:
            return "path leaves the current directory";
        case Refusal::namesNoFile:
            return "path names no file";
        case Refusal::outsideArchive:
            return "its bytes lie outside the archive";
        case Refusal::reservedName:
            return "name is reserved on Windows";
        case Refusal::fileInTheWay:
            return "a file stands in the way";
        case Refusal::directoryInTheWay:
            return "a directory stands in the way";
    }
    return "";
}
