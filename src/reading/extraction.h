// The two walks over an archive's entries: listing prints every path as
// stored; extraction recreates directories and files below the current
// directory and decides what may be written there.
#pragma once

#include <string>
#include <vector>

#include "archive/entry.h"
#include "platform/platform.h"

// Prints the path of a file or directory. Set as onEntry, it lists every
// path in preorder while the TOC is read.
void printEntry(const Entry& e);

// Extracts every entry below the current directory, reading file bytes
// from the archive's data region. Refused entries and failed files are
// reported and set runFailed; the walk always goes on.
void extractFiles(File& f, const std::vector<Entry>& list);

// The path an entry is extracted to: leading root separators, drives
// ("C:") and ".." parts removed. False when a ".." part remains further on,
// which would climb out of the current directory. Parts are split at "\\"
// and at "/".
bool safePath(const std::string& name, std::string& used);
