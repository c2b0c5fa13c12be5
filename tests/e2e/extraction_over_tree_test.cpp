// Extraction into a directory that already holds things: links planted
// where the archive's names lead once their anchors are stripped, links to
// links, links inside a single stored name, files where directories go.
// Whatever stands there, nothing may be written outside the scratch
// directory and every link planted in a directory's place stays as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "e2e/harness.h"
#include "platform/platform.h"
#include "reading/archive_builder.h"

namespace fs = std::filesystem;

namespace {

struct OverTree : ::testing::Test {
    ScratchDir dir;
    ScratchDir outside;  // what the planted links lead to

    void plant(const std::string& target, const std::string& at) {
        ASSERT_EQ(symlink(target.c_str(), (dir / at).c_str()), 0) << at;
    }
    ToolRun extract(const std::string& archive) { return runTool({"x", archive}, dir.path); }
    std::string expectOut(const std::string& archive, const std::string& walk) {
        return "Opening " + archive + "...ok\nParsing TOC...\nExtracting...\n" + walk;
    }
};

TEST_F(OverTree, LinksWhereStrippedAbsoluteNamesLead) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links as Windows links";
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
    EXPECT_EQ(pathKind(dir / "abs"), PathKind::link);
    EXPECT_EQ(pathKind(dir / "tmp"), PathKind::link);
}

TEST_F(OverTree, LinksWhereStrippedDriveNamesLead) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links as Windows links";
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
    EXPECT_EQ(pathKind(dir / "games"), PathKind::link);
    EXPECT_EQ(pathKind(dir / "notes.txt"), PathKind::file);
    EXPECT_EQ(readBytes(dir / "notes.txt"), "2");
}

TEST_F(OverTree, LinkToALinkAndLinkToADirectoryWhereAFileGoes) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links as Windows links";
    fs::create_directory(outside / "d");
    plant(outside / "d", "hop");
    plant(dir / "hop", "data");  // data -> hop -> outside/d
    const std::string worked = dataFile("worked_example.dat");
    ToolRun r = extract(worked);
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside / "d").empty());

    // Now data is a real directory holding an unrelated file, and a.txt a
    // link to a directory outside: the link is replaced by the file, the
    // directory it pointed to and the unrelated file are left alone.
    fs::remove(dir / "data");
    fs::create_directory(dir / "data");
    writeBytes(dir / "data/mine.txt", "unrelated");
    plant(outside / "d", "data/a.txt");
    r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Extracting data\a.txt...ok
Extracting data\m.msh...ok
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(treeOf(outside / "d").empty());
    EXPECT_EQ(treeOf(dir / "data"), (std::map<std::string, std::string>{
                                        {"a.txt", "abc"}, {"m.msh", "0123456789"}, {"mine.txt", "unrelated"}}));
}

TEST_F(OverTree, LinkInsideOneStoredName) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not treat Linux symbolic links as Windows links";
    // Names holding "/" are split there too, so "data/sub" passes "data".
    plant(outside.path, "data");
    writeBytes(outside / "../lying.dat",
               archiveBytes({dirNode("data/sub", {fileNode("x.txt", "x")}), fileNode("data/y.txt", "y")}));
    ToolRun r = extract(outside / "../lying.dat");
    EXPECT_EQ(r.out, expectOut(outside / "../lying.dat", R"(Skipping data/sub\: path passes through a symbolic link
Extracting data/sub\x.txt...failed
Extracting data/y.txt...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
}

TEST_F(OverTree, FileWhereADirectoryGoes) {
    writeBytes(dir / "data", "a file");
    const std::string worked = dataFile("worked_example.dat");
    ToolRun r = extract(worked);
    EXPECT_EQ(r.out, expectOut(worked, R"(Creating directory data\...
Unable to create directory data\
Extracting data\a.txt...failed
Extracting data\m.msh...failed
Extracted 2 file(s)
)"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(treeOf(dir.path), (std::map<std::string, std::string>{{"data", "a file"}}));
}

}  // namespace
