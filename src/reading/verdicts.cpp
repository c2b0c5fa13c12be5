#include "reading/verdicts.h"

#include <map>
#include <utility>

#include "archive/format.h"
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

// The paths written so far, as a tree of names, to find repeated paths and
// files and directories that stand in each other's way.
struct Written {
    struct Node {
        bool file = false;
        size_t verdict = 0;  // files: the verdict whose bytes stand there now
    };
    static constexpr size_t blocked = SIZE_MAX;      // below a file: nothing can be made
    std::vector<Node> nodes = std::vector<Node>(1);  // 0: the current directory
    std::map<std::pair<size_t, std::string>, size_t> below;

    // The node of name in directory at, made when missing.
    size_t find(size_t at, const std::string& name, bool file, size_t verdict) {
        auto [it, made] = below.try_emplace({at, name}, nodes.size());
        if (made) nodes.push_back({file, verdict});
        return it->second;
    }
};

// Places verdict i, which the rules left alone, among what was written
// before it; returns the node of its directory (blocked when it has none).
size_t place(Written& w, std::vector<Verdict>& verdicts, size_t i, size_t at) {
    Verdict& v = verdicts[i];
    const bool dir = v.entry->type == typeDirectory;
    std::vector<std::string> names;
    splitPath(v.part, names);
    const size_t dirs = dir || names.empty() ? names.size() : names.size() - 1;
    for (size_t n = 0; n < dirs && at != Written::blocked; ++n) {
        const size_t node = w.find(at, names[n], false, i);
        at = w.nodes[node].file ? Written::blocked : node;
    }
    if (at == Written::blocked) {
        v.refusal = Refusal::fileInTheWay;
        return at;
    }
    if (dir) return at;
    const size_t node = w.find(at, names.back(), true, i);
    Written::Node& there = w.nodes[node];
    if (!there.file) {
        v.refusal = Refusal::directoryInTheWay;
    } else if (there.verdict != i) {
        verdicts[there.verdict].replaced = true;
        there.verdict = i;
    }
    return Written::blocked;
}

void judgeList(PathWalk& walk, Written& w, std::vector<Verdict>& verdicts, std::vector<size_t>& nodeOf,
               size_t parent, const std::vector<Entry>& list, uint32_t dataSize) {
    for (const Entry& e : list) {
        const PathWalk before = {{}, {}, walk.leaves, walk.reserved};
        const size_t storedMark = walk.stored.size(), writtenMark = walk.written.size();
        const size_t i = verdicts.size();
        verdicts.push_back({&e, parent, {}, judgeEntry(walk, e, dataSize), false});
        verdicts[i].part = walk.written.substr(writtenMark);
        const size_t at = parent == noParent ? 0 : nodeOf[parent];
        nodeOf.push_back(verdicts[i].refusal == Refusal::none && at != Written::blocked
                             ? place(w, verdicts, i, at)
                             : Written::blocked);
        if (verdicts[i].refusal == Refusal::none && at == Written::blocked)
            verdicts[i].refusal = Refusal::fileInTheWay;
        judgeList(walk, w, verdicts, nodeOf, i, e.child, dataSize);
        walk.stored.resize(storedMark);
        walk.written.resize(writtenMark);
        walk.leaves = before.leaves;
        walk.reserved = before.reserved;
    }
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
    std::vector<size_t> nodeOf;  // of each verdict: its directory's node
    Written w;
    PathWalk walk;
    judgeList(walk, w, verdicts, nodeOf, noParent, archive.root.child, archive.root.size);
    return verdicts;
}

std::string storedPath(const std::vector<Verdict>& verdicts, size_t i) {
    std::string path;
    for (size_t at = i; at != noParent; at = verdicts[at].parent) {
        const Entry& e = *verdicts[at].entry;
        path.insert(0, e.type == typeDirectory ? e.name + '\\' : e.name);
    }
    return path;
}

std::string writtenPath(const std::vector<Verdict>& verdicts, size_t i) {
    std::string path;
    for (size_t at = i; at != noParent; at = verdicts[at].parent) path.insert(0, verdicts[at].part);
    return path;
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
