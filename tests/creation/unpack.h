// Decodes an archive inside the tests, independently of the tool's reader,
// so what the writer produced can be checked against the tree on disk.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/format.h"

struct Unpacked {
    Record root;
    std::vector<Record> records;                // every record after root, in TOC order
    std::vector<std::string> paths;             // the joined path of each record, "/" between names
    std::map<std::string, std::string> tree;    // as treeOf gives it: "<dir>" or the file's bytes
    uint64_t dataEnd = 0;                       // running end of the file data seen so far
};

inline std::string descramble(const std::string& archive, size_t from, size_t n) {
    std::string out = archive.substr(from, n);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ keyAt(from + i));
    return out;
}

namespace unpackDetail {

inline void walk(const std::string& archive, size_t dataStart, const uint8_t*& cursor, const uint8_t* end,
                 uint32_t count, const std::string& prefix, Unpacked& u) {
    for (uint32_t i = 0; i < count; ++i) {
        Record r;
        if (takeRecord(cursor, end, r) != Decode::ok) throw std::runtime_error("truncated TOC");
        std::string path = prefix + r.name;
        u.records.push_back(r);
        u.paths.push_back(path);
        if (r.type == typeDirectory) {
            u.tree[path] = "<dir>";
            walk(archive, dataStart, cursor, end, r.count, path + "/", u);
        } else {
            // Files must lie back to back in TOC order.
            if (r.offset != u.dataEnd) throw std::runtime_error("gap or overlap at " + path);
            u.dataEnd += r.size;
            size_t at = dataStart + r.offset;
            if (at + r.size > archive.size()) throw std::runtime_error("data past the end");
            u.tree[path] = r.scrambled ? descramble(archive, at, r.size) : archive.substr(at, r.size);
        }
    }
}

}  // namespace unpackDetail

// Throws when the archive is not what the writer should produce: wrong
// magic, a truncated TOC, records that do not end where the data begins.
inline Unpacked unpack(const std::string& archive) {
    if (archive.size() < headerSize || descramble(archive, 0, magicSize) != magic)
        throw std::runtime_error("no archive header");
    Unpacked u;
    std::string rootBytes = descramble(archive, magicSize, rootRecordSize);
    const auto* p = reinterpret_cast<const uint8_t*>(rootBytes.data());
    if (takeRecord(p, p + rootBytes.size(), u.root) != Decode::ok) throw std::runtime_error("root");
    if (u.root.size > archive.size() - headerSize) throw std::runtime_error("root size too large");
    size_t dataStart = archive.size() - u.root.size;
    std::string toc = descramble(archive, headerSize, dataStart - headerSize);
    const auto* cursor = reinterpret_cast<const uint8_t*>(toc.data());
    const uint8_t* end = cursor + toc.size();
    unpackDetail::walk(archive, dataStart, cursor, end, u.root.count, "", u);
    if (cursor != end) throw std::runtime_error("records do not end where the data begins");
    if (u.dataEnd != u.root.size) throw std::runtime_error("data region not filled exactly");
    return u;
}
