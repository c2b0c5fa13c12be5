// The mounted tree: the library's numbering of what "x" makes, as inodes.
// Inode n is nodes[n - 1], so the root is inode 1 as the kernel expects.
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

struct MountNode {
    bool directory = true;
    uint64_t parent = 1;  // inode
    uint64_t size = 0;
    size_t member = 0;  // files: the archive's entry whose bytes it shows
    // Directories: (name, inode) in the order "x" makes them.
    std::vector<std::pair<std::string, uint64_t>> children;
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
};

// The longest name a directory entry may hold here; "x" makes none longer.
constexpr size_t maxMountName = 255;

// Numbers what source shows as inodes: its node n is inode n + 1.
MountTree buildTree(const Source& source);

// The inode of name in directory dir; 0 when there is none.
uint64_t lookupChild(const MountTree& tree, uint64_t dir, const std::string& name);

}  // namespace dat::detail
