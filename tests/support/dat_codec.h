// The tests' own encoder and decoder of DAT archives, written from the
// format and sharing no code with the tool: tests that build
// archives or check what the writer made stay independent of the reader and
// writer they test. Both test programs link it; neither direction includes
// anything from src/.
//
//   offset 0        "tolva"
//   offset 5        root record: a directory with an empty name, 16 bytes
//   offset 21       every other record, in preorder
//   offset tocSize  the bytes of every file, in the same preorder
//
// A record: type (1 byte: 0 file, 1 directory), name length L (16-bit), the
// name, offset (32-bit), size (32-bit), then for a file the scrambled flag
// (1 byte) and for a directory its child count * 256 (32-bit) and a 0 byte.
// All integers little-endian. A scrambled byte at offset p is stored XOR
// (0x3D + 0xA7 * p) mod 256.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace dat {
constexpr int fileType = 0;
constexpr int dirType = 1;
// The key byte at absolute offset p.
inline uint8_t key(uint64_t p) {
    return static_cast<uint8_t>((0x3D + 0xA7 * (p % 256)) % 256);
}
// bytes XOR the key, as if they stood at absolute offset `at`.
std::string scramble(std::string bytes, uint64_t at);

// Where each field of a record lies, counted from the record's first byte,
// for a record of this type with a name of nameLength bytes. Tests that
// change single fields of an archive find them here.
struct RecordFields {
    size_t type = 0;        // 1 byte
    size_t nameLength = 1;  // 16-bit
    size_t name = 3;
    size_t offset;  // 32-bit
    size_t size;    // 32-bit
    size_t flag;    // files: scrambled, 1 byte; directories: 0, 1 byte
    size_t count;   // directories: child count * 256, 32-bit; files: end
    size_t end;     // the record's length
};
RecordFields fieldsOf(int type, size_t nameLength);
}  // namespace dat

// ---- Building archives, for tests that need one the samples do not hold:
// offsets and sizes are laid out the way a writer would.

struct Node {
    int type = dat::fileType;  // any other value than 0 and 1: only type and name are stored
    std::string name;
    std::string data;  // files only
    std::vector<Node> child;
    uint8_t scrambled = 1;
};

inline Node fileNode(std::string name, std::string data, uint8_t scrambled = 1) {
    return {dat::fileType, std::move(name), std::move(data), {}, scrambled};
}
inline Node dirNode(std::string name, std::vector<Node> child = {}) {
    return {dat::dirType, std::move(name), {}, std::move(child), 0};
}

// The plain TOC block, root record first, as the reader gets it.
std::vector<uint8_t> tocBlock(const std::vector<Node>& top);
// A whole archive file, scrambled as stored.
std::string archiveBytes(const std::vector<Node>& top);

// ---- Decoding what the writer made.

struct UnpackedRecord {
    uint64_t at = 0;  // absolute offset of the record's first byte
    int type = dat::fileType;
    std::string name;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t count = 0;  // directories: direct children
    uint8_t scrambled = 0;
};

struct Unpacked {
    UnpackedRecord root;
    std::vector<UnpackedRecord> records;      // every record after root, in TOC order
    std::vector<std::string> paths;           // the joined path of each record, "/" between names
    std::map<std::string, std::string> tree;  // as treeOf gives it: "<dir>" or the file's bytes
};

// Throws std::runtime_error when the archive is not what a writer following
// the format produces: wrong magic, a truncated TOC, a record of another
// type, directory fields that disagree with what lies below, files not back
// to back, records that do not end where the data begins.
Unpacked unpack(const std::string& archive);
