#include "archive/format.h"

namespace {

void put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

uint32_t recordSize(int32_t type, size_t nameLength) {
    uint32_t tail = type == typeDirectory ? dirTailSize : type == typeFile ? fileTailSize : 0;
    return recordHeadSize + static_cast<uint32_t>(nameLength) + tail;
}

void putRecord(std::vector<uint8_t>& out, const Record& r) {
    out.push_back(static_cast<uint8_t>(r.type));
    put16(out, static_cast<uint16_t>(r.name.size()));
    out.insert(out.end(), r.name.begin(), r.name.end());
    if (r.type != typeFile && r.type != typeDirectory) return;
    put32(out, r.offset);
    put32(out, r.size);
    if (r.type == typeFile) {
        out.push_back(r.scrambled);
    } else {
        put32(out, r.count << 8);
        out.push_back(0);
    }
}

Decode takeRecord(const uint8_t*& cursor, const uint8_t* end, Record& r) {
    const uint8_t* p = cursor;
    auto left = [&] { return static_cast<size_t>(end - p); };
    if (left() < recordHeadSize) return Decode::truncated;
    r.type = p[0];
    size_t nameLength = get16(p + 1);
    p += recordHeadSize;
    if (left() < nameLength) return Decode::truncated;
    r.name.assign(reinterpret_cast<const char*>(p), nameLength);
    p += nameLength;
    r.offset = r.size = r.count = 0;
    r.scrambled = 0;
    if (r.type == typeFile) {
        if (left() < fileTailSize) return Decode::truncated;
        r.offset = get32(p);
        r.size = get32(p + 4);
        r.scrambled = p[8];
        p += fileTailSize;
    } else if (r.type == typeDirectory) {
        if (left() < dirTailSize) return Decode::truncated;
        r.offset = get32(p);
        r.size = get32(p + 4);
        r.count = get32(p + 8) >> 8;
        r.scrambled = p[12];
        p += dirTailSize;
    }
    cursor = p;
    return Decode::ok;
}
