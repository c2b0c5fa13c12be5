// Lists and extracts every sample archive of tests/data, one test each,
// named for the file, and checks the exact output, the exit statuses and the
// tree left behind, which must lie wholly inside the scratch directory, and
// standard error, which says where and why for each failure.
// What to expect is written beside each archive by tests/data/make_samples.py
// (<name>.expected, or <name>.windows.expected for a Windows build where
// that differs), so a new hostile case is one entry there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "e2e/harness.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

void expectOutput(const std::string& got, const ExpectedOutput& want, const char* command) {
    if (want.whole) {
        EXPECT_EQ(got, want.bytes) << command;
        return;
    }
    EXPECT_EQ(static_cast<size_t>(std::count(got.begin(), got.end(), '\n')), want.lines) << command;
    EXPECT_EQ(got.size(), want.size) << command;
    const bool endsRight = got.size() >= want.last.size() &&
                           got.compare(got.size() - want.last.size(), want.last.size(), want.last) == 0;
    EXPECT_TRUE(endsRight) << command << " ends in\n"
                           << got.substr(got.size() - std::min<size_t>(got.size(), 300));
    EXPECT_EQ(fnv1a64(got), want.hash) << command;
}

// Standard error with the archive's path as the expectations write it.
std::string withPlaceholder(std::string err, const std::string& archive) {
    for (size_t at = err.find(archive); at != std::string::npos; at = err.find(archive, at))
        err.replace(at, archive.size(), "<archive>");
    return err;
}

// t reads an archive to where its records end, so of a cut one, or one
// whose root claims too much, it tells what x cannot: which files it holds
// whole. Of every other sample it says what x says, on standard error.
const std::map<std::string, std::string> testedOtherwise = {
    {"cut_short",
     errLine("<archive>",
             "Damaged archive: the data region ends 4 bytes short of the size its root record gives") +
         errLine("data\\m.msh", "cut short: the archive ends before its bytes do")},
    {"root_size_too_large",
     errLine("<archive>",
             "Damaged archive: the data region ends 997 bytes short of the size its root record gives")},
    {"root_size_one_too_large",
     errLine("<archive>",
             "Damaged archive: the data region ends 38 bytes short of the size its root record gives")},
    // Its records run past the end of the archive, not of a TOC cut short.
    {"huge_child_count",
     errLine("<archive>", "Damaged archive: record at offset 60 runs past the end of the TOC at 61")},
};

struct Samples : ::testing::TestWithParam<std::string> {};

TEST_P(Samples, ListAndExtract) {
    const std::string archive = dataFile(GetParam() + ".dat");
    std::string expectedFile = dataFile(GetParam() + ".windows.expected");
    if (!testingWindowsBuild() || !exists(expectedFile)) expectedFile = dataFile(GetParam() + ".expected");
    ASSERT_TRUE(exists(expectedFile)) << "no " << expectedFile << ": run tests/data/make_samples.py";
    const Expected want = parseExpected(readBytes(expectedFile));
    const std::string opening = "Opening " + archive + "...ok\nParsing TOC...\n";
    ScratchDir dir;

    ToolRun l = runTool({"l", archive}, dir.path);
    ASSERT_EQ(l.out.compare(0, opening.size(), opening), 0) << l.out.substr(0, 300);
    expectOutput(l.out.substr(opening.size()), want.list, "l");
    EXPECT_EQ(l.status, want.listStatus);
    expectOutput(withPlaceholder(l.err, archive), want.listErrors, "l, standard error");
    EXPECT_TRUE(treeOf(dir.path).empty());

    ToolRun x = runTool({"x", archive}, dir.path);
    ASSERT_EQ(x.out.compare(0, opening.size(), opening), 0) << x.out.substr(0, 300);
    expectOutput(x.out.substr(opening.size()), want.extract, "x");
    EXPECT_EQ(x.status, want.extractStatus);
    expectOutput(withPlaceholder(x.err, archive), want.extractErrors, "x, standard error");
    EXPECT_EQ(treeOf(dir.path), want.tree);
    EXPECT_EQ(besideScratch(dir), std::vector<std::string>{"work"});
    EXPECT_FALSE(exists("/tmp/dattool-escape"));

    // t: x's verdict, with nothing written.
    ScratchDir tested;
    ToolRun t = runTool({"t", archive}, tested.path);
    EXPECT_EQ(t.status, x.status);
    const auto otherwise = testedOtherwise.find(GetParam());
    EXPECT_EQ(withPlaceholder(t.err, archive),
              otherwise == testedOtherwise.end() ? withPlaceholder(x.err, archive) : otherwise->second);
    EXPECT_TRUE(treeOf(tested.path).empty());
    EXPECT_EQ(besideScratch(tested), std::vector<std::string>{"work"});

    // x -C: the same run and the same tree, below a directory made for it
    // once the archive is found sound, and nothing anywhere else.
    ScratchDir other;
    ToolRun below = runTool({"x", "-C", "out/deep", archive}, other.path);
    EXPECT_EQ(below.out, x.out);
    EXPECT_EQ(below.status, x.status);
    EXPECT_EQ(below.err, x.err);
    std::map<std::string, std::string> made;
    if (x.out.find("\nExtracting...\n") != std::string::npos)
        made = {{"out", "<dir>"}, {"out/deep", "<dir>"}};
    for (const auto& [path, content] : want.tree) made["out/deep/" + path] = content;
    EXPECT_EQ(treeOf(other.path), made);
    EXPECT_EQ(besideScratch(other), std::vector<std::string>{"work"});
}

INSTANTIATE_TEST_SUITE_P(Data, Samples, ::testing::ValuesIn(sampleStems()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return testNameFor(info.param);
                         });

}  // namespace
