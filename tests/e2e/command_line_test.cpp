#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

std::string usageText(const std::string& program) {
    return "DAT archive tool\n"
           "Thanks to Tamrick for figuring out the unknown number\n"
           "To extract a DAT file use:\n"
           "\t" +
           program +
           " x <DAT file location>\n"
           "To list the contents of a DAT file use:\n"
           "\t" +
           program +
           " l <DAT file location>\n"
           "To create a DAT file use:\n"
           "\t" +
           program + " c <new DAT filename> file1 file2 file3 ... filen\n";
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
    const bool path =
        name.size() > file.size() && name.compare(name.size() - file.size(), file.size(), file) == 0 &&
        (name[name.size() - file.size() - 1] == '/' || name[name.size() - file.size() - 1] == '\\');
    return path ? name : "";
}

TEST(CommandLine, TooFewArgumentsOrUnknownCommandShowUsage) {
    ScratchDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {},           {"x"}, {"l"}, {"Q", "any.dat"}, {"X", "a.dat"}, {"L", "a.dat"}, {"C", "a.dat", "d"},
        {"", "a.dat"}};
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

// The format needs the archive's length first, which only a regular file
// has: a directory, a FIFO or a device is refused before a byte is read.
TEST(CommandLine, MissingOrIrregularArchiveFailsToOpen) {
    ScratchDir dir;
    fs::create_directory(dir / "d.dat");
    std::vector<std::string> archives = {"missing.dat", "d.dat"};
    if (!runsWrapped()) {
        ASSERT_EQ(mkfifo((dir / "fifo.dat").c_str(), 0600), 0);
        archives.insert(archives.end(), {"fifo.dat", "/dev/null", "/dev/zero"});
    }
    for (const std::string& archive : archives) {
        for (const char* cmd : {"x", "l", "xtract", "list"}) {
            ToolRun r = runTool({cmd, archive}, dir.path);
            EXPECT_EQ(r.out, "Opening " + archive + "...failed\n") << cmd;
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(r.err, "");
        }
    }
    EXPECT_EQ(treeOf(dir.path).size(), runsWrapped() ? 1u : 2u);
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
    // A pattern that matches nothing is kept as typed: an empty directory
    // of that name, and a failure.
    c = runTool({"c", "none.dat", "nothing*"}, dir.path);
    EXPECT_EQ(c.out, "No files found\n");
    EXPECT_EQ(c.status, 255);
    l = runTool({"l", "none.dat"}, dir.path);
    EXPECT_EQ(l.out, "Opening none.dat...ok\nParsing TOC...\nnothing*\\\n");
}

// Expanded by the Linux build itself: the matches come in byte order, not
// in the order the directory lists them.
TEST(CommandLine, WildcardMatchesComeInByteOrder) {
    if (testingWindowsBuild()) GTEST_SKIP() << "the Windows runtime expands wildcards itself";
    ScratchDir dir;
    for (const char* d : {"data_", "dataB", "data1", "dataa", "data0", "dataA"})
        fs::create_directory(dir / d);
    for (const char* pattern : {"data*", "data?"}) {
        SCOPED_TRACE(pattern);
        ToolRun c = runTool({"c", "out.dat", pattern}, dir.path);
        EXPECT_EQ(c.status, 0);
        ToolRun l = runTool({"l", "out.dat"}, dir.path);
        EXPECT_EQ(
            l.out,
            "Opening out.dat...ok\nParsing TOC...\ndata0\\\ndata1\\\ndataA\\\ndataB\\\ndata_\\\ndataa\\\n");
    }
}

}  // namespace

namespace {

// Standard output that is closed, full or the archive itself. Every line
// lost fails the run, after all its work; an archive is never written
// where its own progress lines go.
struct OutputCase {
    Output to;
    std::string file;  // Output::file: where standard output goes
    std::vector<std::string> args;
    std::string where;  // the run's directory, below the scratch one
    int status;
    std::string err;
};

TEST(CommandLine, LostOrMisdirectedOutputFailsTheRun) {
    if (runsWrapped()) GTEST_SKIP() << "descriptors and devices of Linux";
    ScratchDir dir;
    fs::create_directories(dir / "d");
    fs::create_directories(dir / "out");
    // More lines than one output buffer holds, so some go out mid-run.
    for (int i = 0; i < 300; ++i)
        writeBytes(dir / ("d/file_" + std::to_string(i) + ".txt"), std::to_string(i));
    ASSERT_EQ(runTool({"c", "ref.dat", "d"}, dir.path).status, 0);
    const std::string ref = readBytes(dir / "ref.dat");
    // Runs short enough that all their output waits in the buffer until
    // the end: only the last flush can find it lost.
    fs::create_directories(dir / "small");
    fs::create_directories(dir / "small-out");
    writeBytes(dir / "small/a.txt", "a");
    ASSERT_EQ(runTool({"c", "small.dat", "small"}, dir.path).status, 0);
    const std::map<std::string, std::string> smallTree = {{"small", "<dir>"}, {"small/a.txt", "a"}};
    std::map<std::string, std::string> extracted = {{"d", "<dir>"}};
    for (const auto& [path, content] : treeOf(dir / "d")) extracted["d/" + path] = content;
    const std::string refused = ": it is standard output\n";
    const std::vector<OutputCase> rows = {
        {Output::closed, "", {"c", "out.dat", "d"}, "", 255, ""},
        {Output::closed, "", {"l", "ref.dat"}, "", 255, ""},
        {Output::file, "/dev/full", {"c", "out.dat", "d"}, "", 255, ""},
        {Output::file, "/dev/full", {"l", "ref.dat"}, "", 255, ""},
        {Output::file, "/dev/full", {"x", "../ref.dat"}, "out", 255, ""},
        {Output::file, "/dev/full", {"c", "out.dat", "small"}, "", 255, ""},
        {Output::file, "/dev/full", {"l", dataFile("empty.dat")}, "", 255, ""},
        {Output::file, "/dev/full", {"x", "../small.dat"}, "small-out", 255, ""},
        {Output::file,
         "so.dat",
         {"c", "so.dat", "d"},
         "",
         255,
         "Unable to open so.dat for writing" + refused},
        {Output::file,
         "so.dat",
         {"c", "/dev/stdout", "d"},
         "",
         255,
         "Unable to open /dev/stdout for writing" + refused},
        // A closed standard error is opened on the null device, as a closed
        // standard output is: the archive cannot take its place.
        {Output::fileWithoutStderr, "so.dat", {"c", "so.dat", "d"}, "", 255, ""},
        {Output::file, "/dev/null", {"c", "/dev/null", "d"}, "", 0, ""},
    };
    for (const OutputCase& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " > " + (row.file.empty() ? "closed" : row.file) +
                     (row.to == Output::fileWithoutStderr ? " 2>&-" : ""));
        writeBytes(dir / "so.dat", "kept");
        fs::remove(dir / "out.dat");
        ToolRun r = runToolTo(row.args, dir / row.where, row.to, row.file);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err, row.err);
        // Whatever became of its output, the work was done whole.
        const bool small = row.args.back() == "small" || row.args[1] == "../small.dat";
        if (row.args[1] == "out.dat") {
            EXPECT_TRUE(readBytes(dir / "out.dat") == (small ? readBytes(dir / "small.dat") : ref));
        }
        if (row.args[0] == "x") {
            EXPECT_EQ(treeOf(dir / row.where), small ? smallTree : extracted);
        }
        EXPECT_EQ(readBytes(dir / "so.dat"), "kept");
    }
}

}  // namespace

namespace {

// On a terminal, names cannot drive it: control bytes show as "?", other
// bytes as they are; a progress line is out before the work it announces.
// A pipe gets the bytes unchanged and keeps its buffer.
struct TerminalCase {
    Output to;
    std::vector<std::string> args;
    std::string faults;
    std::string out;
    int status;
};

TEST(CommandLine, NamesAndProgressOnATerminal) {
    if (runsWrapped()) GTEST_SKIP() << "a Linux pseudo-terminal";
    ScratchDir dir;
    fs::create_directories(dir / "d");
    for (const char* name : {"\x1b[2J", "\x1b]0;title\x07", "tab\there", "\xC3\xA9"})
        writeBytes(dir / "d/" + name, "x");
    fs::create_symlink("nowhere", dir / "d/\x1b[Klink");
    fs::create_directories(dir / "big");
    writeBytes(dir / "big/a.bin", std::string(100000, 'b'));
    const std::string archive = "a\x1b[1m.dat";
    ASSERT_EQ(runTool({"c", archive, "big"}, dir.path).status, 0);
    const std::string created =
        "Skipping d\\?[Klink: link target is missing\n"
        "Writing d\\?[2J...\n"
        "Writing d\\?]0;title?...\n"
        "Writing d\\tab?here...\n"
        "Writing d\\\xC3\xA9...\n";
    std::string raw = created;
    for (auto [shown, stored] : {std::pair{"?[2J", "\x1b[2J"},
                                 {"?[Klink", "\x1b[Klink"},
                                 {"?]0;title?", "\x1b]0;title\x07"},
                                 {"tab?here", "tab\there"}})
        raw.replace(raw.find(shown), std::string(shown).size(), stored);
    const std::string extracted =
        "...ok\nParsing TOC...\nExtracting...\nCreating directory big\\...\nExtracting big\\a.bin...ok\n"
        "Extracted 1 file(s)\n";
    const std::string stored = "d\\\nd\\?[2J\nd\\?]0;title?\nd\\tab?here\nd\\\xC3\xA9\n";
    std::string storedRaw = stored;
    for (auto [shown, raw] :
         {std::pair{"?[2J", "\x1b[2J"}, {"?]0;title?", "\x1b]0;title\x07"}, {"tab?here", "tab\there"}})
        storedRaw.replace(storedRaw.find(shown), std::string(shown).size(), raw);
    const std::string unpacked =
        "Extracting...\nCreating directory d\\...\nExtracting d\\?[2J...ok\nExtracting d\\?]0;title?...ok\n"
        "Extracting d\\tab?here...ok\nExtracting d\\\xC3\xA9...ok\nExtracted 4 file(s)\n";
    const std::vector<TerminalCase> rows = {
        {Output::terminal, {"c", "out.dat", "d"}, "", created, 255},
        {Output::pipe, {"c", "out.dat", "d"}, "", raw, 255},
        // Every open fails while a line waits unprinted.
        {Output::terminal, {"x", "../" + archive}, "unflushed -", "Opening ../a?[1m.dat" + extracted, 0},
        {Output::pipe, {"x", "../" + archive}, "unflushed -", "Opening ../" + archive + "...failed\n", 255},
        // Stored names, as listed and extracted from the archive the first row made.
        {Output::terminal, {"l", "out.dat"}, "", "Opening out.dat...ok\nParsing TOC...\n" + stored, 0},
        {Output::pipe, {"l", "out.dat"}, "", "Opening out.dat...ok\nParsing TOC...\n" + storedRaw, 0},
        {Output::terminal,
         {"x", "../out.dat"},
         "",
         "Opening ../out.dat...ok\nParsing TOC...\n" + unpacked,
         0},
    };
    for (const TerminalCase& row : rows) {
        SCOPED_TRACE(row.args[0] + (row.to == Output::terminal ? " on a terminal" : " to a pipe"));
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        const std::string where = row.args[0] == "x" ? dir / "out" : dir.path;
        ToolRun r = row.faults.empty() ? runToolTo(row.args, where, row.to)
                                       : runWithFaults(row.args, where, row.faults, row.to);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, row.status);
    }
}

}  // namespace

namespace {

// Each byte of a name as it shows on a terminal and as a pipe gets it, on
// every kind of line that shows a name: a table of bytes by lines, so a
// new rule is a new row. '#' in a line stands for the byte.
struct ShownByte {
    char byte;
    std::string shown;  // on a terminal
};

struct NameLine {
    const char* command;  // the run that prints it: c, l or x
    std::string text;
};

TEST(CommandLine, EachByteOnEachLineOnATerminal) {
    if (runsWrapped()) GTEST_SKIP() << "a Linux pseudo-terminal";
    const std::vector<ShownByte> bytes = {{'\x01', "?"}, {'\n', "?"}, {'\x1b', "?"}, {'\x1f', "?"},
                                          {'\x7f', "?"}, {' ', " "},  {'~', "~"}};
    const std::vector<NameLine> lines = {
        {"c", "Skipping d\\l#: link target is missing\n"},
        {"c", "Writing d\\n#\\f#...\n"},
        {"l", "Opening a#.dat...ok\n"},
        {"l", "\nd\\n#\\\n"},
        {"l", "\nd\\n#\\f#\n"},
        {"x", "Opening ../a#.dat...ok\n"},
        {"x", "Creating directory d\\n#\\...\n"},
        {"x", "Extracting d\\n#\\f#...ok\n"},
    };
    for (const ShownByte& row : bytes) {
        for (Output to : {Output::terminal, Output::pipe}) {
            SCOPED_TRACE("byte " + std::to_string(static_cast<unsigned char>(row.byte)) +
                         (to == Output::terminal ? " on a terminal" : " to a pipe"));
            ScratchDir dir;
            const std::string b(1, row.byte);
            fs::create_directories(dir / ("d/n" + b));
            writeBytes(dir / ("d/n" + b + "/f" + b), "x");
            fs::create_symlink("nowhere", dir / ("d/l" + b));
            fs::create_directories(dir / "out");
            std::map<std::string, std::string> out;
            out["c"] = runToolTo({"c", "a" + b + ".dat", "d"}, dir.path, to).out;
            out["l"] = runToolTo({"l", "a" + b + ".dat"}, dir.path, to).out;
            out["x"] = runToolTo({"x", "../a" + b + ".dat"}, dir / "out", to).out;
            const std::string shown = to == Output::terminal ? row.shown : b;
            for (const NameLine& line : lines) {
                std::string want = line.text;
                for (size_t at; (at = want.find('#')) != std::string::npos;) want.replace(at, 1, shown);
                EXPECT_NE(out[line.command].find(want), std::string::npos)
                    << line.command << " lacks " << want << " in\n"
                    << out[line.command];
            }
        }
    }
}

}  // namespace
