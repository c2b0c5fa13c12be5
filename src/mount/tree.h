// The mounted tree: exactly the files and directories "x" would leave on
// disk, built from the archive's members. Inode n is nodes[n - 1], so the
// root is inode 1 as the kernel expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/name_hash.h"
#include "mount/source.h"

namespace dat::detail {

constexpr size_t noMember = noParent;

struct MountNode {
    bool directory = true;
    uint64_t parent = 1;  // inode
    uint64_t size = 0;
    size_t member = noMember;  // files: the member whose bytes it shows
    // Directories: (name, inode) in the order "x" makes them.
    std::vector<std::pair<std::string, uint64_t>> children;
};

// A member the mount leaves out, and why.
struct LeftOut {
    size_t member = 0;
    std::string reason;
};

// A name in a directory, for finding it again.
struct NameKey {
    uint64_t dir = 0;
    std::string name;
    bool operator==(const NameKey& o) const { return dir == o.dir && name == o.name; }
};
// Keyed, so that an archive's names cannot all fall into one bucket.
struct NameKeyHash {
    NameHash hash{this};
    size_t operator()(const NameKey& k) const { return static_cast<size_t>(hash(k.dir, k.name)); }
};

struct MountTree {
    std::vector<MountNode> nodes = std::vector<MountNode>(1);
    std::unordered_map<NameKey, uint64_t, NameKeyHash> index;  // (directory, name) -> inode
    std::vector<LeftOut> leftOut;
};

// The longest name a directory entry may hold here; "x" cannot make a
// longer one, so the mount leaves it out as well.
constexpr size_t maxMountName = 255;

// Builds the tree from members in stored order: directories of one path
// merge, a later file replaces an earlier one of its path, and what "x"
// refuses, or could not name, is left out with its reason.
MountTree buildTree(const std::vector<Member>& members);

// The inode of name in directory dir; 0 when there is none.
uint64_t lookupChild(const MountTree& tree, uint64_t dir, const std::string& name);

}  // namespace dat::detail
