#include "creation/scanner.h"

#include <algorithm>
#include <utility>

#include "archive/format.h"
#include "archive/paths.h"
#include "creation/planner.h"

namespace dat::detail {

namespace {

// A file of 4 GiB or more cannot be described by the 32-bit size field.
// Saturating keeps it visible: such a size alone takes the archive past
// the length limit, so the archive is refused before anything is copied.
uint32_t storedSize(uint64_t size) {
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

unsigned char asciiUpper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// A skip that is a failure goes with the same reason unless the system
// gave a fuller one (why).
void skip(Reporter& report, const std::string& path, const char* reason, bool failed,
          const std::string& why = "") {
    if (failed)
        report.skipped(path, reason, why.empty() ? reason : why);
    else
        report.passedOver(path, reason);
}

}  // namespace

Scan::Scan(Reporter& r, std::vector<FileId> files)
    : report(r), own(std::move(files)), length(archiveLength(Entry{{typeDirectory, {}, 0, 0, 0, 0}, {}})) {}

bool tooLarge(const Scan& scan) {
    return scan.length > maxArchiveLength;
}

void plan(Scan& scan, const Entry& e) {
    scan.length += entryLength(e);
}

namespace {

// The limits extraction holds stored names to, for the items of a
// directory and the top-level arguments alike: true, after telling why,
// for a name the reader would refuse (longer than maxNameLength) and for a
// path too long to be made (a directory's path is joined with a "\\" at its
// end).
bool nameTooLong(Reporter& report, const std::string& name, const std::string& path) {
    if (name.size() <= maxNameLength) return false;
    skip(report, path, "name is longer than 259 bytes", true);
    return true;
}
bool pathTooLong(Reporter& report, const std::string& path, bool dir) {
    if (path.size() + (dir ? 1 : 0) <= maxPathLength()) return false;
    skip(report, path, "path is too long to be extracted", true);
    return true;
}

// True, after telling why, for an item that is not to be stored.
bool refused(const Scan& scan, const DirItem& item, const std::string& path) {
    Reporter& report = scan.report;
    switch (item.kind) {
        case ItemKind::dangling:
            skip(report, path, "link target is missing", true);
            return true;
        case ItemKind::other:
            skip(report, path, "not a regular file or directory", false);
            return true;
        case ItemKind::unreadable:
            skip(report, path, "cannot be examined", true, item.reason);
            return true;
        case ItemKind::denied:
            // Caught now, it is not stored as a file of zeros.
            skip(report, path, item.reason.c_str(), true);
            return true;
        case ItemKind::unnamed:
            // Stored under another name, it would be another file's.
            skip(report, path, "name has characters the ANSI code page lacks", true);
            return true;
        case ItemKind::file:
        case ItemKind::directory:
            break;
    }
    // Names on disk are never empty, so the limit on a path also keeps
    // trees within the reader's depth limit (2048 levels take at least 4096
    // bytes).
    const bool dir = item.kind == ItemKind::directory;
    if (nameRefused(report, item.name, path, dir)) return true;
    // The first is the archive as named; the others are this run's own
    // temporary files, left out without a word.
    const auto own = std::find(scan.own.begin(), scan.own.end(), item.id);
    if (item.kind == ItemKind::file && own != scan.own.end()) {
        if (own == scan.own.begin()) skip(report, path, "it is the archive being written", false);
        return true;
    }
    if (item.kind == ItemKind::directory &&
        std::find(scan.path.begin(), scan.path.end(), item.id) != scan.path.end()) {
        skip(report, path, "link leads back to a directory being scanned", false);
        return true;
    }
    return false;
}

}  // namespace

bool nameBefore(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = asciiUpper(static_cast<unsigned char>(a[i]));
        unsigned char y = asciiUpper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    // std::string compares as unsigned char, which is the plain byte order.
    return a < b;
}

namespace {

// One directory being scanned: its items in name order, the next one to
// look at, and where its entries and their count go.
struct Listing {
    std::string directory;
    std::vector<DirItem> items;
    size_t next;
    std::vector<Entry>* list;
    uint32_t* count;
};

// Lists directory for the scan, unless the archive is too large already;
// a directory that cannot be listed is said so and holds nothing.
Listing listingOf(const Scan& scan, const std::string& directory, std::vector<Entry>& list, uint32_t& count) {
    count = 0;
    Listing l{directory, {}, 0, &list, &count};
    if (tooLarge(scan)) return l;
    if (!listDirectory(directory, l.items)) {
        scan.report.notListed(directory, lastError());
        l.items.clear();
        return l;
    }
    std::sort(l.items.begin(), l.items.end(),
              [](const DirItem& a, const DirItem& b) { return nameBefore(a.name, b.name); });
    return l;
}

// Appends an entry for every storable item of directory to list, in name
// order, and below it for every subdirectory; returns how many it appended
// here.
uint32_t addDir(Scan& scan, std::vector<Entry>& list, const std::string& directory) {
    uint32_t top = 0;
    // The directories being scanned, from directory down: a subdirectory is
    // scanned completely before the next item of the one holding it. Its
    // entry's list and count stay in place meanwhile, as the list holding
    // it grows no more until then.
    std::vector<Listing> open;
    open.push_back(listingOf(scan, directory, list, top));
    while (!open.empty()) {
        Listing& l = open.back();
        if (l.next == l.items.size() || tooLarge(scan)) {
            const bool sub = open.size() > 1;
            open.pop_back();
            if (sub) scan.path.pop_back();
            continue;
        }
        const DirItem& item = l.items[l.next++];
        std::string path = l.directory + "\\" + item.name;
        if (refused(scan, item, path)) continue;
        // The child count has 24 bits in the archive.
        if (*l.count == maxChildCount) {
            skip(scan.report, path, "directory holds more entries than an archive can", true);
            continue;
        }
        ++*l.count;
        l.list->push_back(Entry{});
        Entry& e = l.list->back();
        e.name = item.name;
        if (item.kind == ItemKind::file) {
            e.type = typeFile;
            e.size = storedSize(item.size);
            plan(scan, e);
            continue;
        }
        e.type = typeDirectory;
        plan(scan, e);
        scan.path.push_back(item.id);
        open.push_back(listingOf(scan, path, e.child, e.count));
    }
    return top;
}

}  // namespace

bool topNameRefused(Reporter& report, const std::string& dir) {
    // A top-level directory is stored under its name as typed.
    std::string extractedAs;
    if (nameTooLong(report, dir, dir)) return true;
    // Scanned as a path, a "\\" would be stored as one name and read back
    // as two.
    if (!backslashSeparates() && dir.find('\\') != std::string::npos) {
        skip(report, dir, "name contains a backslash", true);
        return true;
    }
    if (!safePath(dir, extractedAs)) {
        skip(report, dir, "path leaves the current directory", true);
        return true;
    }
    return pathTooLong(report, dir, true);
}

void scanInto(Scan& scan, Entry& e, const std::string& directory) {
    scan.path.clear();
    FileId id;
    if (directoryId(directory, id)) scan.path.push_back(id);
    e.count = addDir(scan, e.child, directory);
}

bool addArgument(Scan& scan, std::vector<Entry>& list, const std::string& dir) {
    if (tooLarge(scan) || topNameRefused(scan.report, dir)) return false;
    list.push_back(Entry{});
    Entry& e = list.back();
    e.type = typeDirectory;
    e.name = dir;
    plan(scan, e);
    scanInto(scan, e, dir);
    return true;
}

bool nameRefused(Reporter& report, const std::string& name, const std::string& path, bool dir) {
    if (name.find('\\') != std::string::npos) {
        skip(report, path, "name contains a backslash", true);
        return true;
    }
    if (nameTooLong(report, name, path)) return true;
    if (!nameAllowed(name)) {
        skip(report, path, "name is reserved on Windows", true);
        return true;
    }
    return pathTooLong(report, path, dir);
}

void buildTree(Entry& root, const std::vector<std::string>& dirs, const std::vector<FileId>& own,
               Reporter& report) {
    Scan scan(report, own);
    for (const std::string& dir : dirs) {
        if (tooLarge(scan)) break;
        addArgument(scan, root.child, dir);
    }
    root.count = static_cast<uint32_t>(root.child.size());
}

}  // namespace dat::detail
