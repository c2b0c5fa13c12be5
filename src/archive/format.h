// The DAT archive layout, written down once. The writer encodes records with
// putRecord and the reader decodes them with takeRecord, so the two cannot
// drift apart.
//
//   offset 0        "tolva", scrambled
//   offset 5        root record: a directory with an empty name, 16 bytes
//   offset 21       every other record, in preorder
//   offset tocSize  the bytes of every file, in the same preorder, back to back
//
// A scrambled byte at absolute offset p is stored as plain ^ k(p), with
// k(p) = (0x3D + 0xA7 * p) mod 256. All integers are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dat::detail {

constexpr char magic[] = "tolva";
constexpr uint32_t magicSize = 5;
constexpr uint8_t initialKey = 0x3D;
constexpr uint8_t keyStepValue = 0xA7;

constexpr uint8_t typeFile = 0;
constexpr uint8_t typeDirectory = 1;

// Record layout. A record is a head, the name, then a tail whose fields
// lie at fixed places from the name's end; putRecord and takeRecord both go
// by these positions. L is the name length.
//   head  0  type (1 byte)
//         1  L (16-bit)
//         3  name, L bytes, no terminator
//   tail  0  offset (32-bit), relative to the data region
//         4  size (32-bit)
//         8  file: scrambled flag (1 byte)                  -> L+12 bytes
//         8  directory: child count * 256 (32-bit), 12: 0   -> L+16 bytes
constexpr uint32_t typeAt = 0;
constexpr uint32_t nameLengthAt = 1;
constexpr uint32_t recordHeadSize = 3;  // type and name length; the name follows
constexpr uint32_t offsetAt = 0;        // in the tail
constexpr uint32_t sizeAt = 4;
constexpr uint32_t flagAt = 8;   // files
constexpr uint32_t countAt = 8;  // directories
constexpr uint32_t dirFlagAt = 12;
constexpr uint32_t fileTailSize = flagAt + 1;
constexpr uint32_t dirTailSize = dirFlagAt + 1;
constexpr uint32_t rootRecordSize = recordHeadSize + dirTailSize;
constexpr uint32_t headerSize = magicSize + rootRecordSize;  // 21
// The root's size field in the header: the root's name is empty.
constexpr uint32_t rootSizeOffset = magicSize + recordHeadSize + sizeAt;

// The longest name a record may hold: 259 bytes, which with a terminator
// fill the 260 bytes of a Windows path. The reader takes a longer one for
// damage, and the scanner stores none.
constexpr uint32_t maxNameLength = 259;
// The child count is kept in the upper 24 bits of its field.
constexpr uint32_t maxChildCount = 0xFFFFFF;

// Everything one record holds, at the widths the archive gives it. For
// records of unknown type only type and name are present in the archive.
// The entry tree keeps each decoded record as it is (archive/entry.h).
struct Record {
    uint8_t type = typeFile;
    std::string name;  // raw bytes as stored
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t count = 0;  // directories: number of direct children
    uint8_t scrambled = 0;
};

// Size of a record of this type with a name of nameLength bytes.
uint32_t recordSize(uint8_t type, size_t nameLength);

// Appends the encoded record to out.
void putRecord(std::vector<uint8_t>& out, const Record& r);

enum class Decode { ok, truncated };

// Decodes the record at cursor, never reading at or past end. On success
// cursor moves past the record: past the name only for unknown types.
Decode takeRecord(const uint8_t*& cursor, const uint8_t* end, Record& r);

// The key byte for absolute offset p.
constexpr uint8_t keyAt(uint64_t p) {
    return static_cast<uint8_t>(initialKey + keyStepValue * (p & 0xFF));
}

// Little-endian helpers shared by both directions.
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace dat::detail
