// The path rules and limits that creation and extraction share: how a
// stored name splits into names, which parts climb out of the current
// directory, and how deep and long an archive may be. Creation refuses what
// extraction would refuse, so both follow these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dat::detail {

// The tree's depth is bounded: the reader reports a deeper archive as
// damaged and the scanner skips deeper directories. 2048 levels hold any
// path of two bytes or more per level. No walk takes a call per level, so
// the bound is not the stack's: an archive this deep opens on a small one.
constexpr uint32_t maxDepth = 2048;

// The format's offsets are 32-bit, so an archive must stay below 4 GiB.
constexpr uint64_t maxArchiveLength = UINT32_MAX;

// Archives made on Windows may use either separator.
inline bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// The names of a stored path one after another, as a file system takes
// them: split at either separator, with empty names and "." left out, as
// they open the directory they stand in. This is the one place a stored
// path is split into names.
//
//     for (NameCursor n(path); n.next();) use(n.name());
class NameCursor {
   public:
    // From offset from of path, which the cursor does not own.
    explicit NameCursor(std::string_view path, size_t from = 0) : text(path), first(from), stop(from) {}

    // Moves to the next name; false when there is none.
    bool next() {
        for (;;) {
            first = stop;
            while (first < text.size() && isSeparator(text[first])) ++first;
            if (first >= text.size()) {
                first = stop = text.size();
                return false;
            }
            stop = first;
            while (stop < text.size() && !isSeparator(text[stop])) ++stop;
            if (stop - first != 1 || text[first] != '.') return true;
        }
    }

    std::string_view name() const { return text.substr(first, stop - first); }
    size_t start() const { return first; }  // of the name in the path
    size_t end() const { return stop; }

   private:
    std::string_view text;
    size_t first, stop;
};

// The name that starts at offset start of path, up to the next separator.
std::string_view nameAt(std::string_view path, size_t start);

// Where the last name of path starts: past its last separator. A file's
// own name is what follows; what comes before holds its directories.
size_t lastNameAt(std::string_view path);

// Whether the first b.size() bytes of a are the stored path b, either
// separator taken for the other.
bool startsWithPath(std::string_view a, std::string_view b);

// Appends the names of a path, as NameCursor gives them.
void splitPath(std::string_view path, std::vector<std::string>& names);

// Whether a ".." name appears anywhere in path.
bool hasUp(std::string_view path);

// The path an entry is extracted to: leading root separators, drives
// ("C:") and ".." parts removed. False when a ".." part remains further on,
// which would climb out of the current directory.
bool safePath(const std::string& name, std::string& used);

}  // namespace dat::detail
