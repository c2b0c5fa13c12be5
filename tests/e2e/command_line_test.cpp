#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

std::string usageText(const std::string& program) {
    return "DAT archive tool\n"
           "Thanks to Tamrick for figuring out the unknown number\n"
           "To extract a DAT file use:\n"
           "\t" + program + " x <DAT file location>\n"
           "To list the contents of a DAT file use:\n"
           "\t" + program + " l <DAT file location>\n"
           "To create a DAT file use:\n"
           "\t" + program + " c <new DAT filename> file1 file2 file3 ... filen\n";
}

// The usage text names the program as it was invoked: "dattool" as the
// harness starts it, or, where a wrapper such as valgrind or wine starts it,
// its full path (for a Windows build, the Windows form of it). The name is
// taken from the text; anything else yields "" and the comparison fails.
std::string programNameIn(const std::string& out) {
    size_t start = out.find('\t');
    size_t end = out.find(" x <DAT", start);
    if (start == std::string::npos || end == std::string::npos) return "";
    const std::string name = out.substr(start + 1, end - start - 1);
    if (name == "dattool") return name;
    const std::string file = fs::path(programUnderTest()).filename().string();
    const bool path = name.size() > file.size() && name.compare(name.size() - file.size(), file.size(), file) == 0 &&
                      (name[name.size() - file.size() - 1] == '/' || name[name.size() - file.size() - 1] == '\\');
    return path ? name : "";
}

TEST(CommandLine, TooFewArgumentsOrUnknownCommandShowUsage) {
    ScratchDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {}, {"x"}, {"l"}, {"Q", "any.dat"}, {"X", "a.dat"}, {"L", "a.dat"}, {"C", "a.dat", "d"}, {"", "a.dat"}};
    for (const auto& args : cases) {
        ToolRun r = runTool(args, dir.path);
        EXPECT_EQ(r.out, usageText(programNameIn(r.out))) << args.size();
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_TRUE(treeOf(dir.path).empty());
}

TEST(CommandLine, CreateWithoutDirectoriesLeavesArchiveAlone) {
    ScratchDir dir;
    writeBytes(dir / "keep.dat", "precious");
    ToolRun r = runTool({"c", "keep.dat"}, dir.path);
    EXPECT_EQ(r.out, usageText(programNameIn(r.out)));
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

namespace {

// Wildcards are expanded before the command sees its arguments, by the tool
// itself or by the runtime of a Windows build: nothing here passes through
// a shell. Every match becomes a directory argument, in name order.
TEST(CommandLine, WildcardArgumentsBecomeEveryMatch) {
    ScratchDir dir;
    for (const char* d : {"data2", "data1", "other"}) fs::create_directory(dir / d);
    writeBytes(dir / "data1/f.txt", "f");
    ToolRun c = runTool({"c", "out.dat", "data*"}, dir.path);
    EXPECT_EQ(c.out, "Writing data1\\f.txt...\n");
    EXPECT_EQ(c.status, 0);
    ToolRun l = runTool({"l", "out.dat"}, dir.path);
    EXPECT_EQ(l.out, "Opening out.dat...ok\nParsing TOC...\ndata1\\\ndata1\\f.txt\ndata2\\\n");
    EXPECT_EQ(l.status, 0);
}

}  // namespace
