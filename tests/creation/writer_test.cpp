#include "creation/writer.h"

#include <gtest/gtest.h>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/planner.h"
#include "report.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

namespace {

// Trees are built by hand here, so the sizes recorded can disagree with the
// files on disk the way they do when files change between scan and write.
struct Writer : ::testing::Test {
    ScratchDir dir;
    std::string archive = dir / "out.dat";

    void SetUp() override { resetRun(); }
    void TearDown() override { resetRun(); }

    // Adds a file entry below the top-level directory "d", reading its
    // bytes from `onDisk` (relative to the scratch directory).
    void addFile(const std::string& name, const std::string& onDisk, uint32_t size) {
        if (root.child.empty()) {
            Entry d;
            d.type = typeDirectory;
            d.name = "d";
            root.child.push_back(d);
            root.count = 1;
        }
        Entry f;
        f.type = typeFile;
        f.name = name;
        f.path = dir / onDisk;
        f.size = size;
        root.child[0].child.push_back(f);
        root.child[0].count++;
    }

    // Plans and writes; returns what was printed.
    std::string write() {
        root.size = fixupTree(root.child, 0);
        File f = fileCreate(archive);
        EXPECT_TRUE(f);
        testing::internal::CaptureStdout();
        bool ok = createFile(f);
        std::fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ok);
        EXPECT_TRUE(fileClose(f));
        return out;
    }
};

TEST_F(Writer, ChangedSourcesStillFillTheirPromisedSize) {
    writeBytes(dir / "short", "12345");
    writeBytes(dir / "long", "abcdefghij");
    writeBytes(dir / "same", "xyz");
    addFile("short.txt", "short", 8);
    addFile("gone.tex", "missing", 4);
    addFile("long.txt", "long", 3);
    addFile("same.txt", "same", 3);
    std::string out = write();
    EXPECT_EQ(out, "Writing " + dir / "short" + "...\n" + dir / "short" +
                       " shrank: 3 missing bytes stored as zeros\n"
                       "Writing " + dir / "missing" + "...\n"
                       "Unable to open " + dir / "missing" + ": stored 4 zero bytes in its place\n"
                       "Writing " + dir / "long" + "...\n" + dir / "long" +
                       " grew: only its first 3 bytes stored\n"
                       "Writing " + dir / "same" + "...\n");
    EXPECT_TRUE(runFailed());
    std::string bytes = readBytes(archive);
    EXPECT_EQ(bytes.size(), archiveLength(root));
    Unpacked u = unpack(bytes);
    EXPECT_EQ(u.tree["d/short.txt"], std::string("12345\0\0\0", 8));
    EXPECT_EQ(u.tree["d/gone.tex"], std::string(4, '\0'));
    EXPECT_EQ(u.tree["d/long.txt"], "abc");
    EXPECT_EQ(u.tree["d/same.txt"], "xyz");
}

TEST_F(Writer, FilesLargerThanOneTransferArriveWhole) {
    // Sizes around the chunk size, scrambled and plain, so chunk boundaries
    // fall at every phase of the key; the zero fill of a shrunken big file
    // spans chunks too.
    const size_t sizes[] = {transferSize - 1, transferSize, 2 * transferSize + 77};
    std::vector<std::string> contents;
    int n = 0;
    for (size_t size : sizes) {
        std::string s(size, '\0');
        for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + size) >> 3);
        contents.push_back(s);
        std::string disk = "big" + std::to_string(n++);
        writeBytes(dir / disk, s);
        addFile(disk + ".bin", disk, static_cast<uint32_t>(size));
        addFile(disk + ".msh", disk, static_cast<uint32_t>(size));
    }
    writeBytes(dir / "small", "tiny");
    addFile("shrunk.bin", "small", static_cast<uint32_t>(transferSize + 5));
    write();
    Unpacked u = unpack(readBytes(archive));
    for (size_t i = 0; i < contents.size(); ++i) {
        std::string disk = "big" + std::to_string(i);
        EXPECT_TRUE(u.tree["d/" + disk + ".bin"] == contents[i]) << disk;
        EXPECT_TRUE(u.tree["d/" + disk + ".msh"] == contents[i]) << disk;
    }
    EXPECT_TRUE(u.tree["d/shrunk.bin"] == "tiny" + std::string(transferSize + 1, '\0'));
}

}  // namespace
