// The in-memory tree of an archive's entries, shared by every command.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "archive/format.h"

namespace dat::detail {

// An entry is its record, as the reader decoded it or the writer encodes
// it, with the entries below it. type is typeFile or typeDirectory: a read
// archive keeps no others. name is the entry's own, as stored up to any
// zero byte, without the parents' names: the walks join paths as they go
// down, in one buffer, so a deep tree costs memory in proportion to its
// records and not to the lengths of its paths. offset is relative to the
// data region; a directory's size is the bytes of all files below it, its
// count its direct children.
//
// A tree may be thousands of levels deep, so nothing walks it by a call per
// level: walks go through Preorder, and an entry frees what lies below it
// level by level. For the same reason an entry is moved, never copied.
struct Entry : Record {
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

}  // namespace dat::detail
