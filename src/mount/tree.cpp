#include "mount/tree.h"

namespace dat::detail {

namespace {

// What the system says when it cannot make such a name.
const char* const tooLong = "File name too long";

// Appends the names of path from start on as "x" makes them: split at
// either separator, empty names and "." left out, as they open the
// directory they stand in.
void splitNames(const std::string& path, size_t start, std::vector<std::string>& names) {
    for (size_t i = start; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const size_t n = i - start;
        if (n != 0 && !(n == 1 && path[start] == '.')) names.push_back(path.substr(start, n));
        start = i + 1;
    }
}

struct Builder {
    MountTree tree;
    // Of each member: the directory's inode it made or merged into, 0 when
    // it was left out; and where in leftOut it was.
    std::vector<uint64_t> placed;
    std::vector<size_t> leftAt;
    std::vector<std::string> names;

    MountNode& node(uint64_t ino) { return tree.nodes[ino - 1]; }

    uint64_t add(uint64_t dir, const std::string& name, bool directory) {
        tree.nodes.push_back({directory, dir, 0, noMember, {}});
        const uint64_t ino = tree.nodes.size();
        tree.index.emplace(NameKey{dir, name}, ino);
        node(dir).children.emplace_back(name, ino);
        return ino;
    }

    // Places member i as "x" makes it, one name after the other, below
    // the directory its parent made; returns the directory's inode (or
    // the file's directory), and 0 with reason set when it is left out. A
    // name too long for the system stops it where "x" would fail, after
    // the directories above it were made.
    uint64_t place(const std::vector<Member>& members, size_t i, std::string& reason) {
        const Member& m = members[i];
        uint64_t at = 1;
        size_t start = 0;
        if (m.parent != noParent) {
            const Member& p = members[m.parent];
            if (placed[m.parent] == 0) {
                // What stopped the directory stops what it holds.
                reason = tree.leftOut[leftAt[m.parent]].reason;
                return 0;
            }
            if (m.written.compare(0, p.written.size(), p.written) == 0) {
                at = placed[m.parent];
                start = p.written.size();
            }
        }
        names.clear();
        splitNames(m.written, start, names);
        const size_t dirs = m.directory || names.empty() ? names.size() : names.size() - 1;
        for (size_t n = 0; n < dirs; ++n) {
            const uint64_t there = lookupChild(tree, at, names[n]);
            if (there != 0 && !node(there).directory) {
                reason = "a file stands in the way";
                return 0;
            }
            if (there == 0 && names[n].size() > maxMountName) {
                reason = tooLong;
                return 0;
            }
            at = there != 0 ? there : add(at, names[n], true);
        }
        if (m.directory) return at;
        if (names.empty()) {
            reason = "path names no file";
            return 0;
        }
        uint64_t ino = lookupChild(tree, at, names.back());
        if (ino != 0 && node(ino).directory) {
            reason = "a directory stands in the way";
            return 0;
        }
        if (ino == 0 && names.back().size() > maxMountName) {
            reason = tooLong;
            return 0;
        }
        // A later file of one path replaces the earlier.
        if (ino == 0) ino = add(at, names.back(), false);
        node(ino).size = m.size;
        node(ino).member = i;
        return at;
    }
};

}  // namespace

MountTree buildTree(const std::vector<Member>& members) {
    Builder b;
    b.placed.assign(members.size(), 0);
    b.leftAt.assign(members.size(), 0);
    b.tree.index.reserve(members.size());
    for (size_t i = 0; i < members.size(); ++i) {
        std::string reason = members[i].refused;
        if (reason.empty()) b.placed[i] = b.place(members, i, reason);
        if (!reason.empty()) {
            b.leftAt[i] = b.tree.leftOut.size();
            b.tree.leftOut.push_back({i, reason});
        }
    }
    return std::move(b.tree);
}

uint64_t lookupChild(const MountTree& tree, uint64_t dir, const std::string& name) {
    auto it = tree.index.find({dir, name});
    return it == tree.index.end() ? 0 : it->second;
}

}  // namespace dat::detail
