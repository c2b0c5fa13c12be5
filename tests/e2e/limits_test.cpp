// The tool with little of what a process may have: stack, handles, address
// space. Each run goes through a shell that lowers one limit and then
// starts the tool, so the limit is the tool's alone. Linux builds only.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "e2e/harness.h"
#include "support/dat_codec.h"

namespace fs = std::filesystem;

namespace {

// valgrind runs the tool on a stack and in an address space of its own
// making, and the sanitizers reserve terabytes of address space.
bool underValgrind() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "vgpreload");
}
#ifdef DATTOOL_SANITIZED
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

struct Limits : ::testing::Test {
    ScratchDir dir;
    ScratchDir tools;  // the shell scripts, apart from what the tool writes

    void SetUp() override {
        if (runsWrapped()) GTEST_SKIP() << "the limits are those of the Linux build";
    }
    // Runs the tool after `ulimit <option>` in the shell that starts it.
    ToolRun limited(const std::string& option, const std::vector<std::string>& args,
                    const std::string& cwd = "") {
        const std::string script = tools / "limit.sh";
        writeBytes(script, "#!/bin/sh\nulimit " + option + " || exit 99\nexec \"$@\"\n");
        EXPECT_EQ(chmod(script.c_str(), 0755), 0);
        return runProgram(programUnderTest(), script, args, cwd.empty() ? dir.path : cwd);
    }
};

// A chain of directories named d, depth deep, made by handles: deeper than
// a path can name from the top.
void makeChain(const std::string& top, int depth, const std::string& file) {
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(mkdirat(fd, "d", 0755), 0) << i;
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    int f = openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(f, 0);
    ASSERT_EQ(write(f, "deep", 4), 4);
    close(f);
    close(fd);
}

// No walk takes a call per level: the deepest archive the reader takes, and
// the deepest tree a path can name on disk, fit in a 256 KiB stack (8 MiB
// with the sanitizers, whose frames are larger).
TEST_F(Limits, DeepestTreesFitInASmallStack) {
    if (underValgrind()) GTEST_SKIP() << "valgrind runs the tool on a stack of its own";
    const std::string stack = sanitized ? "-s 8192" : "-s 256";
    struct Case {
        const char* archive;
        int status;
    } cases[] = {{"deepest_path.dat", 0}, {"too_deep.dat", 255}};
    for (const Case& c : cases) {
        for (const char* command : {"l", "x"}) {
            ToolRun r = limited(stack, {command, dataFile(c.archive)});
            EXPECT_EQ(r.status, c.status) << command << " " << c.archive << "\n" << r.err;
        }
    }
    // 2047 levels of "d" and a file "f": a stored path of exactly 4095 bytes.
    ScratchDir src;
    makeChain(src.path, 2047, "f");
    ToolRun made = limited(stack, {"c", dir / "../deep.dat", "d"}, src.path);
    ASSERT_EQ(made.status, 0) << made.err;
    ToolRun back = limited(stack, {"x", dir / "../deep.dat"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(treeOf(dir.path), treeOf(src.path));
}

// One level more than a path can name from the top: the path limit refuses
// it before the reader's depth limit could, and everything above is stored.
TEST_F(Limits, DirectoryOneLevelTooDeepIsNotStored) {
    ScratchDir src;
    makeChain(src.path, 2047, "f");
    std::string parent = "d";
    for (int i = 1; i < 2047; ++i) parent += "\\d";
    // Beside f at the bottom, a directory "e": 4095 bytes, and its "\\".
    int fd = open(src.path.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < 2047 && fd >= 0; ++i) {
        const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
    }
    ASSERT_GE(fd, 0);
    ASSERT_EQ(mkdirat(fd, "e", 0755), 0);
    close(fd);
    ToolRun made = runTool({"c", dir / "../deep.dat", "d"}, src.path);
    EXPECT_EQ(made.out,
              "Skipping " + parent + "\\e: path is too long to be extracted\nWriting " + parent + "\\f...\n");
    EXPECT_EQ(made.err, errLine(parent + "\\e", "path is too long to be extracted"));
    EXPECT_EQ(made.status, 255);
    ToolRun l = runTool({"l", dir / "../deep.dat"}, dir.path);
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.out.substr(l.out.size() - std::min<size_t>(l.out.size(), parent.size() + 4)),
              "\n" + parent + "\\f\n");
}

// The directories of the current path are held open; with few handles to
// hold them, the deepest are given back and opened again, name by name.
TEST_F(Limits, FewHandlesStillReachEveryDirectory) {
    if (underValgrind()) GTEST_SKIP() << "valgrind keeps handles of its own below the limit";
    ToolRun r = limited("-n 10", {"x", dataFile("nested_200_levels.dat")});
    EXPECT_EQ(r.status, 0) << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 400));
    std::string bottom;
    for (int i = 0; i < 200; ++i) bottom += "d/";
    EXPECT_EQ(readBytes(dir / (bottom + "f.txt")), "deep");
}

// Handles given back deep down, then files at shallower levels, each
// beside a directory that may no longer be held.
TEST_F(Limits, FewHandlesThenShallowerSiblings) {
    if (underValgrind()) GTEST_SKIP() << "valgrind keeps handles of its own below the limit";
    const std::string archive = dir / "../siblings.dat";
    writeBytes(archive,
               archiveBytes({dirNode(
                   "a", {dirNode("b", {dirNode("c", {dirNode("d", {fileNode("x", "x")}), fileNode("y", "y")}),
                                       fileNode("z", "z")}),
                         dirNode("e", {fileNode("w", "w")})})}));
    ToolRun r = limited("-n 7", {"x", archive});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{{"a", "<dir>"},
                                                                    {"a/b", "<dir>"},
                                                                    {"a/b/c", "<dir>"},
                                                                    {"a/b/c/d", "<dir>"},
                                                                    {"a/b/c/d/x", "x"},
                                                                    {"a/b/c/y", "y"},
                                                                    {"a/b/z", "z"},
                                                                    {"a/e", "<dir>"},
                                                                    {"a/e/w", "w"}}));
}

// Counts the archive claims cost no memory: with little address space,
// directories claiming 16,777,215 children each are damage, as with
// plenty, not an archive too large for memory.
TEST_F(Limits, ClaimedCountsAreDamageNotMemory) {
    if (underValgrind() || sanitized) GTEST_SKIP() << "needs the address space of a plain build";
    for (const char* sample : {"claimed_counts.dat", "huge_child_count.dat"}) {
        for (const char* command : {"l", "x"}) {
            ToolRun r = limited("-v 102400", {command, dataFile(sample)});
            EXPECT_EQ(r.status, 255) << command << " " << sample;
            EXPECT_NE(r.out.find("\nDamaged archive: record at offset "), std::string::npos)
                << command << " " << sample << "\n"
                << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 300));
        }
    }
    EXPECT_TRUE(treeOf(dir.path).empty());
}

// A sound archive whose tree needs more memory than the tool may have: said
// so, not as damage, naming the archive on standard error.
TEST_F(Limits, ArchiveTooLargeForMemoryIsSaidSo) {
    if (underValgrind() || sanitized) GTEST_SKIP() << "needs the address space of a plain build";
    // One directory of two million files with empty names: a 24 MB TOC whose
    // tree takes well over 100 MB.
    const uint32_t files = 2000000;
    std::string toc = "tolva";
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) toc += static_cast<char>(v >> (8 * i));
    };
    toc += std::string("\x01\x00\x00", 3);
    put32(0), put32(0), put32(1 << 8), toc += '\0';
    toc += std::string("\x01\x01\x00", 3) + "d";
    put32(0), put32(0), put32(files << 8), toc += '\0';
    const std::string record("\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x01", 12);
    toc.reserve(toc.size() + files * record.size());
    for (uint32_t i = 0; i < files; ++i) toc += record;
    writeBytes(dir / "../big.dat", dat::scramble(toc, 0));

    for (const char* command : {"l", "x"}) {
        ToolRun r = limited("-v 102400", {command, dir / "../big.dat"});
        EXPECT_EQ(r.status, 255) << command;
        EXPECT_EQ(r.out,
                  "Opening " + dir / "../big.dat" + "...ok\nParsing TOC...\nArchive does not fit in memory\n")
            << command;
        EXPECT_EQ(r.err, errLine(dir / "../big.dat", "Archive does not fit in memory")) << command;
    }
    EXPECT_TRUE(treeOf(dir.path).empty());

    // Directories that each hold two links to the next fan out to 2^24
    // copies of the 200 empty files at the bottom: the tree outgrows the
    // memory long before the archive would reach 4 GiB. Nothing is left.
    ScratchDir src;
    for (int i = 0; i <= 24; ++i) {
        fs::create_directory(src / ("l" + std::to_string(i)));
        if (i > 0) {
            fs::create_directory_symlink("../l" + std::to_string(i),
                                         src / ("l" + std::to_string(i - 1) + "/a"));
            fs::create_directory_symlink("../l" + std::to_string(i),
                                         src / ("l" + std::to_string(i - 1) + "/b"));
        }
    }
    for (int i = 0; i < 200; ++i) writeBytes(src / ("l24/f" + std::to_string(i)), "");
    ToolRun c = limited("-v 102400", {"c", dir / "fan.dat", "l0"}, src.path);
    EXPECT_EQ(c.status, 255);
    // Short of memory, listing a directory may fail too ("No files found").
    const std::string last = "Archive does not fit in memory\n";
    EXPECT_EQ(c.out.substr(c.out.size() - std::min(c.out.size(), last.size())), last) << c.out;
    const std::string lastErr = errLine(dir / "fan.dat", "Archive does not fit in memory");
    EXPECT_EQ(c.err.substr(c.err.size() - std::min(c.err.size(), lastErr.size())), lastErr) << c.err;
    EXPECT_FALSE(exists(dir / "fan.dat"));
}

}  // namespace
