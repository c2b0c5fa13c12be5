#include "creation/planner.h"

#include <string>

#include "archive/format.h"

namespace dat::detail {

namespace {

uint64_t subtreeLength(const std::vector<Entry>& list) {
    uint64_t n = 0;
    Preorder<const std::vector<Entry>> walk(list);
    while (const Entry* e = walk.next()) n += entryLength(*e);
    return n;
}

}  // namespace

bool storedPlain(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    return tail == ".tex" || tail == ".msh" || tail == ".TEX" || tail == ".MSH";
}

uint32_t fixupTree(std::vector<Entry>& list, uint32_t start) {
    uint32_t running = start;
    // The directories above the entry at hand that hold entries: each
    // one's size is known once the walk has left it.
    std::vector<Entry*> open;
    auto leave = [&](size_t keep) {
        for (; open.size() > keep; open.pop_back()) open.back()->size = running - open.back()->offset;
    };
    Preorder<std::vector<Entry>> walk(list);
    while (Entry* e = walk.next()) {
        leave(walk.depth() - 1);
        if (e->type == typeFile) {
            e->scrambled = storedPlain(e->name) ? 0 : 1;
            e->offset = running;
            running += e->size;
        } else if (e->type == typeDirectory) {
            e->scrambled = 0;
            e->offset = running;
            // A directory without entries keeps its size.
            if (!e->child.empty()) open.push_back(e);
        }
    }
    leave(0);
    return running;
}

uint64_t entryLength(const Entry& e) {
    return recordSize(e.type, e.name.size()) + (e.type == typeFile ? uint64_t(e.size) : 0);
}

uint64_t archiveLength(const Entry& top) {
    return magicSize + recordSize(top.type, top.name.size()) + subtreeLength(top.child);
}

}  // namespace dat::detail
