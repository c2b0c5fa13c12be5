#include "archive/format.h"

#include <algorithm>

namespace dat::detail {

uint32_t recordSize(uint8_t type, size_t nameLength) {
    uint32_t tail = type == typeDirectory ? dirTailSize : type == typeFile ? fileTailSize : 0;
    return recordHeadSize + static_cast<uint32_t>(nameLength) + tail;
}

void putRecord(std::vector<uint8_t>& out, const Record& r) {
    const size_t start = out.size();
    out.resize(start + recordSize(r.type, r.name.size()));
    uint8_t* head = out.data() + start;
    head[typeAt] = r.type;
    head[nameLengthAt] = static_cast<uint8_t>(r.name.size());
    head[nameLengthAt + 1] = static_cast<uint8_t>(r.name.size() >> 8);
    std::copy(r.name.begin(), r.name.end(), head + recordHeadSize);
    if (r.type != typeFile && r.type != typeDirectory) return;
    uint8_t* tail = head + recordHeadSize + r.name.size();
    put32(tail + offsetAt, r.offset);
    put32(tail + sizeAt, r.size);
    if (r.type == typeFile) {
        tail[flagAt] = r.scrambled;
    } else {
        put32(tail + countAt, r.count << 8);
        tail[dirFlagAt] = 0;
    }
}

Decode takeRecord(const uint8_t*& cursor, const uint8_t* end, Record& r) {
    const uint8_t* p = cursor;
    auto left = [&] { return static_cast<size_t>(end - p); };
    if (left() < recordHeadSize) return Decode::truncated;
    r.type = p[typeAt];
    size_t nameLength = get16(p + nameLengthAt);
    p += recordHeadSize;
    if (left() < nameLength) return Decode::truncated;
    r.name.assign(reinterpret_cast<const char*>(p), nameLength);
    p += nameLength;
    r.offset = r.size = r.count = 0;
    r.scrambled = 0;
    if (r.type == typeFile) {
        if (left() < fileTailSize) return Decode::truncated;
        r.offset = get32(p + offsetAt);
        r.size = get32(p + sizeAt);
        r.scrambled = p[flagAt];
        p += fileTailSize;
    } else if (r.type == typeDirectory) {
        if (left() < dirTailSize) return Decode::truncated;
        r.offset = get32(p + offsetAt);
        r.size = get32(p + sizeAt);
        r.count = get32(p + countAt) >> 8;
        r.scrambled = p[dirFlagAt];
        p += dirTailSize;
    }
    cursor = p;
    return Decode::ok;
}

}  // namespace dat::detail
