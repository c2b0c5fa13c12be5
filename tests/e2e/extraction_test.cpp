// Extraction into a directory that already holds things: earlier output,
// links planted where the archive's names lead (once their anchors are
// stripped), links to links, links inside one stored name, a file where a
// directory goes and a directory where a file goes; and files larger than
// one transfer. Whatever stands there, nothing may be written outside the
// scratch directory and every link planted in a directory's place stays.
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

#define SKIP_IF_WRAPPED() \
    if (runsWrapped())    \
    GTEST_SKIP() << "wine does not treat Linux symbolic links to files, or chains of them, as links"

struct Extraction : ::testing::Test {
    ScratchDir dir;
    ScratchDir outside;  // what the planted links lead to
    std::string worked = dataFile("worked_example.dat");

    void plant(const std::string& target, const std::string& at) {
        ASSERT_EQ(symlink(target.c_str(), (dir / at).c_str()), 0) << at;
    }
    ToolRun extract(const std::string& archive) { return runTool({"x", archive}, dir.path); }
    std::string expectOut(const std::string& archive, const std::string& walk) {
        return "Opening " + archive + "...ok\nParsing TOC...\nExtracting...\n" + walk;
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

// What extraction makes is as open as the user's umask lets it be, as what
// any other program makes: the archive holds no permissions.
TEST_F(Extraction, MadeFilesAndDirectoriesTakeTheUmask) {
    if (runsWrapped()) GTEST_SKIP() << "permission bits of Linux";
    const mode_t mask = umask(022);
    umask(mask);
    ASSERT_EQ(extract(worked).status, 0);
    struct stat st {};
    ASSERT_EQ(stat((dir / "data").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);
    ASSERT_EQ(stat((dir / "data/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(Extraction, LinkWhereADirectoryGoesIsNotEntered) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links to directories as links";
    plant(outside.path, "data");
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Skipping data\: path passes through a symbolic link
Extracting data\a.txt...failed
Extracting data\m.msh...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    const std::string link = "path passes through a symbolic link";
    EXPECT_EQ(r.err, errLine("data\\", link) + errLine("data\\a.txt", link) + errLine("data\\m.msh", link));
    EXPECT_TRUE(treeOf(outside.path).empty());
    // The link is all there is, and it is still a link.
    EXPECT_EQ(treeOf(dir.path).size(), 1u);
    EXPECT_TRUE(isLink(dir / "data"));
}

// A directory skipped or not made is a failure even with nothing below it
// to fail: a link or a file standing where it goes.
TEST_F(Extraction, WhatStandsWhereAnEmptyDirectoryGoesIsAFailure) {
    const std::string archive = outside / "../empty.dat";
    writeBytes(archive, archiveBytes({dirNode("empty")}));
    struct Case {
        bool link;  // else a file
        std::string out;
        std::string err;
    };
    std::vector<Case> rows = {
        {false, "Creating directory empty\\...\nUnable to create directory empty\\\nExtracted 0 file(s)\n",
         errLine("empty\\", "a file stands in the way")}};
    // wine does not treat Linux symbolic links to directories as links.
    if (!runsWrapped())
        rows.push_back({true, "Skipping empty\\: path passes through a symbolic link\nExtracted 0 file(s)\n",
                        errLine("empty\\", "path passes through a symbolic link")});
    for (const Case& row : rows) {
        SCOPED_TRACE(row.link ? "link" : "file");
        fs::remove(dir / "empty");
        if (row.link)
            plant(outside.path, "empty");
        else
            writeBytes(dir / "empty", "a file");
        ToolRun r = extract(archive);
        EXPECT_EQ(r.out, expectOut(archive, row.out));
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(treeOf(outside.path).empty());
    }
}

TEST_F(Extraction, LinkDeeperDownIsNotEntered) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links to directories as links";
    const std::string archive = dataFile("edge_case.dat");
    fs::create_directory(dir / "data");
    plant(outside.path, "data/sub");
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Creating directory data\...
Extracting data\a.txt...ok
Skipping data\sub\: path passes through a symbolic link
Extracting data\sub\b.txt...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
}

TEST_F(Extraction, LinksWhereStrippedAbsoluteNamesLead) {
    SKIP_IF_WRAPPED();
    // "/tmp\\..." and "\\abs\\..." are extracted as "tmp\\..." and "abs\\...".
    fs::create_directory(outside / "t");
    plant(outside / "t", "tmp");
    plant(outside.path, "abs");
    const std::string archive = dataFile("absolute_names.dat");
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Skipping tmp\: path passes through a symbolic link
Skipping tmp\dattool-escape\: path passes through a symbolic link
Extracting tmp\dattool-escape\x.txt...failed
Skipping abs\: path passes through a symbolic link
Extracting abs\y.txt...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(treeOf(outside.path), (std::map<std::string, std::string>{{"t", "<dir>"}}));
    EXPECT_TRUE(isLink(dir / "abs"));
    EXPECT_TRUE(isLink(dir / "tmp"));
}

TEST_F(Extraction, LinksWhereStrippedDriveNamesLead) {
    SKIP_IF_WRAPPED();
    writeBytes(outside / "notes.txt", "keep");
    plant(outside.path, "games");               // a directory of the archive
    plant(outside / "notes.txt", "notes.txt");  // a file of the archive: replaced, not followed
    const std::string archive = dataFile("drive_names.dat");
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Skipping games\: path passes through a symbolic link
Extracting games\save.txt...failed
Extracting notes.txt...ok
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(treeOf(outside.path), (std::map<std::string, std::string>{{"notes.txt", "keep"}}));
    EXPECT_TRUE(isLink(dir / "games"));
    EXPECT_FALSE(isLink(dir / "notes.txt"));
    EXPECT_EQ(readBytes(dir / "notes.txt"), "2");
}

TEST_F(Extraction, LinkToALinkIsNotEnteredAndLinksWhereFilesGoAreReplaced) {
    SKIP_IF_WRAPPED();
    fs::create_directory(outside / "d");
    plant(outside / "d", "hop");
    plant(dir / "hop", "data");  // data -> hop -> outside/d
    ToolRun r = extract(worked);
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside / "d").empty());

    // Now data is a real directory holding an unrelated file, a.txt a link
    // to a directory outside and m.msh a dangling link: both links are
    // replaced by the files, what they led to and the unrelated file are
    // left alone.
    fs::remove(dir / "data");
    fs::create_directory(dir / "data");
    writeBytes(dir / "data/mine.txt", "unrelated");
    plant(outside / "d", "data/a.txt");
    plant(outside / "new.txt", "data/m.msh");
    r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Extracting data\a.txt...ok
Extracting data\m.msh...ok
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(treeOf(outside.path), (std::map<std::string, std::string>{{"d", "<dir>"}}));
    EXPECT_EQ(treeOf(dir / "data"),
              (std::map<std::string, std::string>{
                  {"a.txt", "abc"}, {"m.msh", "0123456789"}, {"mine.txt", "unrelated"}}));
}

TEST_F(Extraction, LinkInsideOneStoredName) {
    SKIP_IF_WRAPPED();
    // Names holding "/" are split there too, so "data/sub" passes "data".
    plant(outside.path, "data");
    const std::string archive = outside / "../lying.dat";
    writeBytes(archive,
               archiveBytes({dirNode("data/sub", {fileNode("x.txt", "x")}), fileNode("data/y.txt", "y")}));
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Skipping data/sub\: path passes through a symbolic link
Extracting data/sub\x.txt...failed
Extracting data/y.txt...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
}

TEST_F(Extraction, FileWhereADirectoryGoes) {
    writeBytes(dir / "data", "a file");
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Unable to create directory data\
Extracting data\a.txt...failed
Extracting data\m.msh...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    // Create family: the rule, where the system's answer would be vague.
    const std::string inTheWay = "a file stands in the way";
    EXPECT_EQ(r.err, errLine("data\\", inTheWay) + errLine("data\\a.txt", inTheWay) +
                         errLine("data\\m.msh", inTheWay));
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{{"data", "a file"}}));
}

// Another process swaps a directory for a link while extraction runs
// (the fault shim does it just before "now" is created). The directory
// the tool holds keeps its files, wherever it now lies; reaching the name
// again meets the link and stops there. Nothing outside changes.
TEST_F(Extraction, DirectorySwappedForALinkMidRunIsNotFollowed) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    writeBytes(outside / "victim.txt", "keep");
    std::vector<Node> files;
    for (const char* name : {"f0", "f1", "now", "f2", "f3", "victim.txt"})
        files.push_back(fileNode(name, name));
    writeBytes(dir / "../race.dat",
               archiveBytes({dirNode("d", files), dirNode("d", {fileNode("late.txt", "l")}),
                             dirNode("d/sub", {fileNode("x", "x")})}));
    ToolRun r = runWithFaults({"x", dir / "../race.dat"}, dir.path, "swap d " + outside.path);
    EXPECT_EQ(r.out, expectOut(dir / "../race.dat", R"(Creating directory d\...
Extracting d\f0...ok
Extracting d\f1...ok
Extracting d\now...ok
Extracting d\f2...ok
Extracting d\f3...ok
Extracting d\victim.txt...ok
Skipping d\: path passes through a symbolic link
Extracting d\late.txt...failed
Skipping d/sub\: path passes through a symbolic link
Extracting d/sub\x...failed
Extracted 8 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(isLink(dir / "d"));  // the swap happened
    EXPECT_EQ(treeOf(outside.path), (std::map<std::string, std::string>{{"victim.txt", "keep"}}));
    std::map<std::string, std::string> real{{"d", "<link>"}, {"d.real", "<dir>"}};
    for (const char* name : {"f0", "f1", "now", "f2", "f3", "victim.txt"})
        real[std::string("d.real/") + name] = name;
    EXPECT_EQ(treeOf(dir.path), real);
}

// Another process removes a directory the tool holds (the fault shim does
// it just before "now" is created): its files fail, its subdirectories
// cannot be made, and the walk goes on to the end.
TEST_F(Extraction, DirectoryRemovedMidRunFailsWhatIsBelowIt) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    writeBytes(dir / "../gone.dat",
               archiveBytes({dirNode("d", {fileNode("f0", "0"), fileNode("now", "n"), fileNode("f1", "1"),
                                           dirNode("sub", {fileNode("x", "x")}), dirNode("e")}),
                             fileNode("after.txt", "a")}));
    ToolRun r = runWithFaults({"x", dir / "../gone.dat"}, dir.path, "vanish d");
    EXPECT_EQ(r.out, expectOut(dir / "../gone.dat", R"(Creating directory d\...
Extracting d\f0...ok
Extracting d\now...failed
Extracting d\f1...failed
Creating directory d\sub\...
Unable to create directory d\sub\
Extracting d\sub\x...failed
Creating directory d\e\...
Unable to create directory d\e\
Extracting after.txt...ok
Extracted 5 file(s)
)"));
    EXPECT_EQ(r.err, errLine("d\\now", "No such file or directory") +
                         errLine("d\\f1", "No such file or directory") +
                         errLine("d\\sub\\", "No such file or directory") +
                         errLine("d\\sub\\x", "No such file or directory") +
                         errLine("d\\e\\", "No such file or directory"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{{"after.txt", "a"}}));
}

TEST_F(Extraction, DirectoryWhereAFileGoes) {
    fs::create_directories(dir / "data/a.txt");
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Extracting data\a.txt...failed
Extracting data\m.msh...ok
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errLine("data\\a.txt", "a directory stands in the way"));
}

// The tool moves file bytes in chunks of this size (src/archive/keyed_stream.h).
constexpr size_t chunk = size_t(1) << 18;

TEST_F(Extraction, FilesLargerThanOneChunkComeOutWhole) {
    std::string pattern;
    for (size_t i = 0; pattern.size() < 2 * chunk + 123; ++i) pattern += static_cast<char>(i * 7 + i / 251);
    const std::string plain = pattern.substr(0, chunk + chunk / 2);
    const std::string archive = outside / "big.dat";
    writeBytes(archive, archiveBytes({dirNode("big", {fileNode("a.bin", pattern), fileNode("b.msh", plain, 0),
                                                      fileNode("c.txt", "end")})}));
    ToolRun r = extract(archive);
    EXPECT_EQ(r.out, expectOut(archive, R"(Creating directory big\...
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

TEST_F(Extraction, RecordPastTheDataRegionLeavesNoFileAndKeepsTheOldOne) {
    std::string bytes = archiveBytes({dirNode("big", {fileNode("a.bin", std::string(chunk + 10, 'x'))})});
    // a.bin's size field, made to claim 3 chunks.
    const Unpacked u = unpack(bytes);
    const UnpackedRecord& a = u.records[1];
    const size_t sizeField = a.at + dat::fieldsOf(a.type, a.name.size()).size;
    const uint32_t claimed = 3 * chunk;
    for (size_t i = 0; i < 4; ++i)
        bytes[sizeField + i] =
            static_cast<char>(static_cast<uint8_t>(claimed >> (8 * i)) ^ dat::key(sizeField + i));
    const std::string archive = outside / "lying.dat";
    writeBytes(archive, bytes);
    for (const char* old : {"", "old contents"}) {
        if (*old) writeBytes(dir / "big/a.bin", old);
        ToolRun r = extract(archive);
        EXPECT_EQ(r.out, expectOut(archive, R"(Creating directory big\...
Extracting big\a.bin...failed
Extracted 1 file(s)
)"));
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(treeOf(dir.path),
                  *old ? (std::map<std::string, std::string>{{"big", "<dir>"}, {"big/a.bin", old}})
                       : (std::map<std::string, std::string>{{"big", "<dir>"}}));
    }
}

// An archive cut short anywhere in its data region, at a file's edge or
// inside one: without --salvage nothing is written, as ever; t and
// x --salvage take its whole TOC, name each file it holds whole and each
// it cut, and x --salvage writes exactly the whole ones, leaving what
// stands where a cut one goes as it was.
TEST(Salvage, CutAtEveryByteOfTheDataRegion) {
    struct Stored {
        std::string path;  // as listed
        std::string disk;  // where x writes it
        std::string data;
        size_t end;  // in the data region
    };
    const std::vector<Stored> files = {{"d\\a.txt", "d/a.txt", "abc", 3},
                                       {"d\\empty", "d/empty", "", 3},
                                       {"d\\m.msh", "d/m.msh", "0123456789", 13},
                                       {"d\\sub\\b.txt", "d/sub/b.txt", "bbbb", 17},
                                       {"top.txt", "top.txt", "tt", 19}};
    const std::string whole = archiveBytes(
        {dirNode("d", {fileNode("a.txt", "abc"), fileNode("empty", ""), fileNode("m.msh", "0123456789", 0),
                       dirNode("sub", {fileNode("b.txt", "bbbb")})}),
         fileNode("top.txt", "tt")});
    const size_t data = whole.size() - files.back().end;
    ScratchDir dir;
    const std::string archive = dir / "cut.dat";
    for (size_t present = 0; present <= files.back().end; ++present) {
        SCOPED_TRACE(present);
        writeBytes(archive, whole.substr(0, data + present));
        const size_t missing = files.back().end - present;
        std::string tested, extracted = "Extracting...\n", err;
        std::map<std::string, std::string> tree = {{"d", "<dir>"}, {"d/sub", "<dir>"}, {"top.txt", "old"}};
        if (missing > 0) {
            const std::string damage = "Damaged archive: the data region ends " + std::to_string(missing) +
                                       " bytes short of the size its root record gives";
            tested = extracted = damage + "\n";
            extracted += "Extracting...\n";
            err = errLine(archive, damage);
        }
        for (const Stored& f : files) {
            const bool ok = f.data.empty() || f.end <= present;  // an empty file takes no bytes
            const std::string line = f.path + "..." + (ok ? "ok" : "failed") + "\n";
            tested += "Testing " + line;
            if (f.path == "d\\a.txt") extracted += "Creating directory d\\...\n";
            if (f.path == "d\\sub\\b.txt") extracted += "Creating directory d\\sub\\...\n";
            extracted += "Extracting " + line;
            if (ok) tree[f.disk] = f.data;
            if (!ok) err += errLine(f.path, "cut short: the archive ends before its bytes do");
        }
        const std::string opened = "Opening " + archive + "...ok\nParsing TOC...\n";
        const int status = missing > 0 ? 255 : 0;
        ToolRun t = runTool({"t", archive}, dir.path);
        EXPECT_EQ(t.out, opened + tested + "Tested 5 file(s), " +
                             std::to_string(std::count(err.begin(), err.end(), '\n') - (missing > 0)) +
                             " problem(s)\n");
        EXPECT_EQ(t.err, err);
        EXPECT_EQ(t.status, status);
        ScratchDir out;
        writeBytes(out / "top.txt", "old");
        ToolRun x = runTool({"x", archive}, out.path);
        EXPECT_EQ(x.status, status);
        if (missing > 0) {
            EXPECT_EQ(treeOf(out.path), (std::map<std::string, std::string>{{"top.txt", "old"}}));
        }
        ToolRun salvaged = runTool({"x", "--salvage", archive}, out.path);
        EXPECT_EQ(salvaged.out, opened + extracted + "Extracted 5 file(s)\n");
        EXPECT_EQ(salvaged.err, err);
        EXPECT_EQ(salvaged.status, status);
        EXPECT_EQ(treeOf(out.path), tree);
    }
}

// A drop box: a directory that may be searched and written but not read,
// as the current directory and lower down. Root reads anything, so the
// tool runs as nobody, from a copy placed where nobody can reach it.
TEST(Permissions, SearchOnlyDirectoriesAreExtractedInto) {
    if (runsWrapped()) GTEST_SKIP() << "permission bits do not carry over to wine";
    if (geteuid() != 0) GTEST_SKIP() << "SKIPPED LOUDLY: only root can run the tool as nobody";
    // valgrind, started as root, cannot go on as nobody in the child.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "vgpreload"))
        GTEST_SKIP() << "valgrind cannot follow the tool to nobody";
    ScratchDir dir;
    fs::permissions(dir / "..", fs::perms(0755));
    for (fs::path up = fs::path(dir.path).parent_path(); up != up.parent_path(); up = up.parent_path()) {
        if ((fs::status(up).permissions() & fs::perms::others_exec) == fs::perms::none)
            GTEST_SKIP() << "SKIPPED LOUDLY: nobody cannot reach the scratch directory through " << up;
    }
    const std::string tool = dir / "dattool";
    fs::copy_file(programUnderTest(), tool);
    fs::permissions(tool, fs::perms(0755));
    fs::copy_file(dataFile("worked_example.dat"), dir / "a.dat");
    fs::permissions(dir / "a.dat", fs::perms(0644));
    fs::create_directories(dir / "drop/data");
    fs::permissions(dir / "drop/data", fs::perms(0333));
    fs::permissions(dir / "drop", fs::perms(0333));
    ToolRun r = runAsNobody(tool, {"x", "../a.dat"}, dir / "drop");
    if (r.status == 126) GTEST_SKIP() << "SKIPPED LOUDLY: the user nobody could not be taken on";
    EXPECT_EQ(r.out, R"(Opening ../a.dat...ok
Parsing TOC...
Extracting...
Creating directory data\...
Extracting data\a.txt...ok
Extracting data\m.msh...ok
Extracted 2 file(s)
)");
    EXPECT_EQ(r.status, 0);
    fs::permissions(dir / "drop", fs::perms(0755));
    fs::permissions(dir / "drop/data", fs::perms(0755));
    EXPECT_EQ(treeOf(dir / "drop"),
              (std::map<std::string, std::string>{
                  {"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/m.msh", "0123456789"}}));
}

// The longest stored path a Windows build takes, 259 bytes, extracts below
// a current directory deep enough that the full path passes 260
// characters: every name is made relative to its parent's handle.
TEST_F(Extraction, LongestPathBelowADeepCurrentDirectory) {
    const std::string a(100, 'a'), b(100, 'b'), c(57, 'c');
    const std::string archive = outside / "long.dat";
    writeBytes(archive, archiveBytes({dirNode(a, {dirNode(b, {fileNode(c, "deep")})})}));
    const std::string deep = dir / (std::string(60, 'x') + "/" + std::string(60, 'y'));
    fs::create_directories(deep);
    ToolRun r = runTool({"x", archive}, deep);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(readBytes(deep + "/" + a + "/" + b + "/" + c), "deep");
}

}  // namespace
