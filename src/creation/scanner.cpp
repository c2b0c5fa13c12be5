#include "creation/scanner.h"

#include <algorithm>
#include <cstdio>

#include "archive/format.h"

namespace {

FileId archiveId;
// Identities of the directories from the top-level argument down to the
// one being scanned: a link to any of them would make the scan endless.
std::vector<FileId> scanPath;

// A file of 4 GiB or more cannot be described by the 32-bit size field.
// Saturating keeps it visible: such a size alone takes the archive past
// the length limit, so the archive is refused before anything is copied.
uint32_t storedSize(uint64_t size) { return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size); }

unsigned char upper(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c; }

void skip(const std::string& path, const char* reason, bool failure) {
    std::printf("Skipping %s: %s\n", path.c_str(), reason);
    if (failure) runFailed = true;
}

// True, after printing why, for an item that is not to be stored.
bool refused(const DirItem& item, const std::string& path) {
    switch (item.kind) {
    case ItemKind::dangling:
        skip(path, "link target is missing", true);
        return true;
    case ItemKind::other:
        skip(path, "not a regular file or directory", false);
        return true;
    case ItemKind::unreadable:
        skip(path, "cannot be examined", true);
        return true;
    case ItemKind::file:
    case ItemKind::directory:
        break;
    }
    // The reader splits names at "\\" and copies each into a 260-byte buffer.
    if (item.name.find('\\') != std::string::npos) {
        skip(path, "name contains a backslash", true);
        return true;
    }
    if (item.name.size() > maxNameLength) {
        skip(path, "name is longer than 259 bytes", true);
        return true;
    }
    if (item.kind == ItemKind::file && item.id == archiveId) {
        skip(path, "it is the archive being written", false);
        return true;
    }
    if (item.kind == ItemKind::directory &&
        std::find(scanPath.begin(), scanPath.end(), item.id) != scanPath.end()) {
        skip(path, "link leads back to a directory being scanned", false);
        return true;
    }
    return false;
}

}  // namespace

bool nameBefore(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = upper(static_cast<unsigned char>(a[i]));
        unsigned char y = upper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    // std::string compares as unsigned char, which is the plain byte order.
    return a < b;
}

uint32_t addDir(std::vector<Entry>& list, const std::string& directory) {
    std::vector<DirItem> items;
    if (!listDirectory(directory, items)) {
        std::puts("No files found");
        runFailed = true;
        return 0;
    }
    std::sort(items.begin(), items.end(),
              [](const DirItem& a, const DirItem& b) { return nameBefore(a.name, b.name); });
    uint32_t count = 0;
    for (const DirItem& item : items) {
        std::string path = directory + "\\" + item.name;
        if (refused(item, path)) continue;
        // The child count has 24 bits in the archive.
        if (count == maxChildCount) {
            skip(path, "directory holds more entries than an archive can", true);
            continue;
        }
        ++count;
        list.push_back(Entry{});
        Entry& e = list.back();
        e.name = item.name;
        e.path = path;
        if (item.kind == ItemKind::file) {
            e.type = typeFile;
            e.size = storedSize(item.size);
            continue;
        }
        e.type = typeDirectory;
        // The subdirectory is scanned completely before the next item.
        scanPath.push_back(item.id);
        e.count = addDir(e.child, path);
        scanPath.pop_back();
    }
    return count;
}

void buildTree(const std::vector<std::string>& dirs, const FileId& archive) {
    archiveId = archive;
    for (const std::string& dir : dirs) {
        if (dir.size() > maxNameLength) {
            skip(dir, "name is longer than 259 bytes", true);
            continue;
        }
        root.child.push_back(Entry{});
        Entry& e = root.child.back();
        e.type = typeDirectory;
        e.name = dir;
        scanPath.clear();
        FileId id;
        if (directoryId(dir, id)) scanPath.push_back(id);
        e.count = addDir(e.child, dir);
    }
    root.count = static_cast<uint32_t>(root.child.size());
}
