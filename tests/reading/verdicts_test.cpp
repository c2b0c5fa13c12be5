// The verdicts on an archive's entries: judged from the archive alone, they
// must say exactly what "x" then makes on the disk.
#include "reading/verdicts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "archive/format.h"
#include "archive/paths.h"
#include "reading/in_process.h"
#include "reading/members.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace {

Archive decoded(const std::vector<Node>& top) {
    Archive archive;
    const std::vector<uint8_t> block = tocBlock(top);
    readTOC({block.data(), block.data() + block.size()}, archive);
    return archive;
}

// One line per verdict: stored path, written path, refusal, "replaced".
std::vector<std::string> described(const std::vector<Verdict>& verdicts) {
    std::vector<std::string> out;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        std::string line = storedPath(verdicts, i) + " -> ";
        line +=
            verdicts[i].refusal == Refusal::none ? writtenPath(verdicts, i) : reasonOf(verdicts[i].refusal);
        if (verdicts[i].replaced) line += " (replaced)";
        out.push_back(line);
    }
    return out;
}

struct Case {
    const char* what;
    std::vector<Node> top;
    std::vector<std::string> verdicts;
    size_t filled = 0;  // slots of the table of names it takes; 0: not counted
};

// n files at the top, the k-th named name(k), each written where its
// name says, taking filled slots of the table of names.
Case separateFiles(const char* what, size_t n, const std::function<std::string(size_t)>& name,
                   size_t filled) {
    Case c{what, {}, {}, filled};
    for (size_t k = 0; k < n; ++k) {
        c.top.push_back(fileNode(name(k), "1"));
        c.verdicts.push_back(name(k) + " -> " + name(k));
    }
    return c;
}

const Case cases[] = {
    {"plain tree",
     {dirNode("d", {fileNode("a", "1"), dirNode("e", {fileNode("b", "2")})})},
     {"d\\ -> d\\", "d\\a -> d\\a", "d\\e\\ -> d\\e\\", "d\\e\\b -> d\\e\\b"}},
    {"anchors stripped, climbing refused below",
     {dirNode("\\abs", {fileNode("C:x", "1")}),
      dirNode("..", {fileNode("f", "2"), dirNode("..", {fileNode("g", "3")})}),
      dirNode("d", {fileNode("..\\up", "4"), dirNode("..", {fileNode("h", "5")})})},
     {"\\abs\\ -> abs\\", "\\abs\\C:x -> abs\\C:x", "..\\ -> ", "..\\f -> f", "..\\..\\ -> ",
      "..\\..\\g -> g", "d\\ -> d\\", "d\\..\\up -> path leaves the current directory",
      "d\\..\\ -> path leaves the current directory", "d\\..\\h -> path leaves the current directory"}},
    {"names no file",
     {dirNode("d", {fileNode("", "1"), fileNode("x\\", "2")}), fileNode("..", "3")},
     {"d\\ -> d\\", "d\\ -> path names no file", "d\\x\\ -> path names no file", ".. -> path names no file"}},
    {"repeated files: the last wins, across directories and separators",
     {dirNode("d", {fileNode("a", "1"), fileNode("a", "2")}), dirNode("d", {fileNode("a", "3")}),
      fileNode("d/a", "4")},
     {"d\\ -> d\\", "d\\a -> d\\a (replaced)", "d\\a -> d\\a (replaced)", "d\\ -> d\\",
      "d\\a -> d\\a (replaced)", "d/a -> d/a"}},
    {"files and directories in each other's way",
     {fileNode("f", "1"), dirNode("f", {fileNode("x", "2")}), fileNode("f\\y", "3"), dirNode("d"),
      fileNode("d", "4")},
     {"f -> f", "f\\ -> a file stands in the way", "f\\x -> a file stands in the way",
      "f\\y -> a file stands in the way", "d\\ -> d\\", "d -> a directory stands in the way"}},
    {"a file named \".\" is refused before any directory of its name is taken as made",
     {fileNode("a\\.", "1"), fileNode("a", "2"), fileNode("b\\c/.", "3"), dirNode("b", {fileNode("c", "4")})},
     {"a\\. -> a directory stands in the way", "a -> a", "b\\c/. -> a directory stands in the way",
      "b\\ -> b\\", "b\\c -> b\\c"}},
    {"an empty name below a path adds its separator",
     {dirNode("a", {dirNode("", {fileNode("f", "1")})})},
     {"a\\ -> a\\", "a\\\\ -> a\\\\", "a\\\\f -> a\\\\f"}},
    {"names longer than a directory entry takes, and all below them",
     {fileNode(std::string(256, 'f'), "1"), dirNode(std::string(256, 'd'), {fileNode("in", "2")}),
      fileNode("k/" + std::string(256, 'g'), "3"), fileNode(std::string(255, 'n'), "4")},
     {std::string(256, 'f') + " -> File name too long", std::string(256, 'd') + "\\ -> File name too long",
      std::string(256, 'd') + "\\in -> File name too long",
      "k/" + std::string(256, 'g') + " -> File name too long",
      std::string(255, 'n') + " -> " + std::string(255, 'n')}},
    {"\".\" opens the directory it stands in",
     {dirNode("d", {fileNode("a", "1")}), dirNode("d\\.", {fileNode("a", "2")}), fileNode(".\\d\\.\\a", "3"),
      dirNode("e", {fileNode(".", "4")})},
     {"d\\ -> d\\", "d\\a -> d\\a (replaced)", "d\\.\\ -> d\\.\\", "d\\.\\a -> d\\.\\a (replaced)",
      ".\\d\\.\\a -> .\\d\\.\\a", "e\\ -> e\\", "e\\. -> a directory stands in the way"}},
    // The table of names never grows: these take as many of its slots as
    // their archives can, a name each, two names each, and a chain, its
    // split, a new chain and a file for every second entry.
    separateFiles(
        "a name for each file", 13, [](size_t k) { return "f" + std::to_string(k); }, 13),
    separateFiles(
        "two names for each file", 7, [](size_t k) { return "d" + std::to_string(k) + "\\f"; }, 14),
    separateFiles(
        "chains split by the next file", 6,
        [](size_t k) { return "a" + std::to_string(k / 2) + (k % 2 ? "\\x\\y" : "\\b\\c\\d\\e"); }, 15),
};

TEST(Verdicts, SayWhatExtractionDoes) {
    for (const Case& c : cases) {
        const Archive archive = decoded(c.top);
        ASSERT_EQ(archive.status, Toc::ok) << c.what << ": " << archive.damage;
        NameTableUse use;
        EXPECT_EQ(described(judgeExtraction(archive, nullptr, &use)), c.verdicts) << c.what;
        // Room to spare for every name: at most four fifths full.
        EXPECT_LE(use.filled * 5, use.slots * 4) << c.what << ": " << use.filled << " of " << use.slots;
        if (c.filled != 0) {
            EXPECT_EQ(use.filled, c.filled) << c.what;
        }
    }
}

TEST(Verdicts, FileBytesOutsideTheDataRegionAreRefused) {
    Archive archive = decoded({fileNode("a", "12"), fileNode("b", "")});
    archive.root.size = 1;              // "a" now reaches one byte past the region
    archive.root.child[1].offset = 99;  // empty: reads nothing, may point anywhere
    EXPECT_EQ(described(judgeExtraction(archive)),
              (std::vector<std::string>{"a -> its bytes lie outside the archive", "b -> b"}));
}

// Members against stored paths as "l" lists them.
TEST(Members, MatchTheWholeStoredPath) {
    struct Row {
        const char* member;
        const char* path;
        bool matches;
    };
    const Row rows[] = {
        {"data\\a.txt", "data\\a.txt", true},
        {"data/a.txt", "data\\a.txt", true},  // either separator
        {"data\\a.txt", "data/a.txt", true},
        {"data", "data\\", true},  // a directory, with or without its separator
        {"data/", "data\\", true},
        {"data\\//", "data\\", true},
        {"data", "data\\a.txt", false},  // the whole path, never a part of it
        {"a.txt", "data\\a.txt", false},
        {"Data", "data\\", false},  // case counts
        {"data\\a", "data\\a.txt", false},
        {"*.txt", "data\\sub\\a.txt", true},  // "*" crosses separators
        {"data*", "data\\", true},
        {"*", "", true},
        {"d*a/*/b", "data\\x\\y\\b", true},
        {"*a*b*c*", "xaybzc", true},
        {"*a*b*c*", "xaybz", false},
        {"?", "a", true},
        {"?", "", false},
        {"??", "a", false},
        {"a?b", "a\\b", true},  // so does "?"
        {"[abc].txt", "b.txt", true},
        {"[abc].txt", "d.txt", false},
        {"[a-c]", "a", true},  // a range holds both its ends
        {"[a-c]", "c", true},
        {"[a-c]", "d", false},
        {"[!a-c]", "d", true},
        {"[^a-c]", "b", false},
        {"[]x]", "]", true},  // "]" first is one of the set
        {"[!]]", "]", false},
        {"a[/]b", "a\\b", true},
        {"[ab", "[ab", true},  // no "]": the "[" is itself
        {"[ab", "a", false},
        {"x[1].txt", "x[1].txt", true},  // as listed, though the set would say no
        {"x[1].txt", "x1.txt", true},
        {"a*", "b", false},
        {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
    };
    for (const Row& row : rows)
        EXPECT_EQ(memberMatches(row.member, row.path), row.matches) << row.member << " on " << row.path;
}

// Which entries members select, and which members named nothing.
TEST(Members, SelectWhatTheyNameAndEverythingBelowADirectory) {
    struct Row {
        std::vector<std::string> members;
        std::vector<std::string> selected;  // stored paths
        std::vector<bool> found;
    };
    const Archive archive =
        decoded({dirNode("d", {fileNode("a.txt", "1"), dirNode("e", {fileNode("b.tex", "2")})}),
                 fileNode("c.txt", "3"), dirNode("..", {fileNode("up", "4")})});
    const std::vector<Row> rows = {
        {{"d/e"}, {"d\\e\\", "d\\e\\b.tex"}, {true}},
        {{"d"}, {"d\\", "d\\a.txt", "d\\e\\", "d\\e\\b.tex"}, {true}},
        {{"*.txt"}, {"d\\a.txt", "c.txt"}, {true}},
        // A member inside a directory already selected is found as well.
        {{"d", "d\\e\\b.tex", "nothing", "*.none"},
         {"d\\", "d\\a.txt", "d\\e\\", "d\\e\\b.tex"},
         {true, true, false, false}},
        // Refused entries are selected like any: extraction decides.
        {{"../up"}, {"..\\up"}, {true}},
        {{}, {}, {}},
    };
    const std::vector<Verdict> verdicts = judgeExtraction(archive);
    for (const Row& row : rows) {
        Members members = membersOf(row.members);
        const std::vector<bool> selected = selectedBy(members, verdicts);
        ASSERT_EQ(selected.size(), verdicts.size());
        std::vector<std::string> paths;
        for (size_t i = 0; i < verdicts.size(); ++i)
            if (selected[i]) paths.push_back(storedPath(verdicts, i));
        const std::string what = row.members.empty() ? "none" : row.members[0];
        EXPECT_EQ(paths, row.selected) << what;
        EXPECT_EQ(members.found, row.found) << what;
    }
}

// The names of a written path as this test takes them, apart from the
// code under test: split at either separator, empty names left out.
std::vector<std::string> namesOf(const std::string& path) {
    std::vector<std::string> names(1);
    for (char c : path) {
        if (c != '\\' && c != '/')
            names.back() += c;
        else if (!names.back().empty())
            names.emplace_back();
    }
    if (names.back().empty()) names.pop_back();
    return names;
}

// The rules of repeated paths as plainly as they can be said, over whole
// written paths: a file stops every path below it, a later file replaces an
// earlier one, a file cannot go where a directory is, and "." opens the
// directory it stands in, so a file cannot be named "." and, refused, makes
// nothing. The verdicts' compact tables must agree with it.
std::vector<std::string> plainRules(const std::vector<Verdict>& verdicts) {
    std::map<std::vector<std::string>, std::pair<bool, size_t>> made;  // path -> file, verdict
    std::vector<Refusal> refusal(verdicts.size());
    std::vector<bool> replaced(verdicts.size());
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const Verdict& v = verdicts[i];
        const bool inTheWay = v.refusal == Refusal::fileInTheWay || v.refusal == Refusal::directoryInTheWay;
        refusal[i] = inTheWay ? Refusal::none : v.refusal;
        if (refusal[i] == Refusal::none && v.parent != topLevel && refusal[v.parent] == Refusal::fileInTheWay)
            refusal[i] = Refusal::fileInTheWay;
        if (refusal[i] != Refusal::none) continue;
        std::vector<std::string> path;
        const std::vector<std::string> names = namesOf(writtenPath(verdicts, i));
        const bool dir = v.entry->type == typeDirectory;
        if (!dir && names.back() == ".") {
            refusal[i] = Refusal::directoryInTheWay;
            continue;
        }
        for (size_t n = 0; n < names.size(); ++n) {
            if (!dir && n + 1 == names.size()) break;
            if (names[n] == ".") continue;
            path.push_back(names[n]);
            auto [it, fresh] = made.try_emplace(path, false, i);
            if (!fresh && it->second.first) {
                refusal[i] = Refusal::fileInTheWay;
                break;
            }
        }
        if (dir || refusal[i] != Refusal::none) continue;
        path.push_back(names.back());
        auto [it, fresh] = made.try_emplace(path, true, i);
        if (!it->second.first) {
            refusal[i] = Refusal::directoryInTheWay;
        } else if (!fresh) {
            replaced[it->second.second] = true;
            it->second.second = i;
        }
    }
    std::vector<std::string> out;
    for (size_t i = 0; i < verdicts.size(); ++i)
        out.push_back(storedPath(verdicts, i) + " -> " + reasonOf(refusal[i]) +
                      (replaced[i] ? " (replaced)" : ""));
    return out;
}

// Random small trees of names chosen to meet: repeated, nested through
// separators, ".", empty, climbing and anchored.
TEST(Verdicts, AgreeWithThePlainRulesOnRandomTrees) {
    const char* const pool[] = {"a",       "b",       "a",   ".",       "",         "..",   "a\\b",
                                "b/a",     "a\\.\\b", "\\a", "C:b",     "a\\",      "./a",  "a\\b\\c",
                                "a/b/c/d", "a\\c\\b", "a/c", "b\\a\\c", "x\\..\\y", "c\\.", "b\\/a"};
    std::mt19937 random(7);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::function<std::vector<Node>(int)> tree = [&](int depth) {
        std::vector<Node> list(pick(depth == 0 ? 6 : 4));
        for (Node& n : list) {
            const std::string name = pool[pick(std::size(pool))];
            n = depth < 3 && pick(2) == 0 ? dirNode(name, tree(depth + 1))
                                          : fileNode(name, pick(2) ? "1" : "");
        }
        return list;
    };
    for (int round = 0; round < 3000; ++round) {
        const Archive archive = decoded(tree(0));
        ASSERT_EQ(archive.status, Toc::ok) << archive.damage;
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        std::vector<std::string> judged;
        for (size_t i = 0; i < verdicts.size(); ++i)
            judged.push_back(storedPath(verdicts, i) + " -> " + reasonOf(verdicts[i].refusal) +
                             (verdicts[i].replaced ? " (replaced)" : ""));
        ASSERT_EQ(judged, plainRules(verdicts)) << "round " << round;
    }
}

// The same path with either separator, as the file system reads it:
// empty names and "." left out.
std::string onDisk(const std::string& written) {
    const std::vector<std::string> names = namesOf(written);
    std::string path;
    for (const std::string& name : names)
        if (name != ".") path += (path.empty() ? "" : "/") + name;
    return path;
}

// Every sound sample and every archive above, extracted in-process into an
// empty directory: the files there are exactly the verdicts' winners, with
// their bytes, every directory made is there, and no other directory is,
// but those on the way to what was made.
TEST(Verdicts, MatchWhatExtractionLeavesOnDisk) {
    std::vector<std::string> archives;
    for (const auto& item : std::filesystem::directory_iterator(dataFile("")))
        if (item.path().extension() == ".dat") archives.push_back(item.path().string());
    ScratchDir made;
    for (const Case& c : cases) {
        archives.push_back(made / (std::to_string(archives.size()) + ".dat"));
        writeBytes(archives.back(), archiveBytes(c.top));
    }
    for (const std::string& path : archives) {
        const File f = fileOpenRead(path);
        const Archive archive = parseFile(f);
        if (archive.status != Toc::ok) continue;
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        std::map<std::string, std::string> expected;
        std::set<std::string> dirs;
        for (size_t i = 0; i < verdicts.size(); ++i) {
            const Verdict& v = verdicts[i];
            const std::string at = onDisk(writtenPath(verdicts, i));
            if (v.refusal != Refusal::none || at.empty()) continue;
            if (v.entry->type == typeDirectory) {
                dirs.insert(at);
            } else if (!v.replaced) {
                std::string bytes(v.entry->size, '\0');
                ASSERT_TRUE(v.entry->size == 0 || readAt(f, uint64_t(archive.tocSize) + v.entry->offset,
                                                         bytes.data(), bytes.size(), v.entry->scrambled))
                    << path;
                expected[at] = bytes;
            }
        }
        ScratchDir out;
        {
            InDir in(out.path);
            Silenced quiet;
            testing::internal::CaptureStderr();
            readInProcess(path, true);
            testing::internal::GetCapturedStderr();
        }
        std::set<std::string> onTheWay;
        std::vector<std::string> made(dirs.begin(), dirs.end());
        for (const auto& file : expected) made.push_back(file.first);
        for (const std::string& at : made)
            for (size_t slash = at.find('/'); slash != std::string::npos; slash = at.find('/', slash + 1))
                onTheWay.insert(at.substr(0, slash));
        std::map<std::string, std::string> files;
        for (const auto& [at, content] : treeOf(out.path)) {
            if (content != "<dir>") files[at] = content;
            if (content == "<dir>" && !dirs.count(at)) {
                EXPECT_TRUE(onTheWay.count(at)) << path << ": " << at << " was made for nothing";
            }
            dirs.erase(at);
        }
        EXPECT_EQ(files, expected) << path;
        EXPECT_TRUE(dirs.empty()) << path << ": " << (dirs.empty() ? "" : *dirs.begin());
        // Listed and extracted again with a reporter that tells nothing,
        // as the library and the mount do: the same tree, and not a byte
        // printed by the walks themselves.
        ScratchDir quiet;
        {
            InDir in(quiet.path);
            testing::internal::CaptureStdout();
            testing::internal::CaptureStderr();
            Reporter silent;
            printFiles(archive.root.child, silent);
            extractFiles(f, archive, silent);
            std::fflush(stdout);
            std::fflush(stderr);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << path;
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << path;
        }
        EXPECT_EQ(treeOf(quiet.path), treeOf(out.path)) << path;
    }
}

}  // namespace
