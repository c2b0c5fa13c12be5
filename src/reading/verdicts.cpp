#include "reading/verdicts.h"

#include <algorithm>
#include <string_view>

#include "archive/format.h"
#include "archive/name_hash.h"
#include "archive/paths.h"
#include "platform/platform.h"

namespace dat::detail {

namespace {

// Whether every name in part may be made on this system.
bool namesAllowed(std::string_view part) {
    for (NameCursor n(part); n.next();)
        if (!nameAllowed(std::string(n.name()))) return false;
    return true;
}

// Whether every name in part fits a directory entry: no file system this
// program writes to takes a longer name (Windows counts 255 UTF-16 units,
// which no name of 255 bytes exceeds).
constexpr size_t maxWrittenName = 255;
bool namesFit(std::string_view part) {
    for (NameCursor n(part); n.next();)
        if (n.name().size() > maxWrittenName) return false;
    return true;
}

bool isDot(std::string_view name) {
    return name.size() == 1 && name[0] == '.';
}

// The path state of the walk over the tree: the stored path as listed,
// the path written to, and whether a directory above already climbed out,
// or could not be named or made.
struct PathWalk {
    std::string stored;
    std::string written;
    bool leaves = false;
    bool reserved = false;
    bool tooLong = false;
};

// Adds e's name to the paths of walk, and notes when the written path
// climbs out of the current directory.
void descend(PathWalk& walk, const Entry& e, bool dir) {
    const size_t storedMark = walk.stored.size();
    walk.stored.append(e.name);
    if (dir) walk.stored += '\\';
    if (walk.leaves) return;
    if (walk.written.empty()) {
        // Nothing kept yet: leading separators, drives and ".." of this
        // name are dropped, as from the start of a path.
        walk.leaves = !safePath(walk.stored.substr(storedMark), walk.written);
        return;
    }
    walk.written.append(e.name);
    if (dir) walk.written += '\\';
    walk.leaves = hasUp(e.name);
}

// What this system refuses of the written path, whose names from
// writtenMark on are the entry's own: a reserved name, or a name or a path
// longer than it takes. Below a refused directory everything is refused.
Refusal systemRefusal(PathWalk& walk, size_t writtenMark) {
    const std::string_view added = std::string_view(walk.written).substr(writtenMark);
    if (!walk.reserved) walk.reserved = !namesAllowed(added);
    if (walk.reserved) return Refusal::reservedName;
    // The longest path this system takes: 4095 bytes on Linux, 259 on
    // Windows. The archive holds longer ones alike on every system.
    if (!walk.tooLong) walk.tooLong = !namesFit(added) || walk.written.size() > maxPathLength();
    if (walk.tooLong) return Refusal::nameTooLong;
    return Refusal::none;
}

// The data region as the root claims it, and how much of its end the
// archive lacks.
struct DataRegion {
    uint32_t size;
    uint32_t cut;
};

// Moves walk down to entry e and judges it by the rules that need no other
// entry: climbing out, naming no file, bytes outside the data region or
// past a cut archive's end, and names the system cannot hold. The caller
// puts walk back after e and everything below it.
Refusal judgeEntry(PathWalk& walk, const Entry& e, DataRegion data) {
    const bool dir = e.type == typeDirectory;
    const size_t writtenMark = walk.written.size();
    descend(walk, e, dir);
    if (walk.leaves) return Refusal::leavesDirectory;
    // A path that ends in a separator names no file.
    if (!dir && (walk.written.empty() || isSeparator(walk.written.back()))) return Refusal::namesNoFile;
    // dataSize is the data region's length; a record reaching past it would
    // read bytes that are not its own. An empty file reads nothing.
    const uint64_t end = uint64_t(e.offset) + e.size;
    if (!dir && e.size != 0 && end > data.size) return Refusal::outsideArchive;
    if (!dir && e.size != 0 && end > data.size - data.cut) return Refusal::cutShort;
    return systemRefusal(walk, writtenMark);
}

// The paths written so far, as a tree of names, to find repeated paths and
// files and directories that stand in each other's way. An open archive
// holds this beside its whole tree while it is judged, so it is kept small.
// A node is a file, or a chain of directories each in the one before, as
// one stored name made them ("a\\b\\c"): a long name costs one node until a
// later path leaves it halfway, which splits the chain there. Names are
// kept as places in stored names, and chains are found by their first name
// through an open-addressed table of node numbers.
struct Written {
    struct Node {
        uint32_t parent;   // node of the directory holding the first name
        uint32_t verdict;  // whose stored name holds the names; files: whose bytes stand there now
        uint16_t start;    // of the first name in that stored name
        uint16_t count;    // directories in the chain; 0 for a file
    };
    static constexpr uint32_t blocked = UINT32_MAX;  // below a file: nothing can be made

    const std::vector<Verdict>& verdicts;
    std::vector<Node> nodes;
    std::vector<uint32_t> slots;  // node number + 1; 0 is free
    unsigned shift = 0;           // 64 less the bits of a slot number
    NameHash hash{this};
    std::vector<uint16_t> starts;  // scratch for place

    // most: the most nodes there can be besides the current directory.
    Written(const std::vector<Verdict>& judged, size_t most) : verdicts(judged) {
        nodes.reserve(most + 1);
        nodes.push_back({0, 0, 0, 1});  // 0: the current directory
        size_t size = 8;
        shift = 61;
        while (size < most + most / 4 + 1) {  // at most four fifths full
            size *= 2;
            --shift;
        }
        slots.assign(size, 0);
    }

    const std::string& nameOf(const Node& n) const { return verdicts[n.verdict].entry->name; }

    size_t slotOf(uint32_t at, std::string_view name) const {
        return static_cast<size_t>(hash(at, name) >> shift);
    }

    // The slot of the node whose first name is name in directory at, or the
    // free slot where it would go.
    size_t find(uint32_t at, std::string_view name) const {
        size_t s = slotOf(at, name);
        for (; slots[s] != 0; s = (s + 1) & (slots.size() - 1)) {
            const Node& n = nodes[slots[s] - 1];
            if (n.parent == at && nameAt(nameOf(n), n.start) == name) break;
        }
        return s;
    }

    // Makes a node in the free slot s. The table was sized for every node
    // there can be, so a free slot is always left.
    uint32_t make(size_t s, Node n) {
        nodes.push_back(n);
        slots[s] = static_cast<uint32_t>(nodes.size());
        return static_cast<uint32_t>(nodes.size() - 1);
    }

    // Splits chain c before its directory number k: the first k become a
    // new node, which takes c's place in its directory, and c keeps the
    // rest below it, so what was below c stays below c. Returns the new node.
    uint32_t split(uint32_t c, uint16_t k, size_t kthStart) {
        const Node head = nodes[c];
        const size_t s = find(head.parent, nameAt(nameOf(head), head.start));
        nodes.push_back({head.parent, head.verdict, head.start, k});
        const auto h = static_cast<uint32_t>(nodes.size() - 1);
        slots[s] = h + 1;
        Node& rest = nodes[c];
        rest.parent = h;
        rest.start = static_cast<uint16_t>(kthStart);
        rest.count = static_cast<uint16_t>(head.count - k);
        slots[find(h, nameAt(nameOf(rest), rest.start))] = c + 1;
        return h;
    }

    // The node of the directory the names of dirs (starts in verdict's
    // stored name) lead to from directory at, made where missing; blocked
    // when a file stands on the way.
    uint32_t walk(uint32_t at, uint32_t verdict, const std::vector<uint16_t>& dirs) {
        const std::string& name = verdicts[verdict].entry->name;
        for (size_t n = 0; n < dirs.size();) {
            const size_t s = find(at, nameAt(name, dirs[n]));
            if (slots[s] == 0) {
                // Nothing there yet: the rest of the names make one chain.
                return make(s, {at, verdict, dirs[n], static_cast<uint16_t>(dirs.size() - n)});
            }
            const uint32_t c = slots[s] - 1;
            if (nodes[c].count == 0) return blocked;
            // Follow the chain while the names agree.
            NameCursor chain(nameOf(nodes[c]), nodes[c].start);
            chain.next();  // its first name, found above
            uint16_t k = 1;
            for (; k < nodes[c].count; ++k) {
                chain.next();
                if (n + k == dirs.size() || chain.name() != nameAt(name, dirs[n + k])) break;
            }
            at = k < nodes[c].count ? split(c, k, chain.start()) : c;
            n += k;
        }
        return at;
    }
};

// How many entries the tree below list holds, and how many names their
// stored names hold.
void countEntries(const std::vector<Entry>& list, size_t& entries, size_t& names) {
    Preorder<const std::vector<Entry>> walk(list);
    while (const Entry* e = walk.next()) {
        ++entries;
        for (NameCursor n(e->name); n.next();) ++names;
    }
}

// Places verdict i, which the rules left alone, among what was written
// before it; returns the node of its directory (blocked when it has none)
// and sets landed to the node it stands for, a directory's or its file's.
// A file it refuses leaves no trace: not even the directories of its own
// name are taken as made.
uint32_t place(Written& w, std::vector<Verdict>& verdicts, uint32_t i, uint32_t at, uint32_t& landed) {
    Verdict& v = verdicts[i];
    const bool dir = v.entry->type == typeDirectory;
    const std::string& name = v.entry->name;
    // A file's own name is its last; the names before it are directories.
    // (A drive dropped from the front may leave the last name shorter.)
    const size_t file = dir ? name.size() : std::max<size_t>(lastNameAt(name), v.skip);
    const std::string_view fileName = std::string_view(name).substr(file);
    if (!dir && isDot(fileName)) {
        v.refusal = Refusal::directoryInTheWay;  // the directory "." names
        return Written::blocked;
    }
    std::vector<uint16_t>& starts = w.starts;
    starts.clear();
    for (NameCursor n(std::string_view(name).substr(0, file), v.skip); n.next();)
        starts.push_back(static_cast<uint16_t>(n.start()));
    at = w.walk(at, i, starts);
    if (at == Written::blocked) {
        v.refusal = Refusal::fileInTheWay;
        return at;
    }
    if (dir) {
        landed = at;
        return at;
    }
    const size_t s = w.find(at, fileName);
    if (w.slots[s] != 0 && w.nodes[w.slots[s] - 1].count != 0) {
        v.refusal = Refusal::directoryInTheWay;
    } else if (w.slots[s] == 0) {
        landed = w.make(s, {at, i, static_cast<uint16_t>(file), 0});
    } else {
        landed = w.slots[s] - 1;
        Written::Node& there = w.nodes[landed];
        verdicts[there.verdict].replaced = true;
        there.verdict = i;
        there.start = static_cast<uint16_t>(file);
    }
    return Written::blocked;
}

// Where the walk stood after a directory was judged: what its entries are
// judged from.
struct Level {
    uint32_t verdict;  // the directory's
    uint32_t at;       // its node, blocked when it has none
    size_t stored, written;
    bool leaves, reserved, tooLong;
};

// Judges every entry below list in preorder. landed, when given, receives
// the node each verdict stands for, or blocked.
void judgeAll(Written& w, std::vector<Verdict>& verdicts, const std::vector<Entry>& list, DataRegion data,
              std::vector<uint32_t>* landed) {
    PathWalk walk;
    std::vector<Level> levels;  // the directories above the entry at hand
    Preorder<const std::vector<Entry>> entries(list);
    while (const Entry* e = entries.next()) {
        levels.resize(entries.depth() - 1);
        const Level top{topLevel, 0, 0, 0, false, false, false};
        const Level& above = levels.empty() ? top : levels.back();
        walk.stored.resize(above.stored);
        walk.written.resize(above.written);
        walk.leaves = above.leaves;
        walk.reserved = above.reserved;
        walk.tooLong = above.tooLong;
        const size_t writtenMark = walk.written.size();
        const auto i = static_cast<uint32_t>(verdicts.size());
        Verdict v;
        v.entry = e;
        v.parent = above.verdict;
        v.refusal = judgeEntry(walk, *e, data);
        // What was added to the written path is the end of the stored name
        // and its separator; the rest was dropped.
        const size_t added = walk.written.size() - writtenMark;
        const size_t whole = e->name.size() + (e->type == typeDirectory ? 1 : 0);
        v.skip = static_cast<uint16_t>(std::min(whole - std::min(added, whole), e->name.size()));
        verdicts.push_back(v);
        uint32_t node = Written::blocked, stands = Written::blocked;
        if (v.refusal == Refusal::none) {
            if (above.at == Written::blocked)
                verdicts[i].refusal = Refusal::fileInTheWay;
            else
                node = place(w, verdicts, i, above.at, stands);
        }
        if (landed) landed->push_back(stands);
        if (!e->child.empty())
            levels.push_back(
                {i, node, walk.stored.size(), walk.written.size(), walk.leaves, walk.reserved, walk.tooLong});
    }
}

// Appends to path what each verdict from the top down to i adds to it.
template <typename Part>
std::string joinedPath(const std::vector<Verdict>& verdicts, size_t i, Part part) {
    std::vector<uint32_t> chain;
    for (size_t at = i; at != topLevel; at = verdicts[at].parent) chain.push_back(static_cast<uint32_t>(at));
    std::string path;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) part(path, verdicts[*at]);
    return path;
}

}  // namespace

namespace {

// What x makes, from the nodes the judging left and the node each verdict
// stands for: each node is numbered when the first verdict that makes it
// comes, after the directories above it, one number per directory of a
// chain.
std::vector<Made> madeOf(const Written& w, const std::vector<uint32_t>& landed) {
    std::vector<Made> made(1);                                      // the current directory
    std::vector<uint32_t> first(w.nodes.size(), Written::blocked);  // of each node: its first number
    first[0] = 0;
    // The number of the deepest directory of node n, which must be numbered.
    auto last = [&](uint32_t n) { return first[n] + w.nodes[n].count - 1; };
    std::vector<uint32_t> above;  // nodes not yet numbered, from the deepest up
    for (const uint32_t stands : landed) {
        if (stands == Written::blocked || first[stands] != Written::blocked) continue;
        above.clear();
        for (uint32_t n = stands; first[n] == Written::blocked; n = w.nodes[n].parent) above.push_back(n);
        for (auto n = above.rbegin(); n != above.rend(); ++n) {
            const Written::Node& node = w.nodes[*n];
            first[*n] = static_cast<uint32_t>(made.size());
            uint32_t parent = last(node.parent);
            if (node.count == 0) {
                made.push_back({parent, node.verdict, node.start, false});
                continue;
            }
            NameCursor names(w.nameOf(node), node.start);
            for (uint16_t k = 0; k < node.count && names.next(); ++k) {
                made.push_back({parent, node.verdict, static_cast<uint16_t>(names.start()), true});
                parent = static_cast<uint32_t>(made.size() - 1);
            }
        }
    }
    return made;
}

}  // namespace

std::vector<Verdict> judgeExtraction(const Archive& archive, std::vector<Made>* made, NameTableUse* use) {
    std::vector<Verdict> verdicts;
    size_t entries = 0, names = 0;
    countEntries(archive.root.child, entries, names);
    verdicts.reserve(entries);
    // An entry makes at most a chain, a split and its file; and no more
    // nodes than its names.
    Written w(verdicts, std::min(names, 3 * entries));
    std::vector<uint32_t> landed;
    if (made) landed.reserve(entries);
    const DataRegion data{archive.root.size, archive.cut};
    judgeAll(w, verdicts, archive.root.child, data, made ? &landed : nullptr);
    if (made) *made = madeOf(w, landed);
    if (use) {
        use->slots = w.slots.size();
        use->filled = w.slots.size() - static_cast<size_t>(std::count(w.slots.begin(), w.slots.end(), 0u));
    }
    return verdicts;
}

std::string_view madeName(const std::vector<Verdict>& verdicts, const std::vector<Made>& made, size_t i) {
    if (i == 0 || i >= made.size()) return {};
    return nameAt(verdicts[made[i].verdict].entry->name, made[i].start);
}

std::string storedPath(const std::vector<Verdict>& verdicts, size_t i) {
    return joinedPath(verdicts, i, [](std::string& path, const Verdict& v) {
        path += v.entry->name;
        if (v.entry->type == typeDirectory) path += '\\';
    });
}

void appendWritten(std::string& path, const Verdict& v) {
    const std::string& name = v.entry->name;
    // Dropped whole from the start of the path, it adds nothing.
    if (path.empty() && v.skip >= name.size()) return;
    path.append(name, std::min<size_t>(v.skip, name.size()), std::string::npos);
    if (v.entry->type == typeDirectory) path += '\\';
}

std::string writtenPath(const std::vector<Verdict>& verdicts, size_t i) {
    return joinedPath(verdicts, i, appendWritten);
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
        case Refusal::cutShort:
            return "cut short: the archive ends before its bytes do";
        case Refusal::reservedName:
            return "name is reserved on Windows";
        case Refusal::fileInTheWay:
            return "a file stands in the way";
        case Refusal::directoryInTheWay:
            return "a directory stands in the way";
        case Refusal::nameTooLong:
            return "File name too long";
    }
    return "";
}

}  // namespace dat::detail
