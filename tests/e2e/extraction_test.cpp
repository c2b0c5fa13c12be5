// Extraction over what is already on disk: earlier output, planted links,
// and files larger than one transfer chunk.
#include <gtest/gtest.h>
#include <unistd.h>

#include "archive/keyed_stream.h"
#include "e2e/harness.h"
#include "platform/platform.h"
#include "reading/archive_builder.h"

namespace {

const std::string opened = "...ok\nParsing TOC...\n";

struct Extraction : ::testing::Test {
    ScratchDir dir;
    ScratchDir outside;  // where planted links point
    std::string worked = dataFile("worked_example.dat");

    ToolRun extract(const std::string& archive) { return runTool({"x", archive}, dir.path); }
    std::string expectOut(const std::string& archive, const std::string& walk) {
        return "Opening " + archive + opened + "Extracting...\n" + walk;
    }
};

TEST_F(Extraction, SecondRunReplacesFilesAndPrintsTheSame) {
    ToolRun first = extract(worked);
    ASSERT_EQ(first.status, 0);
    // A second name of m.msh outside: replacing must leave it alone, where
    // truncating and rewriting in place would change it.
    writeBytes(dir / "data/a.txt", "changed");
    ASSERT_EQ(link((dir / "data/m.msh").c_str(), (outside / "other-name").c_str()), 0);
    writeBytes(outside / "other-name", "XYZ");

    ToolRun second = extract(worked);
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{
                                    {"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/m.msh", "0123456789"}}));
    EXPECT_EQ(readBytes(outside / "other-name"), "XYZ");
}

TEST_F(Extraction, LinkWhereADirectoryGoesIsNotEntered) {
    ASSERT_EQ(symlink(outside.path.c_str(), (dir / "data").c_str()), 0);
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Skipping data\: path passes through a symbolic link
Extracting data\a.txt...failed
Extracting data\m.msh...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
    // The link is all there is, and it is still a link.
    EXPECT_EQ(treeOf(dir.path).size(), 1u);
    EXPECT_EQ(pathKind(dir / "data"), PathKind::link);
}

TEST_F(Extraction, LinkDeeperDownIsNotEntered) {
    const std::string archive = dataFile("edge_case.dat");
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0777), 0);
    ASSERT_EQ(symlink(outside.path.c_str(), (dir / "data/sub").c_str()), 0);
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Creating directory data\...
Extracting data\a.txt...ok
Skipping data\sub\: path passes through a symbolic link
Extracting data\sub\b.txt...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
    // The refused directory alone, with no file below it to fail, fails too.
    writeBytes(outside / "../empty_sub.dat", archiveBytes({dirNode("data", {dirNode("sub", {})})}));
    r = extract(outside / "../empty_sub.dat");
    EXPECT_EQ(r.out, expectOut(outside / "../empty_sub.dat", R"(Creating directory data\...
Skipping data\sub\: path passes through a symbolic link
Extracted 0 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
}

TEST_F(Extraction, LinkWhereAFileGoesIsReplaced) {
    // Under wine a POSIX symbolic link to a file is no link at all: deleting
    // it deletes its target. Windows' own links are reparse points.
    if (runsWrapped()) GTEST_SKIP() << "symbolic links to files are POSIX things";
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0777), 0);
    writeBytes(outside / "target.txt", "keep");
    ASSERT_EQ(symlink((outside / "target.txt").c_str(), (dir / "data/a.txt").c_str()), 0);
    ASSERT_EQ(symlink((outside / "new.txt").c_str(), (dir / "data/m.msh").c_str()), 0);  // dangling
    ToolRun r = extract(worked);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(treeOf(outside.path), (std::map<std::string, std::string>{{"target.txt", "keep"}}));
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{
                                    {"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/m.msh", "0123456789"}}));
}

TEST_F(Extraction, FilesLargerThanOneChunkComeOutWhole) {
    std::string pattern;
    for (size_t i = 0; pattern.size() < 2 * transferSize + 123; ++i) pattern += static_cast<char>(i * 7 + i / 251);
    std::string plain = pattern.substr(0, transferSize + transferSize / 2);
    const std::vector<Node> top = {
        dirNode("big", {fileNode("a.bin", pattern), fileNode("b.msh", plain, 0), fileNode("c.txt", "end")})};
    writeBytes(outside / "big.dat", archiveBytes(top));
    ToolRun r = extract(outside / "big.dat");
    EXPECT_EQ(r.out, expectOut(outside / "big.dat", R"(Creating directory big\...
Extracting big\a.bin...ok
Extracting big\b.msh...ok
Extracting big\c.txt...ok
Extracted 3 file(s)
)"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(readBytes(dir / "big/a.bin") == pattern);
    EXPECT_TRUE(readBytes(dir / "big/b.msh") == plain);
    EXPECT_EQ(readBytes(dir / "big/c.txt"), "end");
}

TEST_F(Extraction, RecordPastTheDataRegionLeavesAnEmptyFileNotPartOfOne) {
    std::string bytes = archiveBytes({dirNode("big", {fileNode("a.bin", std::string(transferSize + 10, 'x'))})});
    // The file's size field, after magic, root record, "big"'s record and
    // a.bin's type, length, name and offset, made to claim 3 MiB.
    const size_t sizeField = 5 + 16 + 19 + 3 + 5 + 4;
    const uint32_t claimed = 3 * transferSize;
    for (size_t i = 0; i < 4; ++i)
        bytes[sizeField + i] = static_cast<char>(static_cast<uint8_t>(claimed >> (8 * i)) ^ keyAt(sizeField + i));
    writeBytes(outside / "lying.dat", bytes);
    ToolRun r = extract(outside / "lying.dat");
    EXPECT_EQ(r.out, expectOut(outside / "lying.dat", R"(Creating directory big\...
Extracting big\a.bin...failed
Extracted 1 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(readBytes(dir / "big/a.bin"), "");
}

// Records may point back at bytes an earlier file already took, scrambled
// or not: each file gets the stored bytes at its own offset, descrambled by
// its own flag, whatever was read or descrambled for the files before it.
TEST_F(Extraction, RecordsSharingBytesEachGetTheirOwnView) {
    std::string bytes = archiveBytes({dirNode("d", {fileNode("a.bin", "hello world"), fileNode("b.bin", "HELLO"),
                                                    fileNode("c.tex", "12345", 0)})});
    // Offset fields: after magic, root record and d's record (21 + 17), each
    // file record being 3 + 5 + 9 bytes with its offset after the name.
    const size_t firstOffset = 21 + 17 + 3 + 5;
    for (size_t file : {1, 2})
        for (size_t i = 0; i < 4; ++i) {
            const size_t at = firstOffset + file * 17 + i;
            bytes[at] = static_cast<char>(keyAt(at));  // offset 0: a's bytes
        }
    writeBytes(outside / "shared.dat", bytes);
    const size_t dataStart = bytes.size() - 21;
    std::string stored = bytes.substr(dataStart, 5);

    ToolRun r = extract(outside / "shared.dat");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readBytes(dir / "d/a.bin"), "hello world");
    EXPECT_EQ(readBytes(dir / "d/b.bin"), "hello");
    EXPECT_EQ(readBytes(dir / "d/c.tex"), stored);
    EXPECT_NE(stored, "hello");
}

TEST_F(Extraction, FileWhereADirectoryStandsFails) {
    ASSERT_EQ(mkdir((dir / "data").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir / "data/a.txt").c_str(), 0777), 0);
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Extracting data\a.txt...failed
Extracting data\m.msh...ok
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
}

}  // namespace
