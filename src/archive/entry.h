// The in-memory tree of an archive's entries, shared by every command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Each entry keeps its own name only: the walks join paths as they go down,
// in one buffer, so a deep tree costs memory in proportion to its records
// and not to the lengths of its paths.
//
// A tree may be thousands of levels deep, so nothing walks it by a call per
// level: walks go through Preorder, and an entry frees what lies below it
// level by level. For the same reason an entry is moved, never copied.
struct Entry {
    uint8_t type = 0;     // 0 file, 1 directory; a read archive never keeps others
    std::string name;     // as stored, without the parents' names
    uint32_t offset = 0;  // relative to the data region
    uint32_t size = 0;    // file: bytes; directory: bytes of all files below
    uint32_t count = 0;   // directory: direct children
    uint8_t scrambled = 0;
    std::vector<Entry> child;  // in sibling order; walks are preorder

    Entry() = default;
    Entry(Entry&&) noexcept = default;
    Entry& operator=(Entry&&) noexcept = default;
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;
    ~Entry();
};

// The entries of a tree in preorder, each with its level (1 for the list it
// starts from), from a stack of its own. List is std::vector<Entry>, const
// or not; the walk must not change the child lists while it runs.
template <typename List>
class Preorder {
   public:
    using Item = std::conditional_t<std::is_const_v<List>, const Entry, Entry>;

    explicit Preorder(List& top) {
        if (!top.empty()) stack.emplace_back(&top, 0);
    }

    // The next entry, or nullptr when all were given.
    Item* next() {
        while (!stack.empty() && stack.back().second == stack.back().first->size()) stack.pop_back();
        if (stack.empty()) return nullptr;
        Item& e = (*stack.back().first)[stack.back().second++];
        level = stack.size();
        if (!e.child.empty()) stack.emplace_back(&e.child, 0);
        return &e;
    }

    // Of the entry next() gave last.
    size_t depth() const { return level; }

   private:
    std::vector<std::pair<List*, size_t>> stack;  // each list and the index of its next entry
    size_t level = 0;
};
