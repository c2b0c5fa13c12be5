#include "archive/keyed_stream.h"

#include <gtest/gtest.h>

#include <numeric>

#include "archive/format.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace {

struct KeyedStream : ::testing::Test {
    ScratchDir dir;
    std::string path = dir / "a.dat";
};

std::vector<uint8_t> iota(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), first);
    return v;
}

TEST_F(KeyedStream, ScrambledBytesAreXorWithOffsetKey) {
    std::vector<uint8_t> plain = iota(1000);
    {
        KeyedFile f(fileOpenWrite(path));
        ASSERT_TRUE(WriteData(f, plain.data(), plain.size(), 1));
        ASSERT_TRUE(flushData(f));
    }
    std::string stored = readBytes(path);
    ASSERT_EQ(stored.size(), plain.size());
    for (size_t p = 0; p < plain.size(); ++p)
        ASSERT_EQ(static_cast<uint8_t>(stored[p]), plain[p] ^ keyAt(p)) << p;
}

TEST_F(KeyedStream, MixedBlocksKeepKeyAtPosition) {
    std::vector<uint8_t> a = iota(5), b = iota(3, 50), c = iota(700, 9);
    KeyedFile f(fileOpenWrite(path));
    WriteData(f, a.data(), a.size(), 1);
    WriteData(f, b.data(), b.size(), 0);
    EXPECT_EQ(f.key, keyAt(8));  // as if 8 bytes had been scrambled
    WriteData(f, c.data(), c.size(), 1);
    EXPECT_EQ(f.key, keyAt(708));
    flushData(f);
    fileClose(f.file);
    std::string stored = readBytes(path);
    // The plain stretch is stored as is, and the scrambled one after it uses
    // the keys of its own offsets.
    EXPECT_EQ(static_cast<uint8_t>(stored[5]), 50);
    EXPECT_EQ(static_cast<uint8_t>(stored[8]), c[0] ^ keyAt(8));
    EXPECT_EQ(static_cast<uint8_t>(stored[707]), c[699] ^ keyAt(707));
}

TEST_F(KeyedStream, ReadingBackIsTheSameXor) {
    std::vector<uint8_t> plain = iota(5000, 3);
    {
        KeyedFile f(fileOpenWrite(path));
        std::vector<uint8_t> lead(123);
        WriteData(f, lead.data(), lead.size(), 0);
        WriteData(f, plain.data(), plain.size(), 1);
        flushData(f);
    }
    KeyedFile f(fileOpenRead(path));
    seekFile(f, 123);
    EXPECT_EQ(f.key, keyAt(123));
    // In uneven chunks, as large files move, the bytes come out the same.
    std::vector<uint8_t> back(plain.size());
    size_t done = 0;
    for (size_t piece : {1u, 255u, 256u, 1000u, 3488u}) {
        ASSERT_TRUE(ReadData(f, back.data() + done, piece, 1));
        done += piece;
    }
    ASSERT_EQ(done, plain.size());
    EXPECT_EQ(back, plain);
    EXPECT_EQ(f.key, keyAt(123 + plain.size()));
}

TEST_F(KeyedStream, SeekToCurrentPositionKeepsKey) {
    writeBytes(path, std::string(100, 'x'));
    KeyedFile f(fileOpenRead(path));
    std::vector<uint8_t> buf(10);
    ASSERT_TRUE(ReadData(f, buf.data(), 10, 1));
    f.key = 0x11;  // changed by other means
    seekFile(f, 10);
    EXPECT_EQ(f.key, 0x11);
    seekFile(f, 77);
    EXPECT_EQ(f.key, keyAt(77));
    ASSERT_TRUE(ReadData(f, buf.data(), 1, 0));
    EXPECT_EQ(filePosition(f.file), 78u);
    EXPECT_EQ(f.key, keyAt(78));  // plain bytes move the key as well
}

TEST_F(KeyedStream, ShortAndEmptyReadsReturnNothingAndKeepKey) {
    writeBytes(path, std::string(10, 'x'));
    KeyedFile f(fileOpenRead(path));
    std::vector<uint8_t> buf(20);
    seekFile(f, 4);
    uint8_t before = f.key;
    EXPECT_FALSE(ReadData(f, buf.data(), 0, 1));
    EXPECT_EQ(f.key, before);
    EXPECT_FALSE(ReadData(f, buf.data(), 7, 1));  // only 6 remain
    EXPECT_EQ(f.key, before);
    // The next seek elsewhere brings key and position back together.
    seekFile(f, 2);
    EXPECT_EQ(f.key, keyAt(2));
    EXPECT_TRUE(ReadData(f, buf.data(), 8, 0));
}

// A failed seek leaves the key as it was, with the position, and says so.
TEST_F(KeyedStream, FailedSeekKeepsKeyAndSaysSo) {
    writeBytes(path, std::string(10, 'x'));
    KeyedFile f(fileOpenRead(path));
    ASSERT_TRUE(seekFile(f, 3));
    EXPECT_FALSE(seekFile(f, UINT64_MAX));
    EXPECT_EQ(f.key, keyAt(3));
    EXPECT_EQ(filePosition(f.file), 3u);
}

// Reads by absolute offset descramble with that offset's keys, whatever
// the stream's own position and key, and leave both alone.
TEST_F(KeyedStream, ReadAtDescramblesByOffsetAndKeepsNoState) {
    std::vector<uint8_t> plain = iota(3000, 5);
    {
        KeyedFile f(fileOpenWrite(path));
        ASSERT_TRUE(WriteData(f, plain.data(), plain.size(), 1));
        ASSERT_TRUE(flushData(f));
    }
    KeyedFile f(fileOpenRead(path));
    ASSERT_TRUE(seekFile(f, 7));
    for (size_t at : {0u, 1u, 255u, 256u, 1001u, 2999u}) {
        const size_t n = plain.size() - at;
        std::vector<uint8_t> back(n);
        ASSERT_TRUE(readAt(f.file, at, back.data(), n, 1)) << at;
        EXPECT_TRUE(std::equal(back.begin(), back.end(), plain.begin() + static_cast<std::ptrdiff_t>(at)))
            << at;
    }
    std::vector<uint8_t> raw(2);
    ASSERT_TRUE(readAt(f.file, 10, raw.data(), 2, 0));
    EXPECT_EQ(raw[0], plain[10] ^ keyAt(10));
    EXPECT_FALSE(readAt(f.file, 2999, raw.data(), 2, 1));  // one byte remains
    EXPECT_FALSE(readAt(f.file, 0, raw.data(), 0, 1));
    EXPECT_EQ(filePosition(f.file), 7u);
    EXPECT_EQ(f.key, keyAt(7));
    std::vector<uint8_t> next(1);
    ASSERT_TRUE(ReadData(f, next.data(), 1, 1));
    EXPECT_EQ(next[0], plain[7]);
}

TEST_F(KeyedStream, ResetReturnsToStart) {
    writeBytes(path, std::string(10, 'x'));
    KeyedFile f(fileOpenRead(path));
    std::vector<uint8_t> buf(10);
    ReadData(f, buf.data(), 7, 1);
    resetFile(f);
    EXPECT_EQ(f.key, initialKey);
    EXPECT_EQ(filePosition(f.file), 0u);
    ASSERT_TRUE(ReadData(f, buf.data(), 10, 0));
}

TEST_F(KeyedStream, WriteLeavesCallerBytesAlone) {
    std::vector<uint8_t> plain = iota(3000);
    std::vector<uint8_t> copy = plain;
    KeyedFile f(fileOpenWrite(path));
    WriteData(f, plain.data(), plain.size(), 1);
    EXPECT_EQ(plain, copy);
    flushData(f);
}

// Writes wait in a buffer and go out whole buffers at a time; small and
// large, plain and scrambled pieces in any mix must land exactly where one
// unbuffered stream of bytes would put them.
TEST_F(KeyedStream, BufferedWritesLandInOrderAcrossBufferBoundaries) {
    std::vector<uint8_t> expect;
    KeyedFile f(fileOpenWrite(path));
    uint64_t at = 0;
    const size_t sizes[] = {3, transferSize - 1, 2, 2 * transferSize + 5, 17, transferSize, 1};
    uint8_t seed = 1;
    for (size_t n : sizes) {
        for (uint8_t scrambled : {0, 1}) {
            std::vector<uint8_t> piece = iota(n, seed++);
            ASSERT_TRUE(WriteData(f, piece.data(), n, scrambled));
            for (size_t i = 0; i < n; ++i, ++at)
                expect.push_back(scrambled ? piece[i] ^ keyAt(at) : piece[i]);
            EXPECT_EQ(f.key, keyAt(at));
        }
    }
    ASSERT_TRUE(flushData(f));
    fileClose(f.file);
    std::string stored = readBytes(path);
    ASSERT_EQ(stored.size(), expect.size());
    EXPECT_TRUE(std::equal(expect.begin(), expect.end(), reinterpret_cast<const uint8_t*>(stored.data())));
}

TEST(KeyBlock, MatchesRunningKeyAtEveryPhaseAndLength) {
    std::vector<uint8_t> src = iota(1500, 7);
    for (unsigned start : {0u, 1u, 200u, 255u, 256u, 1001u}) {
        for (size_t n : {0u, 1u, 255u, 256u, 257u, 1500u}) {
            std::vector<uint8_t> dst(n);
            keyBlock(dst.data(), src.data(), n, keyAt(start));
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(dst[i], src[i] ^ keyAt(start + i)) << start << " " << n << " " << i;
        }
    }
}

}  // namespace
