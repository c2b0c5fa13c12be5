#include "mount/tree.h"

namespace dat::detail {

MountTree buildTree(const Source& source) {
    MountTree tree;
    tree.nodes.resize(source.shown.size());
    tree.index.reserve(source.shown.size());
    for (size_t i = 1; i < source.shown.size(); ++i) {
        const Shown& s = source.shown[i];
        const uint64_t ino = i + 1, dir = s.parent + 1;
        MountNode& n = tree.nodes[i];
        n.directory = s.directory;
        n.parent = dir;
        n.size = s.size;
        n.member = s.member;
        tree.nodes[dir - 1].children.emplace_back(s.name, ino);
        tree.index.emplace(NameKey{dir, s.name}, ino);
    }
    return tree;
}

uint64_t lookupChild(const MountTree& tree, uint64_t dir, const std::string& name) {
    auto it = tree.index.find({dir, name});
    return it == tree.index.end() ? 0 : it->second;
}

}  // namespace dat::detail
