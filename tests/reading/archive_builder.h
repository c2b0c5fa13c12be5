// Builds archives in memory for tests that need one the committed samples
// do not hold: offsets and sizes are laid out the way a writer would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/keyed_stream.h"

struct Node {
    int32_t type = typeFile;
    std::string name;
    std::string data;  // files only
    std::vector<Node> child;
    uint8_t scrambled = 1;
};

inline Node fileNode(std::string name, std::string data, uint8_t scrambled = 1) {
    return {typeFile, std::move(name), std::move(data), {}, scrambled};
}
inline Node dirNode(std::string name, std::vector<Node> child = {}) {
    return {typeDirectory, std::move(name), {}, std::move(child), 0};
}

inline uint32_t bytesBelow(const std::vector<Node>& list) {
    uint32_t n = 0;
    for (const Node& e : list) n += static_cast<uint32_t>(e.data.size()) + bytesBelow(e.child);
    return n;
}

// Appends the plain records of list to toc and the files' bytes, with
// their flags, to data.
inline void layOut(const std::vector<Node>& list, std::vector<uint8_t>& toc,
                   std::vector<std::pair<std::string, uint8_t>>& data, uint32_t& at) {
    for (const Node& e : list) {
        Record r{e.type, e.name, at, 0, 0, e.scrambled};
        if (e.type == typeFile) {
            r.size = static_cast<uint32_t>(e.data.size());
            data.emplace_back(e.data, e.scrambled);
            at += r.size;
        } else if (e.type == typeDirectory) {
            r.size = bytesBelow(e.child);
            r.count = static_cast<uint32_t>(e.child.size());
            r.scrambled = 0;
        }
        putRecord(toc, r);
        if (e.type == typeDirectory) layOut(e.child, toc, data, at);
    }
}

// The plain TOC block, root record first, as the reader gets it.
inline std::vector<uint8_t> tocBlock(const std::vector<Node>& top) {
    std::vector<uint8_t> toc;
    putRecord(toc, {typeDirectory, "", 0, bytesBelow(top), static_cast<uint32_t>(top.size()), 0});
    std::vector<std::pair<std::string, uint8_t>> data;
    uint32_t at = 0;
    layOut(top, toc, data, at);
    return toc;
}

// A whole archive file, scrambled as stored.
inline std::string archiveBytes(const std::vector<Node>& top) {
    std::vector<uint8_t> out(magic, magic + magicSize);
    std::vector<uint8_t> toc = tocBlock(top);
    out.insert(out.end(), toc.begin(), toc.end());
    keyBlock(out.data(), out.data(), out.size(), keyAt(0));
    std::vector<std::pair<std::string, uint8_t>> data;
    uint32_t at = 0;
    std::vector<uint8_t> ignored;
    layOut(top, ignored, data, at);
    for (const auto& [bytes, scrambled] : data) {
        size_t start = out.size();
        out.insert(out.end(), bytes.begin(), bytes.end());
        if (scrambled) keyBlock(out.data() + start, out.data() + start, bytes.size(), keyAt(start));
    }
    return std::string(out.begin(), out.end());
}
