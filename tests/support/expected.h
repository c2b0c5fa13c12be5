// What tests/data/make_samples.py writes beside each sample archive
// (<name>.expected): what "l" and "x" print, their statuses and the tree
// "x" leaves. The tool's tests and the library's read the same files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

// One command's output after "Parsing TOC...": whole, or for long ones
// only its line count, byte count, FNV-1a hash and last line.
struct ExpectedOutput {
    bool whole = false;
    std::string bytes;
    size_t lines = 0, size = 0;
    uint64_t hash = 0;
    std::string last;
};

struct Expected {
    int listStatus = -1, extractStatus = -1;
    ExpectedOutput list, extract;
    ExpectedOutput listErrors, extractErrors;  // standard error, the archive as "<archive>"
    std::map<std::string, std::string> tree;   // as treeOf gives it
};

uint64_t fnv1a64(const std::string& s);

// The format make_samples.py writes: "key value" lines; a block of bytes
// follows a line ending in its length, and a line break follows the block.
Expected parseExpected(const std::string& text);
