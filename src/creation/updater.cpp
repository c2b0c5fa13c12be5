#include "creation/updater.h"

#include <algorithm>
#include <unordered_set>

#include "archive/format.h"
#include "archive/paths.h"
#include "creation/planner.h"
#include "creation/scanner.h"

namespace dat::detail {

namespace {

// A record's fields as decoded, to compare with what planning makes of them.
struct Planned {
    uint32_t offset, size, count;
    uint8_t scrambled;
    bool operator==(const Planned& o) const {
        return offset == o.offset && size == o.size && count == o.count && scrambled == o.scrambled;
    }
};

Planned fieldsOf(const Entry& e) {
    return {e.offset, e.size, e.count, e.scrambled};
}

// What is wrong with the names of list, the children of one directory;
// empty when nothing. Below the top "c" stores the names of the disk, in
// its order, which takes each name once; at the top the names as typed,
// in the order typed.
std::string badName(const std::vector<Entry>& list, size_t i, bool top) {
    const std::string& name = list[i].name;
    if (name.empty()) return "an empty name is stored";
    if (!top && name.find_first_of("\\/") != std::string::npos) return name + " holds a separator";
    if (top) {
        for (size_t j = 0; j < i; ++j)
            if (list[j].name == name) return name + " is stored twice";
        return "";
    }
    if (i == 0 || nameBefore(list[i - 1].name, name)) return "";
    return name == list[i - 1].name ? name + " is stored twice" : name + " is out of order";
}

std::string badNames(const std::vector<Entry>& list, bool top) {
    for (size_t i = 0; i < list.size(); ++i) {
        std::string why = badName(list, i, top);
        if (!why.empty()) return why;
    }
    return "";
}

// What "x" refuses of the archive, or a path it would write twice.
std::string refusedPaths(const Archive& a) {
    const std::vector<Verdict> verdicts = judgeExtraction(a);
    for (size_t i = 0; i < verdicts.size(); ++i) {
        if (verdicts[i].refusal != Refusal::none)
            return storedPath(verdicts, i) + ": " + reasonOf(verdicts[i].refusal);
        if (verdicts[i].replaced) return storedPath(verdicts, i) + " is stored twice";
    }
    return "";
}

// Inserts e into list where "c" would have it: at the top after the rest,
// as a new argument comes last; below it in name order. Returns it.
Entry& insertEntry(std::vector<Entry>& list, Entry e, bool top) {
    auto at = top ? list.end()
                  : std::lower_bound(
                        list.begin(), list.end(), e.name,
                        [](const Entry& x, const std::string& name) { return nameBefore(x.name, name); });
    return *list.insert(at, std::move(e));
}

Entry* findEntry(std::vector<Entry>& list, const std::string& name) {
    for (Entry& e : list)
        if (e.name == name) return &e;
    return nullptr;
}

// The top-level entry whose whole name starts path at a name's end, the
// longest; sets rest to what follows it.
Entry* topOf(std::vector<Entry>& top, const std::string& path, std::string& rest) {
    Entry* found = nullptr;
    for (Entry& e : top) {
        const size_t n = e.name.size();
        const bool starts = startsWithPath(path, e.name) && (n == path.size() || isSeparator(path[n]));
        if (starts && (!found || n > found->name.size())) found = &e;
    }
    if (found) rest = path.substr(found->name.size());
    return found;
}

// What stands at path on disk, as an entry named name, the files in it
// marked as read from disk; false, with why, when nothing can be stored.
bool fileFromDisk(const std::string& path, const std::vector<FileId>& own, Entry& e, std::string& why) {
    File in = fileOpenRead(path);
    FileId id;
    if (!in) return why = lastError(), false;
    if (!regularFileId(in, id)) return why = "not a regular file or directory", false;
    if (std::find(own.begin(), own.end(), id) != own.end())
        return why = "it is the archive being written", false;
    const uint64_t size = fileLength(in);
    e.type = typeFile;
    e.size = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    return true;
}

bool entryFromDisk(const std::string& path, const std::string& name, const std::vector<FileId>& own,
                   Reporter& report, Entry& e, std::string& why) {
    FileId id;
    if (!directoryId(path, id)) {
        if (!fileFromDisk(path, own, e, why)) return false;
    } else {
        Entry top;
        buildTree(top, {path}, own, report);
        if (top.child.empty()) return why = "cannot be stored", false;
        e = std::move(top.child.front());
    }
    e.name = name;
    // Read from disk by the path its names join to, which is where it lies.
    e.offset = 0;
    Preorder<std::vector<Entry>> walk(e.child);
    while (Entry* below = walk.next()) below->offset = 0;
    return true;
}

// Whether a name from a path given may be stored below the top.
bool storable(const std::string& name, std::string& why) {
    if (name.size() > maxNameLength)
        why = "name is longer than 259 bytes";
    else if (name.find('\\') != std::string::npos)
        why = "name contains a backslash";
    else if (!nameAllowed(name))
        why = "name is reserved on Windows";
    else
        return true;
    return false;
}

// The directory named name in list, made when missing; a file there gives
// way to it, as the disk holds a directory of that name.
std::vector<Entry>& directoryIn(std::vector<Entry>& list, const std::string& name, bool top) {
    Entry* d = findEntry(list, name);
    if (!d) {
        Entry made;
        made.name = name;
        d = &insertEntry(list, std::move(made), top);
    }
    if (d->type != typeDirectory) {
        d->child.clear();
        d->type = typeDirectory;
        d->offset = d->size = 0;
        d->scrambled = 0;
    }
    return d->child;
}

// The name of path's top-level entry, in top, and the names below it.
std::vector<std::string> placeOf(Entry& root, const std::string& path, std::string& top) {
    std::string rest;
    std::vector<std::string> names;
    const Entry* t = topOf(root.child, path, rest);
    if (t) {
        top = t->name;
    } else {
        NameCursor first(path);
        first.next();
        top = std::string(first.name());
        rest = path.substr(first.end());
    }
    splitPath(rest, names);
    return names;
}

// Sets each directory's count to its children, as the records must say.
void countChildren(Entry& root) {
    root.count = static_cast<uint32_t>(root.child.size());
    Preorder<std::vector<Entry>> walk(root.child);
    while (Entry* e = walk.next())
        if (e->type == typeDirectory) e->count = static_cast<uint32_t>(e->child.size());
}

}  // namespace

std::string unchangeable(Archive& a, uint64_t length) {
    std::string why = badNames(a.root.child, true);
    std::vector<Planned> stored = {fieldsOf(a.root)};
    Preorder<std::vector<Entry>> walk(a.root.child);
    while (const Entry* e = walk.next()) {
        stored.push_back(fieldsOf(*e));
        if (why.empty() && e->type == typeDirectory) why = badNames(e->child, false);
    }
    if (!why.empty()) return why;
    countChildren(a.root);
    a.root.size = fixupTree(a.root.child, 0);
    size_t i = 1;
    Preorder<std::vector<Entry>> again(a.root.child);
    while (const Entry* e = again.next())
        if (!(fieldsOf(*e) == stored[i++])) return e->name + " is not stored as \"c\" stores it";
    if (!(fieldsOf(a.root) == stored[0]) || archiveLength(a.root) != length)
        return "its length is not what its records make";
    return refusedPaths(a);
}

bool addPath(Entry& root, const std::string& path, const std::vector<FileId>& own, Reporter& report,
             std::string& why) {
    std::string used;
    if (!safePath(path, used) || used != path || hasUp(path))
        return why = "path leaves the current directory", false;
    std::string top;
    const std::vector<std::string> names = placeOf(root, path, top);
    for (const std::string& name : names)
        if (!storable(name, why)) return false;
    Entry e;
    if (top.empty()) return why = "names nothing", false;
    if (!entryFromDisk(path, names.empty() ? top : names.back(), own, report, e, why)) return false;
    std::vector<Entry>* list = &root.child;
    if (!names.empty()) {
        list = &directoryIn(root.child, top, true);
        for (size_t k = 0; k + 1 < names.size(); ++k) list = &directoryIn(*list, names[k], false);
    }
    Entry* old = findEntry(*list, e.name);
    if (old)
        *old = std::move(e);
    else
        insertEntry(*list, std::move(e), names.empty());
    return true;
}

void removeSelected(Archive& a, const std::vector<Verdict>& verdicts, const std::vector<bool>& selected) {
    std::unordered_set<const Entry*> gone;
    for (size_t i = 0; i < verdicts.size(); ++i)
        if (selected[i]) gone.insert(verdicts[i].entry);
    // Every list that holds entries, deepest last in stored order: emptied
    // from the last on, no list is touched after the one holding it.
    std::vector<std::vector<Entry>*> lists = {&a.root.child};
    Preorder<std::vector<Entry>> walk(a.root.child);
    while (Entry* e = walk.next())
        if (!e->child.empty()) lists.push_back(&e->child);
    for (auto l = lists.rbegin(); l != lists.rend(); ++l) {
        std::vector<Entry>& list = **l;
        const auto stays = [&](const Entry& e) { return gone.count(&e) == 0; };
        if (std::all_of(list.begin(), list.end(), stays)) continue;
        std::vector<Entry> kept;
        for (Entry& e : list)
            if (stays(e)) kept.push_back(std::move(e));
        list = std::move(kept);
    }
}

}  // namespace dat::detail
