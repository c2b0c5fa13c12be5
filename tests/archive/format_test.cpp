#include "archive/format.h"

#include <gtest/gtest.h>

using namespace dat::detail;

namespace {

std::vector<uint8_t> hex(const char* s) {
    std::vector<uint8_t> v;
    unsigned b;
    int used;
    while (std::sscanf(s, "%2x%n", &b, &used) == 1) {
        v.push_back(static_cast<uint8_t>(b));
        s += used;
        while (*s == ' ') ++s;
    }
    return v;
}

std::vector<uint8_t> encode(const Record& r) {
    std::vector<uint8_t> out;
    putRecord(out, r);
    return out;
}

// One directory "data" holding a.txt (3 bytes) and m.msh (10 bytes).
TEST(Format, WorkedExampleRecordsByteForByte) {
    EXPECT_EQ(encode({typeDirectory, "", 0, 13, 1, 0}),
              hex("01 00 00 00 00 00 00 0D 00 00 00 00 01 00 00 00"));
    EXPECT_EQ(encode({typeDirectory, "data", 0, 13, 2, 0}),
              hex("01 04 00 64 61 74 61 00 00 00 00 0D 00 00 00 00 02 00 00 00"));
    EXPECT_EQ(encode({typeFile, "a.txt", 0, 3, 0, 1}),
              hex("00 05 00 61 2E 74 78 74 00 00 00 00 03 00 00 00 01"));
    EXPECT_EQ(encode({typeFile, "m.msh", 3, 10, 0, 0}),
              hex("00 05 00 6D 2E 6D 73 68 03 00 00 00 0A 00 00 00 00"));
}

TEST(Format, RecordSizesMatchEncoding) {
    EXPECT_EQ(recordSize(typeDirectory, 0), 16u);
    EXPECT_EQ(recordSize(typeFile, 5), 17u);
    EXPECT_EQ(encode({typeDirectory, "data", 0, 0, 0, 0}).size(), recordSize(typeDirectory, 4));
    EXPECT_EQ(encode({typeFile, "x", 0, 0, 0, 1}).size(), recordSize(typeFile, 1));
    EXPECT_EQ(headerSize, 21u);
}

TEST(Format, DecodeMirrorsEncode) {
    std::vector<uint8_t> toc;
    const Record written[] = {{typeDirectory, "dir", 7, 99, 0xFFFFFF, 0},
                              {typeFile, std::string("a\0b", 3), 0xFFFFFFFF, 5, 0, 1},
                              {7, "odd", 0, 0, 0, 0},
                              {typeFile, "", 1, 2, 0, 0}};
    for (const Record& r : written) putRecord(toc, r);
    const uint8_t* cursor = toc.data();
    const uint8_t* end = toc.data() + toc.size();
    for (const Record& w : written) {
        Record r;
        ASSERT_EQ(takeRecord(cursor, end, r), Decode::ok);
        EXPECT_EQ(r.type, w.type);
        EXPECT_EQ(r.name, w.name);
        EXPECT_EQ(r.offset, w.offset);
        EXPECT_EQ(r.size, w.size);
        EXPECT_EQ(r.count, w.count);
        EXPECT_EQ(r.scrambled, w.scrambled);
    }
    EXPECT_EQ(cursor, end);
}

TEST(Format, DecodeNeverReadsPastTheEnd) {
    std::vector<uint8_t> toc;
    putRecord(toc, {typeDirectory, "name", 1, 2, 3, 0});
    // Every cut of the record, however short, is reported and leaves the
    // cursor where it was.
    for (size_t cut = 0; cut < toc.size(); ++cut) {
        std::vector<uint8_t> part(toc.begin(), toc.begin() + static_cast<long>(cut));
        const uint8_t* cursor = part.data();
        Record r;
        EXPECT_EQ(takeRecord(cursor, part.data() + part.size(), r), Decode::truncated) << cut;
        EXPECT_EQ(cursor, part.data());
    }
}

TEST(Format, KeySchedule) {
    EXPECT_EQ(keyAt(0), 0x3D);
    EXPECT_EQ(keyAt(1), static_cast<uint8_t>(0x3D + 0xA7));
    EXPECT_EQ(keyAt(256), keyAt(0));
    EXPECT_EQ(keyAt(0x100000005ull), keyAt(5));
}

}  // namespace
