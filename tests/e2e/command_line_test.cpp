#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include "e2e/harness.h"
#include "support/dat_codec.h"

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
        {{"", "a.dat"}, errLine("", "unknown command")},
        // Options stand anywhere after the command word; one that is
        // unknown, or that the command cannot use, is named.
        {{"x", "a.dat", "-z"}, errLine("-z", "unknown option")},
        {{"l", "--all", "a.dat"}, errLine("--all", "unknown option")},
        {{"x", "-qz", "a.dat"}, errLine("-z", "unknown option")},
        {{"-q", "x", "a.dat"}, errLine("-q", "unknown command")},
        {{"c", "a.dat", "d", "-C"}, errLine("-C", "needs a directory")},
        {{"x", "-C", "o", "a.dat", "-Cp"}, errLine("-C", "given more than once")},
        {{"l", "-C", "o", "a.dat"}, errLine("-C", "not an option of l")},
        {{"x", "-v", "a.dat"}, errLine("-v", "not an option of x")},
        {{"c", "a.dat", "d", "-v"}, errLine("-v", "not an option of c")},
        {{"x", "-q"}, errLine("x", "no archive given")},
        {{"c", "a.dat", "--"}, errLine("c", "no directory given")},
        {{"p", "a.dat"}, errLine("p", "no member given")},
        {{"P", "a.dat", "m"}, errLine("P", "unknown command")},
        {{"t", "-C", "o", "a.dat"}, errLine("-C", "not an option of t")},
        {{"p", "-v", "a.dat", "m"}, errLine("-v", "not an option of p")},
        {{"l", "--salvage", "a.dat"}, errLine("--salvage", "not an option of l")},
        {{"t", "a.dat", "--salvage"}, errLine("--salvage", "not an option of t")},
        {{"c", "a.dat", "d", "--salvage"}, errLine("--salvage", "not an option of c")},
        {{"u", "a.dat"}, errLine("u", "no path given")},
        {{"d", "a.dat", "--"}, errLine("d", "no member given")},
        {{"d", "-C", "o", "a.dat", "m"}, errLine("-C", "not an option of d")},
        {{"u", "a.dat", "p", "-v"}, errLine("-v", "not an option of u")}};
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

// Members, -C, -q, -v, "--", help and version, one run a row, each in an
// empty directory "run" beside the archive a.dat. Rows run in order: a
// row may list what an earlier one made.
struct RunRow {
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string err;
    std::map<std::string, std::string> tree = {};  // what the run leaves in "run"
};

TEST(CommandLine, MembersDirectoriesQuietVerboseHelpAndVersion) {
    ScratchDir dir;
    writeBytes(
        dir / "a.dat",
        archiveBytes(
            {dirNode("data", {fileNode("a.txt", "abc"), fileNode("m.msh", "0123456789", 0),
                              dirNode("sub", {fileNode("b.tex", "bb", 0), fileNode("[1].txt", "one")})}),
             fileNode("top.txt", "t"), dirNode("bad", {fileNode("..\\..\\escape.txt", "e")})}));
    fs::create_directories(dir / "src/tree");
    fs::create_directories(dir / "src/tail");
    writeBytes(dir / "src/tree/f.txt", "f");
    writeBytes(dir / "src/tail/g.txt", "g");
    writeBytes(dir / "run.txt", "a file");
    // Archives "c" could not have written, which u and d refuse unchanged.
    const std::map<std::string, std::string> refused = {
        {"order.dat", archiveBytes({dirNode("d", {fileNode("b", "1"), fileNode("a", "2")})})},
        {"twice.dat", archiveBytes({dirNode("d", {fileNode("a", "1"), fileNode("a", "2")})})},
        {"top.dat", archiveBytes({dirNode("d"), dirNode("d")})},
        {"deep.dat", archiveBytes({dirNode("a", {dirNode("b", {fileNode("c", "1")})}),
                                   dirNode("a/b", {fileNode("c", "2")})})},
        {"flag.dat", archiveBytes({dirNode("d", {fileNode("a.txt", "1", 0)})})},
        {"up.dat", archiveBytes({dirNode("a/../../up", {fileNode("a", "1")})})},
        {"cut.dat", readBytes(dataFile("cut_short.dat"))}};
    for (const auto& [name, bytes] : refused) writeBytes(dir / name, bytes);
    writeBytes(dir / "way.dat", archiveBytes({fileNode("f", "1"), dirNode("f", {fileNode("x", "2")})}));
    // Two top-level names, one starting the other's path, as the library
    // writes them.
    writeBytes(dir / "nest.dat",
               archiveBytes({dirNode("a", {fileNode("x", "1")}), dirNode("a/b", {fileNode("y", "2")})}));
    fs::create_directories(dir / "nest/a/b");
    writeBytes(dir / "nest/a/b/z", "z");
    const std::string opened = "Opening ../a.dat...ok\nParsing TOC...\n";
    const std::string extracting = opened + "Extracting...\n";
    const std::string leaves = errLine("bad\\..\\..\\escape.txt", "path leaves the current directory");
    const std::string listing =
        "data\\\ndata\\a.txt\ndata\\m.msh\ndata\\sub\\\ndata\\sub\\b.tex\ndata\\sub\\[1].txt\ntop."
        "txt\nbad\\\n"
        "bad\\..\\..\\escape.txt\n";
    const std::string columns =
        "d         18          0 data\\\n"
        "-          3          0 data\\a.txt\n"
        "-         10          3 data\\m.msh\n"
        "d          5         13 data\\sub\\\n"
        "-          2         13 data\\sub\\b.tex\n"
        "-          3         15 data\\sub\\[1].txt\n"
        "-          1         18 top.txt\n"
        "d          1         19 bad\\\n"
        "-          1         19 bad\\..\\..\\escape.txt\n";
    const std::map<std::string, std::string> all = {
        {"data", "<dir>"},     {"data/a.txt", "abc"},    {"data/m.msh", "0123456789"},
        {"data/sub", "<dir>"}, {"data/sub/b.tex", "bb"}, {"data/sub/[1].txt", "one"},
        {"top.txt", "t"},      {"bad", "<dir>"}};
    std::map<std::string, std::string> below = {{"out", "<dir>"}, {"out/deep", "<dir>"}};
    for (const auto& [path, content] : all) below["out/deep/" + path] = content;
    const std::string help = "Usage: dattool COMMAND [OPTION...] ARCHIVE [NAME...]\n";
    const std::string original = readBytes(dir / "a.dat");
    const std::string tested =
        opened +
        "Testing data\\a.txt...ok\nTesting data\\m.msh...ok\nTesting data\\sub\\b.tex...ok\n"
        "Testing data\\sub\\[1].txt...ok\nTesting top.txt...ok\nTesting bad\\..\\..\\escape.txt...failed\n"
        "Tested 6 file(s), 1 problem(s)\n";
    const std::vector<RunRow> rows = {
        // c: not one argument read, nothing written; the archive every row
        // below reads stays as it was.
        {{"c", "../a.dat", "none", "-C", "../src", "t*x"},
         "No files found\nNo files found\nNothing to store: ../a.dat not written\n",
         255,
         sysLine("none", "No such file or directory") + sysLine("t*x", "No such file or directory") +
             errLine("../a.dat", "nothing could be read")},
        // p: the bytes alone, keyed and plain alike, in stored order; a
        // member that names only directories, or nothing, fails after the
        // rest. No file is written, so a path x refuses is printed too.
        {{"p", "../a.dat", "data/m.msh", "data\\a.txt"}, "abc0123456789", 0, ""},
        {{"p", "../a.dat", "data/*.t*", "bad/*"}, "abcbbonee", 0, ""},
        {{"p", dataFile("file_past_data_region.dat"), "d/*"},
         "goodafter",
         255,
         errLine("d\\bad.txt", "its bytes lie outside the archive")},
        {{"p", "../a.dat", "data/sub", "nothing", "top.txt", "-q"},
         "t",
         255,
         errLine("data/sub", "is a directory") + errLine("nothing", "not in the archive")},
        // t: what x would meet, every file read through, nothing written.
        {{"t", "../a.dat"}, tested, 255, leaves},
        {{"t", "-q", "../a.dat"}, "", 255, leaves},
        // A directory x cannot make is a problem of its own.
        {{"t", "-q", "../way.dat"},
         "",
         255,
         errLine("f\\", "a file stands in the way") + errLine("f\\x", "a file stands in the way")},
        {{"t", "../a.dat", "top.txt", "none"},
         opened + "Testing top.txt...ok\nTested 1 file(s), 0 problem(s)\n",
         255,
         errLine("none", "not in the archive")},
        {{"t", "../a.dat", "data"},
         opened + tested.substr(opened.size(), tested.find("Testing top.txt") - opened.size()) +
             "Tested 4 file(s), 0 problem(s)\n",
         0,
         ""},
        // --salvage changes nothing in a sound archive.
        {{"x", "--salvage", "../a.dat", "top.txt"},
         extracting + "Extracting top.txt...ok\nExtracted 1 file(s)\n",
         0,
         "",
         {{"top.txt", "t"}}},
        // Members: a stored path with either separator, patterns, a
        // directory and all below it. The directories above a member are
        // made as it needs them.
        {{"x", "../a.dat", "data/a.txt"},
         extracting + "Extracting data\\a.txt...ok\nExtracted 1 file(s)\n",
         0,
         "",
         {{"data", "<dir>"}, {"data/a.txt", "abc"}}},
        {{"x", "../a.dat", "*.tex", "top.tx?", "data\\sub\\[[]1].txt"},
         extracting + "Extracting data\\sub\\b.tex...ok\nExtracting data\\sub\\[1].txt...ok\n"
                      "Extracting top.txt...ok\nExtracted 3 file(s)\n",
         0,
         "",
         {{"data", "<dir>"},
          {"data/sub", "<dir>"},
          {"data/sub/b.tex", "bb"},
          {"data/sub/[1].txt", "one"},
          {"top.txt", "t"}}},
        {{"x", "../a.dat", "data\\sub\\"},
         extracting + "Creating directory data\\sub\\...\nExtracting data\\sub\\b.tex...ok\n"
                      "Extracting data\\sub\\[1].txt...ok\nExtracted 2 file(s)\n",
         0,
         "",
         {{"data", "<dir>"}, {"data/sub", "<dir>"}, {"data/sub/b.tex", "bb"}, {"data/sub/[1].txt", "one"}}},
        {{"l", "../a.dat", "data/sub/*", "Top.txt", "data/a"},
         opened + "data\\sub\\b.tex\ndata\\sub\\[1].txt\n",
         255,
         errLine("Top.txt", "not in the archive") + errLine("data/a", "not in the archive")},
        // What matches nothing fails the run, after the rest is done; a
        // refused member is refused as a full extraction refuses it.
        {{"x", "../a.dat", "nothing", "top.txt"},
         extracting + "Extracting top.txt...ok\nExtracted 1 file(s)\n",
         255,
         errLine("nothing", "not in the archive"),
         {{"top.txt", "t"}}},
        {{"x", "../a.dat", "bad"},
         extracting + "Creating directory bad\\...\nExtracting bad\\..\\..\\escape.txt...failed\n"
                      "Extracted 1 file(s)\n",
         255,
         leaves,
         {{"bad", "<dir>"}}},
        // -C: made with its parents, and everything stays below it; the
        // archive is found from where the run began.
        {{"x", "-C", "out/deep", "../a.dat"},
         extracting +
             "Creating directory data\\...\nExtracting data\\a.txt...ok\nExtracting data\\m.msh...ok\n"
             "Creating directory data\\sub\\...\nExtracting data\\sub\\b.tex...ok\n"
             "Extracting data\\sub\\[1].txt...ok\nExtracting top.txt...ok\n"
             "Creating directory bad\\...\nExtracting bad\\..\\..\\escape.txt...failed\n"
             "Extracted 6 file(s)\n",
         255,
         leaves,
         below},
        {{"x", "../a.dat", "top.txt", "-Cout"},
         extracting + "Extracting top.txt...ok\nExtracted 1 file(s)\n",
         0,
         "",
         {{"out", "<dir>"}, {"out/top.txt", "t"}}},
        {{"x", "../a.dat", "top.txt", "-C", "out"},
         extracting + "Extracting top.txt...ok\nExtracted 1 file(s)\n",
         0,
         "",
         {{"out", "<dir>"}, {"out/top.txt", "t"}}},
        {{"x", "-C", "../run.txt", "../a.dat"},
         opened + "Unable to create directory ../run.txt\n",
         255,
         sysLine("../run.txt", "Not a directory")},
        // "--": what follows is a name; so is "-" alone.
        {{"l", "-q", "-"}, "", 255, sysLine("-", "No such file or directory")},
        {{"x", "../a.dat", "--", "-C"},
         extracting + "Extracted 0 file(s)\n",
         255,
         errLine("-C", "not in the archive")},
        // c -C reads the directories, patterns included, in the directory
        // named, and stores them under the names given.
        {{"c", "../new.dat", "-C", "../src", "t*"},
         "Writing tail\\g.txt...\nWriting tree\\f.txt...\n",
         0,
         ""},
        {{"l", "-q", "../new.dat"}, "tail\\\ntail\\g.txt\ntree\\\ntree\\f.txt\n", 0, ""},
        // u and d change it; a top-level directory put back comes last,
        // as the last directory given to c.
        {{"d", "-q", "../new.dat", "tail"}, "", 0, ""},
        {{"u", "../new.dat", "-C", "../src", "tail/g.txt"}, "Writing tail\\g.txt...\n", 0, ""},
        {{"l", "-q", "../new.dat"}, "tree\\\ntree\\f.txt\ntail\\\ntail\\g.txt\n", 0, ""},
        {{"d", "../new.dat", "nothing"}, "", 255, errLine("nothing", "not in the archive")},
        {{"u", "../new.dat", "missing"},
         "Unable to add missing\n",
         255,
         sysLine("missing", "No such file or directory")},
        // One path that cannot be added: nothing is.
        {{"u", "../new.dat", "-C", "..", "run.txt", "missing"},
         "Unable to add missing\n",
         255,
         sysLine("missing", "No such file or directory")},
        {{"l", "-q", "../new.dat"}, "tree\\\ntree\\f.txt\ntail\\\ntail\\g.txt\n", 0, ""},
        {{"u", "../new.dat", "../src"},
         "Unable to add ../src\n",
         255,
         errLine("../src", "path leaves the current directory")},
        {{"u", "../new.dat", "-C", "..", "new.dat"},
         "Unable to add new.dat\n",
         255,
         sysLine("new.dat", "it is the archive being written")},
        // A name of 259 bytes may be stored: the disk is what refuses it.
        {{"u", "../new.dat", "-C", "../src", "tree/" + std::string(259, 'n')},
         "Unable to add tree/" + std::string(259, 'n') + "\n",
         255,
         sysLine("tree/" + std::string(259, 'n'), "File name too long")},
        // A path goes below the longest top-level name it starts with.
        {{"u", "../nest.dat", "-C", "../nest", "a/b/z"}, "Writing a/b\\z...\n", 0, ""},
        {{"l", "-q", "../nest.dat"}, "a\\\na\\x\na/b\\\na/b\\y\na/b\\z\n", 0, ""},
        {{"d", "../nowhere.dat", "x"},
         "Unable to open ../nowhere.dat\n",
         255,
         sysLine("../nowhere.dat", "No such file or directory")},
        // What u and d refuse, before anything is written.
        {{"d", "../a.dat", "top.txt"},
         "Unable to change ../a.dat: ..\\..\\escape.txt holds a separator\n",
         255,
         errLine("../a.dat", "..\\..\\escape.txt holds a separator")},
        {{"d", "../up.dat", "x"},
         "Unable to change ../up.dat: a/../../up\\: path leaves the current directory\n",
         255,
         errLine("../up.dat", "a/../../up\\: path leaves the current directory")},
        {{"u", "../order.dat", "x"},
         "Unable to change ../order.dat: a is out of order\n",
         255,
         errLine("../order.dat", "a is out of order")},
        {{"d", "../twice.dat", "d/a"},
         "Unable to change ../twice.dat: a is stored twice\n",
         255,
         errLine("../twice.dat", "a is stored twice")},
        {{"u", "../deep.dat", "x"},
         "Unable to change ../deep.dat: a\\b\\c is stored twice\n",
         255,
         errLine("../deep.dat", "a\\b\\c is stored twice")},
        {{"d", "../top.dat", "d"},
         "Unable to change ../top.dat: d is stored twice\n",
         255,
         errLine("../top.dat", "d is stored twice")},
        {{"d", "../flag.dat", "d"},
         "Unable to change ../flag.dat: a.txt is not stored as \"c\" stores it\n",
         255,
         errLine("../flag.dat", "a.txt is not stored as \"c\" stores it")},
        {{"d", "../cut.dat", "data"},
         "Unable to change ../cut.dat: Damaged archive: record at offset 58 runs past the end of the TOC at "
         "71\n",
         255,
         errLine("../cut.dat", "Damaged archive: record at offset 58 runs past the end of the TOC at 71")},
        // The archive itself, given as a file, is left out as it is when
        // found in a directory.
        {{"c", "-C", "..", "../new.dat", "new.dat", "src"},
         "Skipping new.dat: it is the archive being written\nWriting src\\tail\\g.txt...\n"
         "Writing src\\tree\\f.txt...\n",
         0,
         ""},
        {{"c", "-C", "..", "../new.dat", "new.dat"},
         "Skipping new.dat: it is the archive being written\nNothing to store: ../new.dat not written\n",
         255,
         errLine("../new.dat", "nothing could be read")},
        // A file argument is stored as a file at the top, under its name
        // as given, and extracted there.
        {{"c", "-q", "-C", "../src", "../new.dat", "tree/f.txt", "tail"}, "", 0, ""},
        {{"l", "-q", "../new.dat"}, "tree/f.txt\ntail\\\ntail\\g.txt\n", 0, ""},
        // A file alone is something to store.
        {{"c", "-q", "-C", "../src", "../one.dat", "tree/f.txt"}, "", 0, ""},
        {{"l", "-q", "../one.dat"}, "tree/f.txt\n", 0, ""},
        {{"x", "-q", "../new.dat"},
         "",
         0,
         "",
         {{"tree", "<dir>"}, {"tree/f.txt", "f"}, {"tail", "<dir>"}, {"tail/g.txt", "g"}}},
        {{"c", "-C", "../nowhere", "../none.dat", "tree"},
         "Unable to open directory ../nowhere\n",
         255,
         sysLine("../nowhere", "No such file or directory")},
        {{"l", "-q", "../none.dat"}, "", 255, sysLine("../none.dat", "No such file or directory")},
        // -q: only what a script wants on standard output; failures on
        // standard error as ever.
        {{"l", "-q", "../a.dat"}, listing, 0, ""},
        {{"x", "-q", "../a.dat", "bad", "top.txt"}, "", 255, leaves, {{"bad", "<dir>"}, {"top.txt", "t"}}},
        {{"c", "../q.dat", "../src/tree", "-q", "../src/none"},
         "",
         255,
         sysLine("../src/none", "No such file or directory")},
        {{"l", "-q", dataFile("cut_short.dat")},
         "data\\\ndata\\a.txt\n",
         255,
         errLine(dataFile("cut_short.dat"),
                 "Damaged archive: record at offset 58 runs past the end of the TOC at 71")},
        // -v: type, size and data offset as stored, then the totals.
        {{"l", "-v", "../a.dat"}, opened + columns + "6 files, 3 directories, 20 bytes\n", 0, ""},
        {{"l", "../a.dat", "-v", "data/sub"},
         opened +
             columns.substr(columns.find("d          5"),
                            columns.find("-          1         18") - columns.find("d          5")) +
             "2 files, 1 directories, 5 bytes\n",
         0,
         ""},
        {{"l", "-qv", "../a.dat"}, columns, 0, ""},
        // Help and version, on standard output with status 0, wherever
        // they are asked for.
        {{"--help"}, help, 0, ""},
        {{"-h"}, help, 0, ""},
        {{"help"}, help, 0, ""},
        {{"x", "../a.dat", "--help"}, help, 0, ""},
        {{"--version"}, "dattool " DATTOOL_VERSION "\n", 0, ""},
        {{"l", "--version", "../a.dat"}, "dattool " DATTOOL_VERSION "\n", 0, ""},
    };
    for (const RunRow& row : rows) {
        std::string line;
        for (const std::string& arg : row.args) line += arg + " ";
        SCOPED_TRACE(line);
        fs::remove_all(dir / "run");
        fs::create_directories(dir / "run");
        ToolRun r = runTool(row.args, dir / "run");
        // The help is long: its first line here, the rest checked below.
        EXPECT_EQ(row.out == help ? r.out.substr(0, r.out.find('\n') + 1) : r.out, row.out);
        EXPECT_EQ(r.status, row.status);
        EXPECT_TRUE(errorsMatch(r.err, row.err)) << r.err;
        EXPECT_EQ(treeOf(dir / "run"), row.tree);
    }
    EXPECT_FALSE(exists(dir / "escape.txt"));
    EXPECT_FALSE(exists(dir / "../escape.txt"));
    EXPECT_EQ(readBytes(dir / "run.txt"), "a file");
    EXPECT_EQ(readBytes(dir / "a.dat"), original);
    for (const auto& [name, bytes] : refused) EXPECT_EQ(readBytes(dir / name), bytes) << name;
}

// The help names every command and option, shows each command at work
// and where the manual is.
TEST(CommandLine, HelpNamesEveryCommandAndOption) {
    ScratchDir dir;
    const ToolRun r = runTool({"--help"}, dir.path);
    for (const char* said :
         {"\n  c ARCHIVE DIRECTORY...", "\n  l ARCHIVE [MEMBER...]", "\n  x ARCHIVE [MEMBER...]",
          "\n  p ARCHIVE MEMBER...", "\n  t ARCHIVE [MEMBER...]", "\n  --salvage", "no checksums",
          "\n  help, -h, --help", "\n  --version", "\n  -C DIR", "\n  -q", "\n  -v", "\n  --  ",
          "\n  dattool c ", "\n  dattool l ", "\n  dattool x ", "\n  dattool p ", "\n  dattool t ",
          "man dattool"})
        EXPECT_NE(r.out.find(said), std::string::npos) << said;
    EXPECT_EQ(r.err, "");
}

// The bash completion as bash runs it: the words on the line, the last
// being completed, and what it offers, sorted; members with "/".
TEST(CommandLine, BashCompletionOffersCommandsOptionsArchivesAndMembers) {
    if (runsWrapped()) GTEST_SKIP() << "the completion runs the Linux build";
#ifdef RUNNING_ON_VALGRIND
    // Under valgrind bash and every dattool it starts are traced as well,
    // and the completion's output is not what bash alone gives.
    if (RUNNING_ON_VALGRIND) GTEST_SKIP() << "the completion is not run under valgrind";
#endif
    if (!exists("/bin/bash")) GTEST_SKIP() << "no bash";
    ScratchDir dir;
    writeBytes(
        dir / "a.dat",
        archiveBytes({dirNode("data", {fileNode("a.txt", "a"), dirNode("sub", {fileNode("b c.tex", "b")})}),
                      fileNode("top.txt", "t"), fileNode("-x", "x")}));
    writeBytes(dir / "B.DAT", "any");
    writeBytes(dir / "notes.txt", "x");
    fs::create_directories(dir / "dir");
    const std::string tool = programUnderTest();
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{""}, "--help --version -h c d help l p t u x"},
        {{"u", "-"}, "-- --help --version -C -q"},
        {{"d", "-"}, "-- --help --version -q"},
        {{"d", "a.dat", "data/"}, "data/a.txt data/sub/"},
        {{"u", "a.dat", "n"}, "notes.txt"},
        {{"l", "-"}, "-- --help --version -q -v"},
        {{"x", "-"}, "-- --help --salvage --version -C -q"},
        {{"t", "-"}, "-- --help --version -q"},
        {{"p", "a.dat", "data/s"}, "data/sub/"},
        {{"t", "a.dat", ""}, "-x data/ top.txt"},
        {{"x", ""}, "B.DAT a.dat dir"},
        {{"x", "-C", ""}, "dir"},
        {{"c", "-qC", ""}, "dir"},
        {{"x", "a.dat", ""}, "-x data/ top.txt"},
        {{"x", "-q", "a.dat", "data/"}, "data/a.txt data/sub/"},
        {{"l", "a.dat", "data/a.txt", "data/sub/"}, "data/sub/b c.tex"},
        {{"x", "-C", "dir", "a.dat", "t"}, "top.txt"},
        {{"x", "a.dat", "--", "-"}, "-x"},
        {{"x", "a.dat", "-"}, "-- --help --salvage --version -C -q"},
        {{"l", "missing.dat", ""}, ""},
        // c stores files as well as directories.
        {{"c", "new.dat", ""}, "B.DAT a.dat dir notes.txt"},
    };
    for (const auto& [words, offered] : rows) {
        std::string line = "COMP_WORDS=('" + tool + "'";
        for (const std::string& w : words) line += " '" + w + "'";
        line += "); COMP_CWORD=" + std::to_string(words.size());
        SCOPED_TRACE(line);
        const ToolRun r =
            runProgram("/bin/bash", "",
                       {"-c", "source '" DATTOOL_COMPLETION "'; " + line +
                                  "; _dattool; printf '%s\\n' \"${COMPREPLY[@]}\" | LC_ALL=C sort"},
                       dir.path);
        std::string got;
        for (size_t at = 0, next; at < r.out.size(); at = next + 1) {
            next = r.out.find('\n', at);
            if (next == std::string::npos) next = r.out.size();
            if (next > at) got += (got.empty() ? "" : " ") + r.out.substr(at, next - at);
        }
        EXPECT_EQ(got, offered);
        EXPECT_EQ(r.err, "");
    }
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
    // "data" and a full-width b, which the ANSI code page lacks: on Windows
    // it matches as "data?", which names no directory there, never as
    // "datab", which its best fit would make of it.
    const std::string wide = u8"data\uFF42";
    for (const std::string& d : {std::string("datab"), std::string("data_x"), std::string("other"), wide})
        fs::create_directory(dir / d);
    writeBytes(dir / "datab/f.txt", "f");
    writeBytes(dir / "x.dat", "not an archive");
    const bool windows = testingWindowsBuild();
    const std::string matched = windows ? "data?\\\ndatab\\\ndatab\\f.txt\ndata_x\\\n"
                                        : "data_x\\\ndatab\\\ndatab\\f.txt\n" + wide + "\\\n";
    for (const char* pattern : {"data*", "DATA*"}) {
        SCOPED_TRACE(pattern);
        const bool matches = windows || pattern[0] == 'd';
        ToolRun c = runTool({"c", "out.dat", pattern}, dir.path);
        EXPECT_EQ(c.out, windows   ? "No files found\nWriting datab\\f.txt...\n"
                         : matches ? "Writing datab\\f.txt...\n"
                                   : "No files found\nNothing to store: out.dat not written\n");
        EXPECT_EQ(c.status, matches && !windows ? 0 : 255);
        // A pattern that matches nothing is kept as typed, names no
        // directory and fails; alone, it leaves the archive the first
        // pattern made as it was.
        if (windows)
            EXPECT_TRUE(errorsMatch(c.err, sysLine("data?", ""))) << c.err;
        else
            EXPECT_EQ(c.err, matches ? ""
                                     : errLine(pattern, "No such file or directory") +
                                           errLine("out.dat", "nothing could be read"));
        ToolRun l = runTool({"l", "out.dat"}, dir.path);
        EXPECT_EQ(l.out, "Opening out.dat...ok\nParsing TOC...\n" + matched);
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
        // p stops at once: neither the missing member nor the rest is told.
        {Output::brokenPipe,
         "",
         {"p", "ref.dat", "d/*", "none"},
         "",
         255,
         errLine("standard output", "Broken pipe")},
        {Output::file, "ref.dat", {"p", "ref.dat", "d/*"}, "", 255, errLine("ref.dat", refused)},
        {Output::closed, "", {"p", "ref.dat", "d/*"}, "", 255, closed},
        {Output::file, "/dev/full", {"p", "ref.dat", "d/*"}, "", 255, full},
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
        EXPECT_EQ(readBytes(dir / "ref.dat"), ref);
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
