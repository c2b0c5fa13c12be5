#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
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
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, errLine("command line", "no command given")},
        {{"x"}, errLine("x", "no archive given")},
        {{"l"}, errLine("l", "no archive given")},
        {{"c"}, errLine("c", "no archive given")},
        {{"Q", "any.dat"}, errLine("Q", "unknown command")},
        {{"X", "a.dat"}, errLine("X", "unknown command")},
        {{"L", "a.dat"}, errLine("L", "unknown command")},
        {{"C", "a.dat", "d"}, errLine("C", "unknown command")},
        {{"", "a.dat"}, errLine("", "unknown command")}};
    for (const auto& [args, err] : cases) {
        ToolRun r = runTool(args, dir.path);
        EXPECT_EQ(r.out, usageText(programNameIn(r.out))) << args.size();
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, err);
    }
    EXPECT_TRUE(treeOf(dir.path).empty());
}

TEST(CommandLine, CreateWithoutDirectoriesLeavesArchiveAlone) {
    ScratchDir dir;
    writeBytes(dir / "keep.dat", "precious");
    ToolRun r = runTool({"c", "keep.dat"}, dir.path);
    EXPECT_EQ(r.out, usageText(programNameIn(r.out)));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errLine("c", "no directory given"));
    EXPECT_EQ(readBytes(dir / "keep.dat"), "precious");
    r = runTool({"c", "new.dat"}, dir.path);
    EXPECT_EQ(r.status, 255);
    EXPECT_FALSE(exists(dir / "new.dat"));
}

// The format needs the archive's length first, which only a regular file
// has: a directory, a FIFO or a device is refused before a byte is read.
// Standard error says why (open family: the system's reason, or the rule).
TEST(CommandLine, MissingOrIrregularArchiveFailsToOpen) {
    ScratchDir dir;
    fs::create_directory(dir / "d.dat");
    const std::string irregular = "not a regular file";
    // A Windows build cannot open a directory as a file at all.
    std::vector<std::pair<std::string, std::string>> archives = {
        {"missing.dat", sysLine("missing.dat", "No such file or directory")},
        {"d.dat", testingWindowsBuild() ? sysLine("d.dat", "") : errLine("d.dat", irregular)}};
    if (!runsWrapped()) {
        ASSERT_EQ(mkfifo((dir / "fifo.dat").c_str(), 0600), 0);
        for (const char* a : {"fifo.dat", "/dev/null", "/dev/zero"})
            archives.emplace_back(a, errLine(a, irregular));
        // Unreadable to the user who runs it: the system's reason.
        writeBytes(dir / "secret.dat", "x");
        fs::permissions(dir / "secret.dat", fs::perms::none);
        fs::permissions(dir.path, fs::perms::all);
        fs::permissions(dir / "..", fs::perms::all);
    }
    for (const auto& [archive, err] : archives) {
        for (const char* cmd : {"x", "l", "xtract", "list"}) {
            ToolRun r = runTool({cmd, archive}, dir.path);
            EXPECT_EQ(r.out, "Opening " + archive + "...failed\n") << cmd;
            EXPECT_EQ(r.status, 255);
            EXPECT_TRUE(errorsMatch(r.err, err)) << r.err;
        }
    }
    EXPECT_EQ(treeOf(dir.path).size(), runsWrapped() ? 1u : 3u);
    if (runsWrapped()) return;
    if (!canRunUnprivileged()) GTEST_SKIP() << "root under valgrind cannot run the tool as another user";
    ToolRun r = runUnprivileged({"l", "secret.dat"}, dir.path);
    EXPECT_EQ(r.out, "Opening secret.dat...failed\n");
    EXPECT_EQ(r.err, errLine("secret.dat", "Permission denied"));
}

// Create family: the archive cannot be made, and standard error says why.
TEST(CommandLine, UnwritableArchiveIsReported) {
    ScratchDir dir;
    fs::create_directory(dir / "d.dat");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"no/such/dir/a.dat", sysLine("no/such/dir/a.dat", "No such file or directory")},
        {"d.dat", sysLine("d.dat", "Is a directory")}};
    for (const auto& [archive, err] : rows) {
        ToolRun r = runTool({"c", archive, "."}, dir.path);
        EXPECT_EQ(r.out, "Unable to open " + archive + " for writing\n");
        EXPECT_EQ(r.status, 255);
        EXPECT_TRUE(errorsMatch(r.err, err)) << r.err;
    }
}

}  // namespace

namespace {

// Only the directory arguments of "c" are patterns, expanded by the tool
// itself on every build: nothing here passes through a shell. Every match
// becomes a directory argument, in the system's order: bytes on Linux;
// on Windows names match whatever their case and sort as the scanner sorts.
TEST(CommandLine, OnlyDirectoryArgumentsAreExpanded) {
    ScratchDir dir;
    for (const char* d : {"datab", "data_x", "other"}) fs::create_directory(dir / d);
    writeBytes(dir / "datab/f.txt", "f");
    writeBytes(dir / "x.dat", "not an archive");
    const bool windows = testingWindowsBuild();
    const std::string matched =
        windows ? "datab\\\ndatab\\f.txt\ndata_x\\\n" : "data_x\\\ndatab\\\ndatab\\f.txt\n";
    for (const char* pattern : {"data*", "DATA*"}) {
        SCOPED_TRACE(pattern);
        const bool matches = windows || pattern[0] == 'd';
        ToolRun c = runTool({"c", "out.dat", pattern}, dir.path);
        EXPECT_EQ(c.out, matches ? "Writing datab\\f.txt...\n" : "No files found\n");
        EXPECT_EQ(c.status, matches ? 0 : 255);
        // A pattern that matches nothing is kept as typed: an empty
        // directory of that name, and a failure.
        EXPECT_EQ(c.err, matches ? "" : errLine(pattern, "No such file or directory"));
        ToolRun l = runTool({"l", "out.dat"}, dir.path);
        EXPECT_EQ(l.out, "Opening out.dat...ok\nParsing TOC...\n" +
                             (matches ? matched : pattern + std::string("\\\n")));
    }
    if (windows) return;  // Windows holds no name with a "*"
    // The archive is used as typed: a new file named "*.dat", and nothing
    // else touched.
    ToolRun c = runTool({"c", "*.dat", "datab"}, dir.path);
    EXPECT_EQ(c.status, 0);
    EXPECT_EQ(readBytes(dir / "x.dat"), "not an archive");
    EXPECT_TRUE(exists(dir / "*.dat"));
    fs::remove(dir / "*.dat");
    ToolRun x = runTool({"x", "*.dat"}, dir.path);
    EXPECT_EQ(x.out, "Opening *.dat...failed\n");
    EXPECT_EQ(x.err, errLine("*.dat", "No such file or directory"));
}

// On Linux the matches come in byte order, not in the order the directory
// lists them.
TEST(CommandLine, WildcardMatchesComeInByteOrder) {
    if (testingWindowsBuild()) GTEST_SKIP() << "a Windows build matches and sorts names whatever their case";
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
    ASSERT_EQ(mkfifo((dir / "fifo.dat").c_str(), 0600), 0);
    const std::string closed = errLine("standard output", "closed when the run began");
    const std::string full = errLine("standard output", "No space left on device");
    const std::string refused = "it is standard output";
    const std::vector<OutputCase> rows = {
        {Output::closed, "", {"c", "out.dat", "d"}, "", 255, closed},
        {Output::closed, "", {"l", "ref.dat"}, "", 255, closed},
        {Output::file, "/dev/full", {"c", "out.dat", "d"}, "", 255, full},
        {Output::file, "/dev/full", {"l", "ref.dat"}, "", 255, full},
        {Output::file, "/dev/full", {"x", "../ref.dat"}, "out", 255, full},
        {Output::file, "/dev/full", {"c", "out.dat", "small"}, "", 255, full},
        {Output::file, "/dev/full", {"l", dataFile("empty.dat")}, "", 255, full},
        {Output::file, "/dev/full", {"x", "../small.dat"}, "small-out", 255, full},
        // Lost as well as failed: both are told.
        {Output::file, "/dev/full", {"l", "so.dat"}, "", 255, errLine("so.dat", "Not a DAT file") + full},
        // The archive is standard output, whatever that is: refused by
        // identity before a byte is written.
        {Output::file, "so.dat", {"c", "so.dat", "d"}, "", 255, errLine("so.dat", refused)},
        {Output::file, "so.dat", {"c", "/dev/stdout", "d"}, "", 255, errLine("/dev/stdout", refused)},
        {Output::file, "fifo.dat", {"c", "fifo.dat", "d"}, "", 255, errLine("fifo.dat", refused)},
        {Output::pipe, "", {"c", "/dev/stdout", "d"}, "", 255, errLine("/dev/stdout", refused)},
        {Output::terminal, "", {"c", "/dev/stdout", "d"}, "", 255, errLine("/dev/stdout", refused)},
        // A closed standard error is opened on the null device, as a closed
        // standard output is: the archive cannot take its place.
        {Output::fileWithoutStderr, "so.dat", {"c", "so.dat", "d"}, "", 255, ""},
        {Output::file, "/dev/null", {"c", "/dev/null", "d"}, "", 0, ""},
        // A reader that stopped early ("| head -1") kills nothing.
        {Output::brokenPipe, "", {"c", "out.dat", "d"}, "", 255, errLine("standard output", "Broken pipe")},
        {Output::brokenPipe, "", {"x", "../ref.dat"}, "out", 255, errLine("standard output", "Broken pipe")},
    };
    for (const OutputCase& row : rows) {
        const std::string to = row.to == Output::closed              ? "closed"
                               : row.to == Output::pipe              ? "a pipe"
                               : row.to == Output::terminal          ? "a terminal"
                               : row.to == Output::brokenPipe        ? "a broken pipe"
                               : row.to == Output::fileWithoutStderr ? row.file + " 2>&-"
                                                                     : row.file;
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " > " + to);
        // valgrind itself cannot start the tool with standard error closed.
        const char* preload = std::getenv("LD_PRELOAD");
        if (row.to == Output::fileWithoutStderr && preload && std::strstr(preload, "vgpreload")) continue;
        writeBytes(dir / "so.dat", "kept");
        // An old archive each c replaces, and an empty place to extract to.
        writeBytes(dir / "out.dat", "old archive");
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        ToolRun r = runToolTo(row.args, dir / row.where, row.to, row.file);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err, row.err);
        if (row.err.find(refused) != std::string::npos) {
            EXPECT_EQ(r.out, "");
        }
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

// On a terminal, names cannot drive it: they are read as UTF-8, and C0 and
// C1 controls, DEL and every byte outside a valid sequence show as "?";
// other characters as they are. Standard error follows its own terminal
// state, not standard output's. A progress line is out before the work it
// announces on a terminal; to a pipe the buffer is kept, but sent on when
// 100 ms have passed and before a file of more than 1 MiB is copied, and
// each reason follows its line when both streams share one pipe.
struct TerminalCase {
    Output to;
    std::vector<std::string> args;
    std::string faults;
    std::string out;
    int status;
    std::string err;
};

TEST(CommandLine, NamesAndProgressOnATerminal) {
    if (runsWrapped()) GTEST_SKIP() << "a Linux pseudo-terminal";
    ScratchDir dir;
    fs::create_directories(dir / "d");
    // Stored names and how a terminal shows them, in the order c stores them.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"\x1b[2J", "?[2J"},
        {"\x1b]0;title\x07", "?]0;title?"},
        {"bad\xE2\x82", "bad??"},  // a sequence cut short
        {"tab\there", "tab?here"},
        {"\x9B"
         "1m",
         "?1m"},             // a raw C1 control
        {"\xC0\xAF", "??"},  // an overlong "/"
        {"\xC2\x9B"
         "2m",
         "?2m"},  // a C1 control as UTF-8
        {"\xC2\x9F"
         "3m",
         "?3m"},                           // the last C1 control
        {"\xC3\xA9", "\xC3\xA9"},          // e acute
        {"\xD1\x80", "\xD1\x80"},          // Cyrillic er, whose second byte is 0x80
        {"\xE2\x82\xAC", "\xE2\x82\xAC"},  // the euro sign
    };
    for (const auto& name : names) writeBytes(dir / "d/" + name.first, "x");
    const std::string link = "\x1b[K\xC2\x9Blink", linkShown = "?[K?link";
    fs::create_symlink("nowhere", dir / "d/" + link);
    std::string created = "Skipping d\\" + linkShown + ": link target is missing\n";
    std::string createdRaw = "Skipping d\\" + link + ": link target is missing\n";
    std::string stored = "d\\\n", storedRaw = "d\\\n";
    std::string unpacked = "Extracting...\nCreating directory d\\...\n";
    for (const auto& [raw, shown] : names) {
        created += "Writing d\\" + shown + "...\n";
        createdRaw += "Writing d\\" + raw + "...\n";
        stored += "d\\" + shown + "\n";
        storedRaw += "d\\" + raw + "\n";
        unpacked += "Extracting d\\" + shown + "...ok\n";
    }
    unpacked += "Extracted " + std::to_string(names.size()) + " file(s)\n";
    const std::string dangling = errLine("d\\" + link, "link target is missing");
    const std::string danglingShown = errLine("d\\" + linkShown, "link target is missing");

    fs::create_directories(dir / "big");
    writeBytes(dir / "big/a.bin", std::string(100000, 'b'));
    const std::string archive = "a\x1b[1m.dat";
    ASSERT_EQ(runTool({"c", archive, "big"}, dir.path).status, 0);
    const std::string extracted =
        "...ok\nParsing TOC...\nExtracting...\nCreating directory big\\...\nExtracting big\\a.bin...ok\n"
        "Extracted 1 file(s)\n";
    // More than 1 MiB: its line goes out before it is copied.
    fs::create_directories(dir / "huge");
    writeBytes(dir / "huge/h.bin", std::string((1 << 20) + 1, 'h'));
    ASSERT_EQ(runTool({"c", "huge.dat", "huge"}, dir.path).status, 0);
    fs::create_directories(dir / "two");
    for (const char* name : {"two/a", "two/b"}) writeBytes(dir / name, name);

    const std::vector<TerminalCase> rows = {
        {Output::terminal, {"c", "out.dat", "d"}, "", created, 255, dangling},
        {Output::pipe, {"c", "out.dat", "d"}, "", createdRaw, 255, dangling},
        {Output::errorsOnTerminal, {"c", "out.dat", "d"}, "", createdRaw, 255, danglingShown},
        // The reason right after its line, though standard output is a pipe.
        {Output::merged,
         {"c", "out.dat", "d"},
         "",
         createdRaw.substr(0, createdRaw.find('\n') + 1) + dangling +
             createdRaw.substr(createdRaw.find('\n') + 1),
         255,
         ""},
        // Every open fails while a line waits unprinted.
        {Output::terminal, {"x", "../" + archive}, "unflushed -", "Opening ../a?[1m.dat" + extracted, 0, ""},
        {Output::pipe,
         {"x", "../" + archive},
         "unflushed -",
         "Opening ../" + archive + "...failed\n",
         255,
         errLine("../" + archive, "Input/output error")},
        // To a pipe: the line of a file over 1 MiB is out before the file is
        // opened, and lines are out once 100 ms have passed.
        {Output::pipe,
         {"x", "../huge.dat"},
         "unflushed h.bin",
         "Opening ../huge.dat...ok\nParsing TOC...\nExtracting...\nCreating directory huge\\...\n"
         "Extracting huge\\h.bin...ok\nExtracted 1 file(s)\n",
         0,
         ""},
        {Output::pipe, {"c", "p.dat", "huge"}, "unflushed huge/h.bin", "Writing huge\\h.bin...\n", 0, ""},
        {Output::pipe,
         {"c", "p.dat", "two"},
         "slow two/a 150;lagging two/b",
         "Writing two\\a...\nWriting two\\b...\n",
         0,
         ""},
        // Stored names, as listed and extracted from the archive the first row made.
        {Output::terminal, {"l", "out.dat"}, "", "Opening out.dat...ok\nParsing TOC...\n" + stored, 0, ""},
        {Output::pipe, {"l", "out.dat"}, "", "Opening out.dat...ok\nParsing TOC...\n" + storedRaw, 0, ""},
        {Output::terminal,
         {"x", "../out.dat"},
         "",
         "Opening ../out.dat...ok\nParsing TOC...\n" + unpacked,
         0,
         ""},
    };
    for (const TerminalCase& row : rows) {
        SCOPED_TRACE(row.args[0] + " " + row.args[1] + " " + std::to_string(static_cast<int>(row.to)));
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        const std::string where = row.args[0] == "x" ? dir / "out" : dir.path;
        ToolRun r = row.faults.empty() ? runToolTo(row.args, where, row.to)
                                       : runWithFaults(row.args, where, row.faults, row.to);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err, row.err);
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
    const char* command;  // the run that prints it: c, l, x, or datmount on standard error
    std::string text;
};

TEST(CommandLine, EachByteOnEachLineOnATerminal) {
    if (runsWrapped()) GTEST_SKIP() << "a Linux pseudo-terminal";
    // 0x80 and 0x9B alone are no UTF-8: a stray continuation byte and a raw
    // C1 control.
    const std::vector<ShownByte> bytes = {{'\x01', "?"}, {'\n', "?"},   {'\x1b', "?"},
                                          {'\x1f', "?"}, {'\x7f', "?"}, {'\x80', "?"},
                                          {'\x9b', "?"}, {' ', " "},    {'~', "~"}};
    const std::vector<NameLine> lines = {
        {"c", "Skipping d\\l#: link target is missing\n"},
        {"c", "Writing d\\n#\\f#...\n"},
        {"l", "Opening a#.dat...ok\n"},
        {"l", "\nd\\n#\\\n"},
        {"l", "\nd\\n#\\f#\n"},
        {"x", "Opening ../a#.dat...ok\n"},
        {"x", "Creating directory d\\n#\\...\n"},
        {"x", "Extracting d\\n#\\f#...ok\n"},
#ifdef DATMOUNT_PATH
        // datmount says why it cannot mount a directory, on standard error.
        {"datmount", "datmount: d/n#: not a regular file\n"},
#endif
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
#ifdef DATMOUNT_PATH
            out["datmount"] = runProgram(DATMOUNT_PATH, "", {"d/n" + b, "out"}, dir.path,
                                         to == Output::terminal ? Output::errorsOnTerminal : Output::pipe)
                                  .err;
#endif
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
