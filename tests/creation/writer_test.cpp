#include "creation/writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/planner.h"
#include "creation/scanner.h"
#include "reading/in_process.h"
#include "report.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace {

// Trees are built by hand here, so the sizes recorded can disagree with the
// files on disk the way they do when files change between scan and write.
struct Writer : ::testing::Test {
    ScratchDir dir;
    std::string archive = dir / "out.dat";
    Entry root{{typeDirectory, {}, 0, 0, 0, 0}, {}};  // the tree written
    bool failed = false;                              // whether the writing reported a failure

    void SetUp() override { std::filesystem::create_directory(dir / "d"); }

    // Adds a file entry below the top-level directory "d", which the writer
    // reads from d/<name> in the scratch directory.
    void addFile(const std::string& name, uint32_t size) {
        if (root.child.empty()) {
            Entry d;
            d.type = typeDirectory;
            d.name = "d";
            root.child.push_back(std::move(d));
            root.count = 1;
        }
        Entry f;
        f.type = typeFile;
        f.name = name;
        f.size = size;
        root.child[0].child.push_back(std::move(f));
        root.child[0].count++;
    }

    // Plans and writes; returns what was printed.
    std::string write() {
        root.size = fixupTree(root.child, 0);
        InDir in(dir.path);
        KeyedFile f(fileOpenWrite(archive));
        EXPECT_TRUE(f);
        testing::internal::CaptureStdout();
        Printer told;
        bool ok = createFile(f, root, {}, told);
        failed = told.failed();
        std::fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(ok);
        EXPECT_TRUE(fileClose(f.file));
        return out;
    }
};

TEST_F(Writer, ChangedSourcesStillFillTheirPromisedSize) {
    writeBytes(dir / "d/short.txt", "12345");
    writeBytes(dir / "d/long.txt", "abcdefghij");
    writeBytes(dir / "d/same.txt", "xyz");
    addFile("short.txt", 8);
    addFile("gone.tex", 4);
    addFile("long.txt", 3);
    addFile("same.txt", 3);
    std::string out = write();
    EXPECT_EQ(out,
              "Writing d\\short.txt...\n"
              "d\\short.txt shrank: 3 missing bytes stored as zeros\n"
              "Writing d\\gone.tex...\n"
              "Unable to open d\\gone.tex: stored 4 zero bytes in its place\n"
              "Writing d\\long.txt...\n"
              "d\\long.txt grew: only its first 3 bytes stored\n"
              "Writing d\\same.txt...\n");
    EXPECT_TRUE(failed);
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
        writeBytes(dir / ("d/" + disk + ".bin"), s);
        writeBytes(dir / ("d/" + disk + ".msh"), s);
        addFile(disk + ".bin", static_cast<uint32_t>(size));
        addFile(disk + ".msh", static_cast<uint32_t>(size));
    }
    writeBytes(dir / "d/shrunk.bin", "tiny");
    addFile("shrunk.bin", static_cast<uint32_t>(transferSize + 5));
    write();
    Unpacked u = unpack(readBytes(archive));
    for (size_t i = 0; i < contents.size(); ++i) {
        std::string disk = "big" + std::to_string(i);
        EXPECT_TRUE(u.tree["d/" + disk + ".bin"] == contents[i]) << disk;
        EXPECT_TRUE(u.tree["d/" + disk + ".msh"] == contents[i]) << disk;
    }
    EXPECT_TRUE(u.tree["d/shrunk.bin"] == "tiny" + std::string(transferSize + 1, '\0'));
}

// What the scan and the writer tell, as a library caller might keep it.
struct Heard : Reporter {
    std::vector<std::string> lines;
    void skipped(const std::string& path, const std::string& reason, const std::string&) override {
        lines.push_back("skipped " + path + ": " + reason);
    }
    void passedOver(const std::string& path, const std::string& reason) override {
        lines.push_back("passed over " + path + ": " + reason);
    }
    void writing(const std::string& path, uint32_t size) override {
        lines.push_back("writing " + path + " " + std::to_string(size));
    }
    void sourceFault(const std::string& path, SourceFault, uint32_t bytes, const std::string& why) override {
        lines.push_back(path + " " + why + " " + std::to_string(bytes));
    }
};

// The scan and the writer print nothing themselves: all they have to say
// goes to the reporter they are handed, and a silent one hears it all.
TEST_F(Writer, ScanAndWritingTellTheirReporterAndPrintNothing) {
    writeBytes(dir / "d/a.txt", "abc");
    writeBytes(dir / "d/b.txt", "12345");
    ASSERT_EQ(symlink("missing", (dir / "d/dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "d/fifo").c_str(), 0600), 0);
    InDir in(dir.path);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Heard heard;
    buildTree(root, {"d"}, {}, heard);
    root.size = fixupTree(root.child, 0);
    writeBytes(dir / "d/b.txt", "12");  // shrinks between the scan and the writing
    KeyedFile f(fileOpenWrite(archive));
    const bool ok = createFile(f, root, {}, heard);
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(ok);
    EXPECT_TRUE(fileClose(f.file));
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_EQ(heard.lines, (std::vector<std::string>{
                               "skipped d\\dangling: link target is missing",
                               "passed over d\\fifo: not a regular file or directory",
                               "writing d\\a.txt 3",
                               "writing d\\b.txt 5",
                               "d\\b.txt shrank since it was scanned 3",
                           }));
    Unpacked u = unpack(readBytes(archive));
    EXPECT_EQ(u.tree, (std::map<std::string, std::string>{
                          {"d", "<dir>"}, {"d/a.txt", "abc"}, {"d/b.txt", std::string("12\0\0\0", 5)}}));
}

}  // namespace
