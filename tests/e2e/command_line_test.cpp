#include <gtest/gtest.h>

#include "e2e/harness.h"

namespace {

const std::string usageText =
    "DAT archive tool\n"
    "Thanks to Tamrick for figuring out the unknown number\n"
    "To extract a DAT file use:\n"
    "\tdattool x <DAT file location>\n"
    "To list the contents of a DAT file use:\n"
    "\tdattool l <DAT file location>\n"
    "To create a DAT file use:\n"
    "\tdattool c <new DAT filename> file1 file2 file3 ... filen\n";

TEST(CommandLine, TooFewArgumentsOrUnknownCommandShowUsage) {
    ScratchDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {}, {"x"}, {"l"}, {"Q", "any.dat"}, {"X", "a.dat"}, {"L", "a.dat"}, {"C", "a.dat", "d"}, {"", "a.dat"}};
    for (const auto& args : cases) {
        ToolRun r = runTool(args, dir.path);
        EXPECT_EQ(r.out, usageText) << args.size();
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(treeOf(dir.path).empty());
}

TEST(CommandLine, CreateWithoutDirectoriesLeavesArchiveAlone) {
    ScratchDir dir;
    writeBytes(dir / "keep.dat", "precious");
    ToolRun r = runTool({"c", "keep.dat"}, dir.path);
    EXPECT_EQ(r.out, usageText);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(readBytes(dir / "keep.dat"), "precious");
    r = runTool({"c", "new.dat"}, dir.path);
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(exists(dir / "new.dat"));
}

TEST(CommandLine, MissingArchiveFailsToOpen) {
    ScratchDir dir;
    for (const char* cmd : {"x", "l", "xtract", "list"}) {
        ToolRun r = runTool({cmd, "missing.dat"}, dir.path);
        EXPECT_EQ(r.out, "Opening missing.dat...failed\n");
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, UnwritableArchiveIsReported) {
    ScratchDir dir;
    ToolRun r = runTool({"c", "no/such/dir/a.dat", "."}, dir.path);
    EXPECT_EQ(r.out, "Unable to open no/such/dir/a.dat for writing\n");
    EXPECT_EQ(r.status, 255);
}

}  // namespace
