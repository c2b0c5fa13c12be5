// Checks that only mean something for a Windows build of the program, run
// with DATTOOL_EXE pointing at it (tests/e2e/under-wine.sh); skipped otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

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

// One build of the program and how to start it.
struct Build {
    std::string name;
    std::function<ToolRun(const std::vector<std::string>&, const std::string&)> run;
};

// The Linux build, the Windows build under test and, where DATTOOL_OTHER_EXE
// names one (run by DATTOOL_OTHER_WRAPPER), a second Windows build such as
// the 64-bit program while the 32-bit one is under test.
std::vector<Build> buildsToCompare() {
    std::vector<Build> builds = {{"Linux", runNative}, {"the build under test", runTool}};
    const char* other = std::getenv("DATTOOL_OTHER_EXE");
    if (other && *other) {
        const char* wrapper = std::getenv("DATTOOL_OTHER_WRAPPER");
        std::string exe = other, wrap = wrapper ? wrapper : "";
        builds.push_back({exe, [exe, wrap](const std::vector<std::string>& args, const std::string& cwd) {
                              return runProgram(exe, wrap, args, cwd);
                          }});
    }
    return builds;
}

// Every build writes the same archive of the same tree, byte for byte, and
// each extracts what every other one wrote.
TEST(WindowsBuild, EveryBuildWritesTheSameArchiveAndExtractsTheOthers) {
    SKIP_UNLESS_WINDOWS_BUILD();
    ScratchDir dir;
    makeTree(dir);
    const std::vector<Build> builds = buildsToCompare();
    const auto archive = [&](size_t i) { return "../" + std::to_string(i) + ".dat"; };

    std::string expectedOut, expectedArchive;
    for (size_t i = 0; i < builds.size(); ++i) {
        SCOPED_TRACE(builds[i].name);
        ToolRun c = builds[i].run({"c", archive(i), "data", "more"}, dir.path);
        EXPECT_EQ(c.status, 0) << c.out;
        std::string bytes = readBytes(dir / archive(i));
        if (i == 0) {
            expectedOut = c.out;
            expectedArchive = bytes;
            EXPECT_GT(bytes.size(), 3u * 1024 * 1024);
        } else {
            EXPECT_EQ(c.out, expectedOut);
            EXPECT_TRUE(bytes == expectedArchive);
        }
    }

    std::string expectedExtract;
    for (size_t i = 0; i < builds.size(); ++i) {
        for (size_t from = 0; from < builds.size(); ++from) {
            if (from == i) continue;
            SCOPED_TRACE(builds[i].name + " extracting what " + builds[from].name + " wrote");
            const std::string out = dir / ("../by" + std::to_string(i) + "from" + std::to_string(from));
            fs::create_directory(out);
            // The archives sit beside the scratch directory, as do these.
            ToolRun x = builds[i].run({"x", archive(from)}, out);
            EXPECT_EQ(x.status, 0) << x.out;
            // Only the opening line names the archive; the rest must agree.
            std::string rest = x.out.substr(std::min(x.out.find('\n'), x.out.size()));
            if (expectedExtract.empty())
                expectedExtract = rest;
            else
                EXPECT_EQ(rest, expectedExtract);
            EXPECT_TRUE(treeOf(out) == treeOf(dir.path));
        }
    }
}

}  // namespace
