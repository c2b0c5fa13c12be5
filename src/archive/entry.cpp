#include "archive/entry.h"

#include <new>

namespace dat::detail {

// The lists below this entry are taken out one by one and freed once none
// of their entries holds a list of its own, so freeing a tree takes a
// heap of lists and no call per level.
Entry::~Entry() {
    if (child.empty()) return;
    try {
        std::vector<std::vector<Entry>> lists;
        lists.push_back(std::move(child));
        while (!lists.empty()) {
            std::vector<Entry> list = std::move(lists.back());
            lists.pop_back();
            for (Entry& e : list)
                if (!e.child.empty()) lists.push_back(std::move(e.child));
        }
    } catch (const std::bad_alloc&) {
        // With no memory for the heap of lists, what is left goes the
        // plain way, a call per level.
    }
}

}  // namespace dat::detail
