// Checks that only mean something for a Windows build of the program, run
// with DATTOOL_EXE pointing at it (tests/e2e/under-wine.sh); skipped otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

#define SKIP_UNLESS_WINDOWS_BUILD() \
    if (!testingWindowsBuild()) GTEST_SKIP() << "DATTOOL_EXE names no Windows build"

// Standard output is in text mode, as a console program's is: every line
// ends in CR LF.
TEST(WindowsBuild, LinesEndInCrLf) {
    SKIP_UNLESS_WINDOWS_BUILD();
    ScratchDir dir;
    for (const auto& args : {std::vector<std::string>{}, {"x", "missing.dat"}}) {
        ToolRun r = runTool(args, dir.path);
        size_t lines = static_cast<size_t>(std::count(r.raw.begin(), r.raw.end(), '\n'));
        size_t crlf = 0;
        for (size_t at = r.raw.find("\r\n"); at != std::string::npos; at = r.raw.find("\r\n", at + 2)) ++crlf;
        EXPECT_GT(lines, 0u);
        EXPECT_EQ(crlf, lines) << r.raw;
        EXPECT_EQ(r.raw.size(), r.out.size() + lines);
    }
}

}  // namespace

namespace {

// A tree whose names Windows can hold, each distinct without regard to case:
// plain and scrambled files, nesting, an empty file, an empty directory and
// a file larger than one transfer chunk.
void makeTree(const ScratchDir& dir) {
    fs::create_directories(dir / "data/sub/deep");
    fs::create_directories(dir / "data/empty");
    fs::create_directories(dir / "more");
    writeBytes(dir / "data/a.tex", "texture, stored plain");
    writeBytes(dir / "data/b.txt", "text, scrambled");
    writeBytes(dir / "data/zero.txt", "");
    writeBytes(dir / "data/sub/c.MSH", "mesh, stored plain");
    std::string big(3 * 1024 * 1024 + 5, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 + (i >> 9));
    writeBytes(dir / "data/sub/deep/big.bin", big);
    writeBytes(dir / "more/last one.txt", "a name with a space");
}

// The Windows and Linux builds write the same archive of the same tree,
// byte for byte, and each extracts what the other wrote.
TEST(WindowsBuild, ArchivesMatchTheLinuxBuildsBothWays) {
    SKIP_UNLESS_WINDOWS_BUILD();
    ScratchDir dir;
    makeTree(dir);
    ToolRun win = runTool({"c", "../win.dat", "data", "more"}, dir.path);
    ToolRun lin = runNative({"c", "../lin.dat", "data", "more"}, dir.path);
    EXPECT_EQ(win.status, 0) << win.out;
    EXPECT_EQ(lin.status, 0) << lin.out;
    EXPECT_EQ(win.out, lin.out);
    std::string archive = readBytes(dir / "../win.dat");
    EXPECT_GT(archive.size(), 3u * 1024 * 1024);
    EXPECT_TRUE(archive == readBytes(dir / "../lin.dat"));

    fs::create_directory(dir / "../byLinux");
    fs::create_directory(dir / "../byWindows");
    ToolRun xl = runNative({"x", "../win.dat"}, dir / "../byLinux");
    ToolRun xw = runTool({"x", "../lin.dat"}, dir / "../byWindows");
    EXPECT_EQ(xl.status, 0) << xl.out;
    EXPECT_EQ(xw.status, 0) << xw.out;
    // Only the opening line names the archive; the rest must agree.
    EXPECT_EQ(xw.out.substr(xw.out.find('\n')), xl.out.substr(xl.out.find('\n')));
    EXPECT_TRUE(treeOf(dir / "../byLinux") == treeOf(dir.path));
    EXPECT_TRUE(treeOf(dir / "../byWindows") == treeOf(dir.path));
}

}  // namespace
