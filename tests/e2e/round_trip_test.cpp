// Trees packed by the create command come back unchanged, read by the
// tests' own decoder and by the extract command.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "creation/unpack.h"
#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

// Every byte a name may hold here but "/" and "\\", in single-byte names
// and in longer ones; empty files and directories; names that differ only
// in case or in the case of a plain-stored ending; a 2 MiB file.
void makeTree(const std::string& top, bool reversed) {
    std::vector<std::pair<std::string, std::string>> files;
    std::string all;
    for (int b = 1; b < 256; ++b) {
        if (b == '/' || b == '\\') continue;
        all += static_cast<char>(b);
        if (b != '.') files.emplace_back("bytes/" + std::string(1, static_cast<char>(b)), std::string(b % 7, char(b)));
    }
    for (size_t i = 0; i < all.size(); i += 100) files.emplace_back("mixed/" + all.substr(i, 100), all.substr(i));
    files.emplace_back("tex/a.tex", "stored plain");
    files.emplace_back("tex/a.TEX", "also plain");
    files.emplace_back("tex/a.Tex", "scrambled");
    files.emplace_back("tex/A.MSH", "plain too");
    files.emplace_back("empty/file", "");
    files.emplace_back("deep/er/still/leaf.txt", "leaf");
    std::string big(2 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 11));
    files.emplace_back("deep/big.bin", big);
    if (reversed) std::reverse(files.begin(), files.end());
    fs::create_directories(top + "/empty/dir/inside");
    fs::create_directories(top + "/deep/er/still");
    for (const char* d : {"bytes", "mixed", "tex"}) fs::create_directories(fs::path(top) / d);
    for (const auto& [rel, content] : files) writeBytes((fs::path(top) / rel).string(), content);
}

std::map<std::string, std::string> prefixed(const std::string& prefix, const std::string& dir) {
    std::map<std::string, std::string> tree = {{prefix, "<dir>"}};
    for (const auto& [path, content] : treeOf(dir)) tree[(fs::path(prefix) / path).string()] = content;
    return tree;
}

TEST(RoundTrip, ArchiveHoldsTheTreeExactly) {
    ScratchDir dir;
    makeTree(dir / "one", false);
    fs::create_directories(dir / "two/x");
    writeBytes(dir / "two/x/y.msh", "mesh");
    ToolRun r = runTool({"c", "../out.dat", "one", "two"}, dir.path);
    EXPECT_EQ(r.status, 0);
    Unpacked u = unpack(readBytes(dir / "../out.dat"));
    std::map<std::string, std::string> expected = prefixed("one", dir / "one");
    expected.merge(prefixed("two", dir / "two"));
    EXPECT_TRUE(u.tree == expected);
    EXPECT_EQ(u.root.count, 2u);
    for (size_t i = 0; i < u.records.size(); ++i) {
        const std::string& p = u.paths[i];
        if (u.records[i].type != typeFile) continue;
        bool plain = p == "one/tex/a.tex" || p == "one/tex/a.TEX" || p == "one/tex/A.MSH" || p == "two/x/y.msh";
        EXPECT_EQ(u.records[i].scrambled, plain ? 0 : 1) << p;
    }
}

TEST(RoundTrip, ExtractGivesBackTheSameTree) {
    ScratchDir dir;
    makeTree(dir / "one", false);
    fs::create_directories(dir / "two/x");
    writeBytes(dir / "two/x/y.msh", "mesh");
    ASSERT_EQ(runTool({"c", "../out.dat", "one", "two"}, dir.path).status, 0);
    fs::create_directory(dir / "../fresh");
    ToolRun r = runTool({"x", "../out.dat"}, dir / "../fresh");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(treeOf(dir / "../fresh") == treeOf(dir.path));
}

TEST(RoundTrip, SameTreeGivesIdenticalArchives) {
    // Built twice in opposite orders, so the order the system lists them in
    // differs while the trees are the same.
    ScratchDir a, b;
    makeTree(a / "t", false);
    makeTree(b / "t", true);
    ASSERT_TRUE(treeOf(a.path) == treeOf(b.path));
    ToolRun ra = runTool({"c", "../out.dat", "t"}, a.path);
    ToolRun rb = runTool({"c", "../out.dat", "t"}, b.path);
    EXPECT_EQ(ra.status, 0);
    EXPECT_EQ(ra.out, rb.out);
    std::string first = readBytes(a / "../out.dat");
    EXPECT_GT(first.size(), 2u * 1024 * 1024);
    EXPECT_TRUE(first == readBytes(b / "../out.dat"));
    // And again over the existing archive.
    runTool({"c", "../out.dat", "t"}, a.path);
    EXPECT_TRUE(first == readBytes(a / "../out.dat"));
}

}  // namespace
