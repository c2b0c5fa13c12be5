#include "mount/tree.h"

#include <algorithm>
#include <map>

namespace {

// The names of a path as "x" makes them: split at either separator, empty
// names and "." left out, as they open the directory they stand in.
std::vector<std::string> namesOf(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        std::string name = path.substr(start, i - start);
        if (!name.empty() && name != ".") names.push_back(std::move(name));
        start = i + 1;
    }
    return names;
}

// What the system says when it cannot make such a name.
const char* const tooLong = "File name too long";

// The tree while it is built: names are looked up in a map per directory.
struct Builder {
    MountTree tree;
    std::vector<std::map<std::string, uint64_t>> below = std::vector<std::map<std::string, uint64_t>>(1);

    MountNode& node(uint64_t ino) { return tree.nodes[ino - 1]; }

    uint64_t add(uint64_t dir, const std::string& name, bool directory) {
        tree.nodes.push_back({directory, dir, 0, noMember, {}});
        below.emplace_back();
        const uint64_t ino = tree.nodes.size();
        below[dir - 1][name] = ino;
        return ino;
    }

    // Places member m as "x" makes it, one name after the other; sets
    // reason when it is left out. A name too long for the system stops
    // it where "x" would fail, after the directories above it were made.
    void place(const Member& m, size_t index, std::string& reason) {
        const std::vector<std::string> names = namesOf(m.written);
        const size_t dirs = m.directory || names.empty() ? names.size() : names.size() - 1;
        uint64_t at = 1;
        for (size_t n = 0; n < dirs; ++n) {
            auto it = below[at - 1].find(names[n]);
            if (it != below[at - 1].end() && !node(it->second).directory) {
                reason = "a file stands in the way";
                return;
            }
            if (it != below[at - 1].end()) {
                at = it->second;
                continue;
            }
            if (names[n].size() > maxMountName) {
                reason = tooLong;
                return;
            }
            at = add(at, names[n], true);
        }
        if (m.directory) return;
        if (names.empty()) {
            reason = "path names no file";
            return;
        }
        auto it = below[at - 1].find(names.back());
        uint64_t ino = 0;
        if (it != below[at - 1].end() && node(it->second).directory) {
            reason = "a directory stands in the way";
            return;
        }
        if (it != below[at - 1].end()) {
            ino = it->second;  // a later file of one path replaces the earlier
        } else if (names.back().size() > maxMountName) {
            reason = tooLong;
            return;
        } else {
            ino = add(at, names.back(), false);
        }
        node(ino).size = m.size;
        node(ino).member = index;
    }
};

}  // namespace

MountTree buildTree(const std::vector<Member>& members) {
    Builder b;
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        std::string reason = m.refused;
        if (reason.empty()) b.place(m, i, reason);
        if (!reason.empty()) b.tree.leftOut.push_back({m.stored, reason});
    }
    for (size_t n = 0; n < b.tree.nodes.size(); ++n)
        b.tree.nodes[n].children.assign(b.below[n].begin(), b.below[n].end());
    return std::move(b.tree);
}

uint64_t lookupChild(const MountTree& tree, uint64_t dir, const std::string& name) {
    const auto& children = tree.nodes[dir - 1].children;
    auto it = std::lower_bound(
        children.begin(), children.end(), name,
        [](const std::pair<std::string, uint64_t>& c, const std::string& n) { return c.first < n; });
    return it != children.end() && it->first == name ? it->second : 0;
}
