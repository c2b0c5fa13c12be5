#include "archive/paths.h"

namespace dat::detail {

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Calls found(start, length) for each name of path between separators
// until it returns true; says whether it did.
template <typename Found>
bool anyName(const std::string& path, Found found) {
    for (size_t start = 0; start < path.size();) {
        size_t stop = start;
        while (stop < path.size() && !isSeparator(path[stop])) ++stop;
        if (found(start, stop - start)) return true;
        start = stop + 1;
    }
    return false;
}

}  // namespace

void splitPath(const std::string& path, std::vector<std::string>& names) {
    anyName(path, [&](size_t start, size_t length) {
        if (length > 0) names.push_back(path.substr(start, length));
        return false;
    });
}

bool hasUp(const std::string& path) {
    return anyName(
        path, [&](size_t start, size_t length) { return length == 2 && path.compare(start, 2, "..") == 0; });
}

bool safePath(const std::string& name, std::string& used) {
    size_t i = 0;
    for (;;) {
        while (i < name.size() && isSeparator(name[i])) ++i;
        // Both a drive and ".." are two characters.
        const bool drive = i + 1 < name.size() && isLetter(name[i]) && name[i + 1] == ':';
        const bool up = name.compare(i, 2, "..") == 0 && (i + 2 == name.size() || isSeparator(name[i + 2]));
        if (!drive && !up) break;
        i += 2;
    }
    used = name.substr(i);
    return !hasUp(used);
}

}  // namespace dat::detail
