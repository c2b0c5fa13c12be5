// Lists and extracts every sample archive of tests/data and checks the
// exact output, the exit status and the tree left behind, which must lie
// wholly inside the scratch directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/harness.h"
#include "platform/platform.h"

namespace {

struct Sample {
    std::string file;
    std::string list;  // what "l" prints after "Parsing TOC..."
    int listStatus;
    std::string extract;  // what "x" prints after "Parsing TOC..."
    int extractStatus;
    std::map<std::string, std::string> tree;  // what "x" leaves
};

const std::string notArchive = "Not a DAT file\n";

// The longest path the program under test takes: 259 bytes in a Windows
// build, 4095 on Linux (PATH_MAX less its terminator). Written out rather
// than asked of the platform layer, which is under test.
size_t pathLimit() { return testingWindowsBuild() ? 259 : 4095; }

std::string deepListing() {
    // Each level adds "d\\"; the level that passes the platform's limit is
    // damage, reported with its record's offset (17 bytes per record).
    std::string out, path;
    size_t level = 0;
    while (path.size() + 2 <= pathLimit()) {
        path += "d\\";
        out += path + "\n";
        ++level;
    }
    return out + "Damaged archive: path at offset " + std::to_string(21 + 17 * level) + " is longer than " +
           std::to_string(pathLimit()) + " bytes\n";
}

std::vector<Sample> makeSamples() {
    std::string nested, nestedList, nestedRun, dirs;
    std::map<std::string, std::string> nestedTree;
    for (int i = 0; i < 200; ++i) {
        nested += "d\\";
        dirs += i ? "/d" : "d";
        nestedList += nested + "\n";
        nestedRun += "Creating directory " + nested + "...\n";
        nestedTree[dirs] = "<dir>";
    }
    nestedTree[dirs + "/f.txt"] = "deep";
    const std::string deep = deepListing();
    const std::string deepDamage = deep.substr(deep.rfind("Damaged"));

    return {
        {"worked_example.dat",
         R"(data\
data\a.txt
data\m.msh
)",
         0,
         R"(Extracting...
Creating directory data\...
Extracting data\a.txt...ok
Extracting data\m.msh...ok
Extracted 2 file(s)
)",
         0,
         {{"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/m.msh", "0123456789"}}},
        {"edge_case.dat",
         R"(data\
data\a.txt
data\sub\
data\sub\b.txt
)",
         0,
         R"(Extracting...
Creating directory data\...
Extracting data\a.txt...ok
Creating directory data\sub\...
Extracting data\sub\b.txt...ok
Extracted 2 file(s)
)",
         0,
         {{"data", "<dir>"}, {"data/a.txt", "alpha\n"}, {"data/sub", "<dir>"}, {"data/sub/b.txt", "beta\n"}}},
        {"empty.dat", "", 0, "Extracting...\nExtracted 0 file(s)\n", 0, {}},
        {"cut_short.dat",
         R"(data\
data\a.txt
Damaged archive: record at offset 58 runs past the end of the TOC at 71
)",
         255, "Damaged archive: record at offset 58 runs past the end of the TOC at 71\n", 255, {}},
        {"bytes_appended.dat",
         R"(data\
data\a.txt
data\m.msh
Damaged archive: TOC ends at offset 75 but the data region starts at 82
)",
         255, "Damaged archive: TOC ends at offset 75 but the data region starts at 82\n", 255, {}},
        {"header_cut_short.dat", notArchive, 255, notArchive, 255, {}},
        {"wrong_magic.dat", notArchive, 255, notArchive, 255, {}},
        {"root_not_directory.dat", notArchive, 255, notArchive, 255, {}},
        {"root_size_too_large.dat", "Damaged archive: data region of 1000 bytes and the 21-byte header are longer than the archive of 61 bytes\n", 255,
         "Damaged archive: data region of 1000 bytes and the 21-byte header are longer than the archive of 61 bytes\n", 255, {}},
        {"huge_child_count.dat",
         R"(big\
big\only.txt
Damaged archive: record at offset 60 runs past the end of the TOC at 60
)",
         255, "Damaged archive: record at offset 60 runs past the end of the TOC at 60\n", 255, {}},
        {"name_300_bytes.dat",
         R"(d\
d\ok.txt
Damaged archive: name of 300 bytes at offset 56 is longer than 259 bytes
)",
         255, "Damaged archive: name of 300 bytes at offset 56 is longer than 259 bytes\n", 255, {}},
        {"zero_byte_in_name.dat",
         R"(d\
d\ab
d\e.txt
)",
         0,
         R"(Extracting...
Creating directory d\...
Extracting d\ab...ok
Extracting d\e.txt...ok
Extracted 2 file(s)
)",
         0,
         {{"d", "<dir>"}, {"d/ab", "hi"}, {"d/e.txt", "yo"}}},
        {"deep_nesting.dat", deep, 255, deepDamage, 255, {}},
        // 405 bytes: more than a Windows path holds, so there it reads as
        // the deep one does.
        nested.size() + 5 > pathLimit()
            ? Sample{"nested_200_levels.dat", deep, 255, deepDamage, 255, {}}
            : Sample{"nested_200_levels.dat", nestedList + nested + "f.txt\n", 0,
                     "Extracting...\n" + nestedRun + "Extracting " + nested + "f.txt...ok\nExtracted 1 file(s)\n", 0,
                     nestedTree},
        // Leading ".." parts are dropped; ".." further on is refused.
        {"dot_dot.dat",
         R"(..\
..\up.txt
a\
a\..\
a\..\x.txt
../../slash.txt
b/../../c.txt
..\escaped.txt
)",
         0,
         R"(Extracting...
Extracting up.txt...ok
Creating directory a\...
Skipping a\..\: path leaves the current directory
Extracting a\..\x.txt...failed
Extracting slash.txt...ok
Extracting b/../../c.txt...failed
Extracting escaped.txt...ok
Extracted 5 file(s)
)",
         255,
         {{"up.txt", "up"}, {"a", "<dir>"}, {"slash.txt", "slash"}, {"escaped.txt", "esc"}}},
        {"absolute_names.dat",
         R"(/tmp\
/tmp\dattool-escape\
/tmp\dattool-escape\x.txt
\abs\
\abs\y.txt
)",
         0,
         R"(Extracting...
Creating directory tmp\...
Creating directory tmp\dattool-escape\...
Extracting tmp\dattool-escape\x.txt...ok
Creating directory abs\...
Extracting abs\y.txt...ok
Extracted 2 file(s)
)",
         0,
         {{"tmp", "<dir>"},
          {"tmp/dattool-escape", "<dir>"},
          {"tmp/dattool-escape/x.txt", "abs"},
          {"abs", "<dir>"},
          {"abs/y.txt", "back"}}},
        {"drive_names.dat",
         R"(C:\games\
C:\games\save.txt
D:notes.txt
)",
         0,
         R"(Extracting...
Creating directory games\...
Extracting games\save.txt...ok
Extracting notes.txt...ok
Extracted 2 file(s)
)",
         0,
         {{"games", "<dir>"}, {"games/save.txt", "1"}, {"notes.txt", "2"}}},
        {"unknown_record_type.dat",
         R"(d\
d\a.txt
d\b.txt
)",
         0,
         R"(Extracting...
Creating directory d\...
Extracting d\a.txt...ok
Extracting d\b.txt...ok
Extracted 2 file(s)
)",
         0,
         {{"d", "<dir>"}, {"d/a.txt", "A"}, {"d/b.txt", "B"}}},
        // The bad record yields an empty file and "failed"; the rest goes on.
        {"file_past_data_region.dat",
         R"(d\
d\good.txt
d\bad.txt
d\after.txt
)",
         0,
         R"(Extracting...
Creating directory d\...
Extracting d\good.txt...ok
Extracting d\bad.txt...failed
Extracting d\after.txt...ok
Extracted 3 file(s)
)",
         255,
         {{"d", "<dir>"}, {"d/good.txt", "good"}, {"d/bad.txt", ""}, {"d/after.txt", "after"}}},
        {"zero_size_file.dat",
         R"(empty.txt
d\
d\none.msh
d\after.txt
)",
         0,
         R"(Extracting...
Extracting empty.txt...ok
Creating directory d\...
Extracting d\none.msh...ok
Extracting d\after.txt...ok
Extracted 3 file(s)
)",
         0,
         {{"empty.txt", ""}, {"d", "<dir>"}, {"d/none.msh", ""}, {"d/after.txt", "x"}}},
    };
}

// The names in the scratch directory's private parent: "work" alone unless
// something escaped.
std::vector<std::string> besideScratch(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& item : std::filesystem::directory_iterator(std::filesystem::path(dir.path).parent_path()))
        names.push_back(item.path().filename().string());
    return names;
}

// Built on first use, not while tests are being registered: the deep
// samples' expected output runs to megabytes.
const std::vector<Sample>& allSamples() {
    static const std::vector<Sample> all = makeSamples();
    return all;
}
constexpr size_t sampleCount = 20;

struct Samples : ::testing::TestWithParam<size_t> {};

TEST(SampleTable, CoversEveryCommittedArchive) {
    std::vector<std::string> table, committed;
    ASSERT_EQ(allSamples().size(), sampleCount);
    for (const Sample& s : allSamples()) table.push_back(s.file);
    for (const auto& item : std::filesystem::directory_iterator(dataFile("")))
        if (item.path().extension() == ".dat") committed.push_back(item.path().filename().string());
    std::sort(table.begin(), table.end());
    std::sort(committed.begin(), committed.end());
    EXPECT_EQ(table, committed);
}

TEST_P(Samples, ListAndExtract) {
    const Sample& s = allSamples().at(GetParam());
    SCOPED_TRACE(s.file);
    const std::string archive = dataFile(s.file);
    const std::string opening = "Opening " + archive + "...ok\nParsing TOC...\n";
    ASSERT_TRUE(exists(archive));
    ScratchDir dir;

    ToolRun l = runTool({"l", archive}, dir.path);
    EXPECT_EQ(l.out, opening + s.list);
    EXPECT_EQ(l.status, s.listStatus);
    EXPECT_EQ(l.err, "");
    EXPECT_TRUE(treeOf(dir.path).empty());

    ToolRun x = runTool({"x", archive}, dir.path);
    EXPECT_EQ(x.out, opening + s.extract);
    EXPECT_EQ(x.status, s.extractStatus);
    EXPECT_EQ(x.err, "");
    EXPECT_EQ(treeOf(dir.path), s.tree);
    EXPECT_EQ(besideScratch(dir), std::vector<std::string>{"work"});
    EXPECT_FALSE(exists("/tmp/dattool-escape"));
}

INSTANTIATE_TEST_SUITE_P(Data, Samples, ::testing::Range<size_t>(0, sampleCount));

}  // namespace
