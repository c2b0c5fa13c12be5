#include "archive/paths.h"

namespace dat::detail {

namespace {

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

std::string_view nameAt(std::string_view path, size_t start) {
    size_t stop = start;
    while (stop < path.size() && !isSeparator(path[stop])) ++stop;
    return path.substr(start, stop - start);
}

size_t lastNameAt(std::string_view path) {
    size_t at = path.size();
    while (at > 0 && !isSeparator(path[at - 1])) --at;
    return at;
}

bool startsWithPath(std::string_view a, std::string_view b) {
    if (a.size() < b.size()) return false;
    for (size_t i = 0; i < b.size(); ++i)
        if (a[i] != b[i] && !(isSeparator(a[i]) && isSeparator(b[i]))) return false;
    return true;
}

void splitPath(std::string_view path, std::vector<std::string>& names) {
    for (NameCursor n(path); n.next();) names.emplace_back(n.name());
}

bool hasUp(std::string_view path) {
    for (NameCursor n(path); n.next();)
        if (n.name() == "..") return true;
    return false;
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
