#include "creation/planner.h"

#include <string>

#include "archive/format.h"

namespace dat::detail {

namespace {

uint64_t subtreeLength(const std::vector<Entry>& list) {
    uint64_t n = 0;
    for (const Entry& e : list) {
        n += entryLength(e);
        if (e.type == typeDirectory) n += subtreeLength(e.child);
    }
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
    for (Entry& e : list) {
        if (e.type == typeFile) {
            e.scrambled = storedPlain(e.name) ? 0 : 1;
            e.offset = running;
            running += e.size;
        } else if (e.type == typeDirectory) {
            e.scrambled = 0;
            e.offset = running;
            if (!e.child.empty()) {
                running = fixupTree(e.child, running);
                e.size = running - e.offset;
            }
        }
    }
    return running;
}

uint64_t entryLength(const Entry& e) {
    return recordSize(e.type, e.name.size()) + (e.type == typeFile ? uint64_t(e.size) : 0);
}

uint64_t archiveLength(const Entry& top) {
    return magicSize + recordSize(top.type, top.name.size()) + subtreeLength(top.child);
}

}  // namespace dat::detail
