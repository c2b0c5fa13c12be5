// The path rules and limits that creation and extraction share: how a
// stored name splits into names, which parts climb out of the current
// directory, and how deep and long an archive may be. Creation refuses what
// extraction would refuse, so both follow these.
#pragma once

#include <cstdint>
#include <string>
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

// Appends the names of a relative path, empty ones left out. Names are
// split at "\\" and at "/".
void splitPath(const std::string& path, std::vector<std::string>& names);

// Whether a ".." part appears anywhere in path.
bool hasUp(const std::string& path);

// The path an entry is extracted to: leading root separators, drives
// ("C:") and ".." parts removed. False when a ".." part remains further on,
// which would climb out of the current directory.
bool safePath(const std::string& name, std::string& used);

}  // namespace dat::detail
