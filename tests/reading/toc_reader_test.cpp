#include "reading/toc_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "archive/format.h"
#include "reading/verdicts.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace {

// Every path in the tree, preorder, joined as the listing joins them.
void collect(const std::vector<Entry>& list, const std::string& prefix, std::vector<std::string>& out) {
    for (const Entry& e : list) {
        const std::string path = prefix + e.name + (e.type == typeDirectory ? "\\" : "");
        out.push_back(path);
        collect(e.child, path, out);
    }
}

struct TocReader : ::testing::Test {
    // The decoded archive, with its parts under the names the tests use.
    Archive archive;
    Entry& root = archive.root;
    uint32_t& files = archive.files;
    uint32_t& tocSize = archive.tocSize;
    std::string& tocDamage = archive.damage;
    void SetUp() override { archive = Archive{}; }
    // Decodes a copy of exactly these bytes, so reading one byte past the
    // block is caught by the sanitizer build.
    Toc read(const std::vector<uint8_t>& block) {
        std::vector<uint8_t> exact(block);
        const uint8_t* p = exact.data();
        return readTOC({p, p + exact.size()}, archive);
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        collect(root.child, "", out);
        return out;
    }
};

const std::vector<Node> sample = {
    dirNode("data",
            {fileNode("a.txt", "abc"), dirNode("sub", {fileNode("b.txt", "bb", 0)}), dirNode("empty")}),
    fileNode("top.txt", "t"),
};

TEST_F(TocReader, DecodesTreeWithJoinedPathsAndFields) {
    ASSERT_EQ(read(tocBlock(sample)), Toc::ok) << tocDamage;
    EXPECT_EQ(paths(), (std::vector<std::string>{"data\\", "data\\a.txt", "data\\sub\\", "data\\sub\\b.txt",
                                                 "data\\empty\\", "top.txt"}));
    EXPECT_EQ(files, 3u);
    EXPECT_EQ(root.size, 6u);
    const Entry& data = root.child[0];
    EXPECT_EQ(data.count, 3u);
    EXPECT_EQ(data.size, 5u);
    const Entry& b = data.child[1].child[0];
    EXPECT_EQ(b.offset, 3u);
    EXPECT_EQ(b.size, 2u);
    EXPECT_EQ(b.scrambled, 0);
    EXPECT_EQ(data.child[0].scrambled, 1);
    EXPECT_TRUE(data.child[2].child.empty());
    EXPECT_EQ(root.child[1].offset, 5u);
}

TEST_F(TocReader, EveryCutIsDamageAndKeepsWhatCameBefore) {
    std::vector<uint8_t> full = tocBlock(sample);
    ASSERT_EQ(read(full), Toc::ok);
    const std::vector<std::string> all = paths();
    for (size_t cut = rootRecordSize; cut < full.size(); ++cut) {
        SetUp();
        std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
        ASSERT_EQ(read(part), Toc::damaged) << cut;
        EXPECT_NE(tocDamage.find("runs past the end of the TOC at " + std::to_string(cut + magicSize)),
                  std::string::npos)
            << tocDamage;
        std::vector<std::string> got = paths();
        ASSERT_LT(got.size(), all.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin())) << cut;
    }
}

TEST_F(TocReader, NameOf259BytesFitsAnd260DoesNot) {
    std::string longest(maxNameLength, 'n');
    ASSERT_EQ(read(tocBlock({dirNode("d", {fileNode(longest, "x")})})), Toc::ok) << tocDamage;
    EXPECT_EQ(paths().back(), "d\\" + longest);
    SetUp();
    ASSERT_EQ(read(tocBlock({dirNode("d", {fileNode(longest + "n", "x")})})), Toc::damaged);
    EXPECT_EQ(tocDamage, "name of 260 bytes at offset 38 is longer than 259 bytes");
    EXPECT_EQ(paths(), std::vector<std::string>{"d\\"});
}

// A path is decoded whatever its length, as on every system; only
// extraction refuses one longer than this system takes.
TEST_F(TocReader, PathsOfAnyLengthAreDecodedAndOnlyExtractionRefusesThem) {
    // Directories of 255-byte names, each adding 256 bytes with its "\\",
    // and a last file name that makes the path exactly the limit.
    // Linux: PATH_MAX less its terminator, not asked of the code under test.
    const size_t limit = 4095;
    const size_t levels = (limit - 1) / 256;
    auto chain = [&](size_t fileLength) {
        std::vector<Node> list = {fileNode(std::string(fileLength, 'f'), "x")};
        for (size_t i = 0; i < levels; ++i) list = {dirNode(std::string(255, 'd'), list)};
        return tocBlock(list);
    };
    const size_t fits = limit - levels * 256;
    ASSERT_LE(fits + 1, maxNameLength);
    for (const size_t length : {fits, fits + 1}) {
        SetUp();
        ASSERT_EQ(read(chain(length)), Toc::ok) << tocDamage;
        EXPECT_EQ(paths().back().size(), limit + length - fits);
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        ASSERT_EQ(verdicts.size(), levels + 1);
        EXPECT_EQ(verdicts[levels - 1].refusal, Refusal::none);
        EXPECT_EQ(verdicts.back().refusal, length == fits ? Refusal::none : Refusal::nameTooLong) << length;
    }
}

TEST_F(TocReader, ZeroByteCutsTheNameButNotTheRecord) {
    std::string name("ab\0cd.txt", 9);
    ASSERT_EQ(read(tocBlock({dirNode("d", {fileNode(name, "x"), fileNode("e", "y")})})), Toc::ok);
    EXPECT_EQ(paths(), (std::vector<std::string>{"d\\", "d\\ab", "d\\e"}));
    EXPECT_EQ(root.child[0].child[1].offset, 1u);
}

TEST_F(TocReader, UnknownTypeConsumesOnlyTypeLengthAndNameAndKeepsNoEntry) {
    Node odd{7, "odd", {}, {}, 0};
    ASSERT_EQ(read(tocBlock({dirNode("d", {fileNode("a", "1"), odd, fileNode("b", "2")}), odd})), Toc::ok)
        << tocDamage;
    EXPECT_EQ(paths(), (std::vector<std::string>{"d\\", "d\\a", "d\\b"}));
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(root.child[0].child[1].offset, 1u);
}

TEST_F(TocReader, RootMustBeANamelessDirectory) {
    std::vector<uint8_t> block = tocBlock(sample);
    block[0] = typeFile;
    EXPECT_EQ(read(block), Toc::notArchive);
    EXPECT_TRUE(root.child.empty());
    EXPECT_EQ(read({}), Toc::notArchive);
    std::vector<uint8_t> named;
    putRecord(named, {typeDirectory, "r", 0, 0, 0, 0});
    EXPECT_EQ(read(named), Toc::damaged);
    EXPECT_EQ(tocDamage, "root record has a name");
}

struct ParseFile : TocReader {
    ScratchDir dir;
    std::string path = dir / "a.dat";
    Toc parse(const std::string& bytes) {
        writeBytes(path, bytes);
        const File f = fileOpenRead(path);
        archive = parseFile(f);
        return archive.status;
    }
};

TEST_F(ParseFile, DataRegionStartsAtLengthLessRootSize) {
    std::string bytes = archiveBytes(sample);
    ASSERT_EQ(parse(bytes), Toc::ok) << tocDamage;
    EXPECT_EQ(tocSize, bytes.size() - 6);
    EXPECT_EQ(paths().size(), 6u);
}

TEST_F(ParseFile, RootSizeMustLeaveRoomForTheRootRecord) {
    // No entries: the TOC is the root record alone, and the whole rest of
    // the archive may be data.
    std::string bytes = archiveBytes({});
    bytes += "0123";
    bytes[rootSizeOffset] = static_cast<char>(4 ^ keyAt(rootSizeOffset));
    EXPECT_EQ(parse(bytes), Toc::ok) << tocDamage;
    EXPECT_EQ(tocSize, headerSize);
    bytes[rootSizeOffset] = static_cast<char>(5 ^ keyAt(rootSizeOffset));
    EXPECT_EQ(parse(bytes), Toc::damaged);
    EXPECT_EQ(tocDamage,
              "data region of 5 bytes and the 21-byte header are longer than the archive of 25 bytes");
}

// Read from where its records end, an archive cut anywhere after its TOC
// keeps its whole tree and says how much of its data region is missing; a
// TOC cut short, or bytes appended, are damage as from its length. The
// sample is 6 data bytes after its records; its TOC (5-byte magic
// included) ends at the archive's length less 6.
TEST_F(ParseFile, DataRegionFromWhereTheRecordsEnd) {
    const std::string whole = archiveBytes(sample);
    const size_t end = whole.size() - 6;
    struct Row {
        std::string bytes;
        Toc status;
        uint32_t cut;
        std::string damage;
    };
    const std::vector<Row> rows = {
        {whole, Toc::ok, 0, ""},
        {whole.substr(0, whole.size() - 1), Toc::ok, 1, ""},
        {whole.substr(0, end + 3), Toc::ok, 3, ""},
        {whole.substr(0, end), Toc::ok, 6, ""},
        {whole.substr(0, end - 1), Toc::damaged, 0,
         // top.txt's record, the last, is 19 bytes long.
         "record at offset " + std::to_string(end - 19) + " runs past the end of the TOC at " +
             std::to_string(end - 1)},
        {whole + "xy", Toc::damaged, 0,
         "TOC ends at offset " + std::to_string(end) + " but the data region starts at " +
             std::to_string(end + 2)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes.size());
        writeBytes(path, row.bytes);
        const File f = fileOpenRead(path);
        archive = parseFile(f, Start::fromRecords);
        EXPECT_EQ(archive.status, row.status);
        EXPECT_EQ(tocDamage, row.damage);
        EXPECT_EQ(archive.cut, row.cut);
        if (row.status != Toc::ok) continue;
        EXPECT_EQ(tocSize, end);
        EXPECT_EQ(paths().size(), 6u);
        // Each file judged by whether its bytes lie in the archive: b.txt
        // ends at 5 of the 6 bytes, top.txt at 6.
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        EXPECT_EQ(verdicts[3].refusal, row.cut > 1 ? Refusal::cutShort : Refusal::none);
        EXPECT_EQ(verdicts[5].refusal, row.cut > 0 ? Refusal::cutShort : Refusal::none);
        EXPECT_EQ(verdicts[1].refusal, row.cut > 3 ? Refusal::cutShort : Refusal::none);
    }
    // From its length, the same cut is damage.
    writeBytes(path, whole.substr(0, end + 3));
    const File f = fileOpenRead(path);
    archive = parseFile(f);
    EXPECT_EQ(archive.status, Toc::damaged);
    EXPECT_EQ(archive.cut, 0u);
}

// The TOC is read in blocks that double: one far longer than the first
// block is found whole all the same.
TEST_F(ParseFile, LongTocFromWhereTheRecordsEnd) {
    std::vector<Node> many;
    for (int i = 0; i < 9000; ++i) many.push_back(fileNode("file_" + std::to_string(i) + ".txt", "x"));
    const std::string whole = archiveBytes({dirNode("d", many)});
    writeBytes(path, whole.substr(0, whole.size() - 2));
    const File f = fileOpenRead(path);
    archive = parseFile(f, Start::fromRecords);
    ASSERT_EQ(archive.status, Toc::ok) << tocDamage;
    EXPECT_GT(tocSize, 1u << 17);
    EXPECT_EQ(tocSize, whole.size() - 9000);
    EXPECT_EQ(archive.cut, 2u);
    EXPECT_EQ(files, 9000u);
}

TEST_F(ParseFile, ArchiveOf4GiBIsDamaged) {
    // Sparse: only the header is ever written or read.
    writeBytes(path, archiveBytes(sample));
    ASSERT_EQ(truncate(path.c_str(), 0x100000000LL), 0);
    const File f = fileOpenRead(path);
    archive = parseFile(f);
    EXPECT_EQ(archive.status, Toc::damaged);
    EXPECT_EQ(tocDamage, "archive is 4 GiB or larger");
}

}  // namespace

namespace {

// Heap bytes the tree below list owns: every list's whole capacity, and
// every name too long to sit inside its string.
size_t ownedBytes(const std::vector<Entry>& list) {
    size_t n = list.capacity() * sizeof(Entry);
    for (const Entry& e : list) {
        if (e.name.capacity() > std::string().capacity()) n += e.name.capacity() + 1;
        n += ownedBytes(e.child);
    }
    return n;
}

// Long paths over small records: a tree that kept each entry's joined path
// would own over a hundred times the TOC (3,840 bytes for each 12-byte
// file record); one that keeps names owns a few times it. Eight times is
// the bound the reader's memory is held to.
TEST_F(ParseFile, TreeOwnsAtMostEightTimesTheToc) {
    const File f = fileOpenRead(dataFile("long_paths_small_records.dat"));
    archive = parseFile(f);
    ASSERT_EQ(archive.status, Toc::ok) << tocDamage;
    ASSERT_EQ(files, 200u);
    const size_t toc = tocSize - magicSize;
    EXPECT_LE(ownedBytes(root.child), 8 * toc) << "TOC of " << toc << " bytes";
}

}  // namespace
