// Faults the tool meets on the way: sources that change between the scan
// and the writing, writes, closes and listings that fail. The fault shim
// (fault_shim.cpp) is preloaded into the tool and brings each about at its
// exact moment, so every case is deterministic. Each fault, on its own,
// must be named and end the run with 255; whatever happens to a source,
// the archive holds exactly the sizes its TOC promises.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "e2e/harness.h"
#include "support/dat_codec.h"

namespace fs = std::filesystem;

namespace {

// Extracts the archive into a fresh directory beside dir and returns the tree.
std::map<std::string, std::string> extracted(const ScratchDir& dir) {
    fs::create_directory(dir / "../fresh");
    ToolRun r = runTool({"x", "../work/out.dat"}, dir / "../fresh");
    EXPECT_EQ(r.status, 0) << r.out;
    return treeOf(dir / "../fresh");
}

const std::string z4(4, '\0');

// One source, d/<name>, changed after the scan; d/z.txt comes after it.
struct SourceFault {
    std::string name;     // below d, "/" between names
    std::string content;  // at the scan
    std::string faults;
    std::string message;  // printed after its "Writing" line; none: no failure
    std::string stored;   // what the archive holds in its place
    std::string reason;   // on standard error, after the source's path
};

TEST(CreationFaults, EachChangedSourceIsStoredAtItsScannedSizeAndCounted) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    const std::string unopened = "Unable to open d\\a.txt: stored 4 zero bytes in its place\n";
    const std::string missing = "No such file or directory", irregular = "not a regular file";
    const std::vector<SourceFault> rows = {
        {"a.txt", "aaaa", "remove d/a.txt", unopened, z4, missing},
        {"a.txt", "aaaa", "deny d/a.txt", unopened, z4, "Permission denied"},
        {"sub/a.txt", "aaaa", "remove d/sub/a.txt;rmdir d/sub",
         "Unable to open d\\sub\\a.txt: stored 4 zero bytes in its place\n", z4, missing},
        {"a.tex", "cccccccc", "shrink d/a.tex 3", "d\\a.tex shrank: 5 missing bytes stored as zeros\n",
         "ccc" + std::string(5, '\0'), "shrank since it was scanned"},
        // Only regular files are read: a FIFO would block, a device never end.
        {"a.txt", "aaaa", "fifo d/a.txt", unopened, z4, irregular},
        {"a.txt", "aaaa", "dir d/a.txt", unopened, z4, irregular},
        {"a.msh", "aaaa", "link d/a.msh /dev/urandom",
         "Unable to open d\\a.msh: stored 4 zero bytes in its place\n", z4, irregular},
        {"a.txt", "aaaa", "grow d/a.txt 5", "d\\a.txt grew: only its first 4 bytes stored\n", "aaaa",
         "grew since it was scanned"},
        {"a.txt", "", "grow d/a.txt 3", "d\\a.txt grew: only its first 0 bytes stored\n", "",
         "grew since it was scanned"},
        // The archive itself in its place would have it read itself.
        {"a.txt", "aaaa", "link d/a.txt ../out.dat",
         "d\\a.txt is the archive being written: stored 4 zero bytes in its place\n", z4,
         "it is the archive being written"},
        // Another file in its place, as an editor saves one, is no fault.
        {"a.txt", "aaaa", "link d/a.txt ../../new.txt", "", "AAAA", ""},
        {"a.txt", "aaaa", "", "", "aaaa", ""},
    };
    for (const SourceFault& row : rows) {
        SCOPED_TRACE(row.faults);
        ScratchDir dir;
        fs::create_directories(fs::path(dir / "d/" + row.name).parent_path());
        writeBytes(dir / "d/" + row.name, row.content);
        writeBytes(dir / "d/z.txt", "intact");
        writeBytes(dir / "../new.txt", "AAAA");
        std::string shownName = "d\\" + row.name;
        std::replace(shownName.begin(), shownName.end(), '/', '\\');
        ToolRun r = runWithFaults({"c", "out.dat", "d"}, dir.path, row.faults);
        EXPECT_EQ(r.out, "Writing " + shownName + "...\n" + row.message + "Writing d\\z.txt...\n");
        EXPECT_EQ(r.status, row.message.empty() ? 0 : 255);
        EXPECT_EQ(r.err, row.reason.empty() ? "" : errLine(shownName, row.reason));
        std::map<std::string, std::string> expected = {
            {"d", "<dir>"}, {"d/" + row.name, row.stored}, {"d/z.txt", "intact"}};
        if (row.name.find('/') != std::string::npos) expected["d/sub"] = "<dir>";
        EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree, expected);
        EXPECT_EQ(extracted(dir), expected);
    }
}

// A write, a close, a listing, a temporary file, a rename or the emptying
// of an old archive that fails, or a signal, one per run: each is counted, and a file that stood where the
// tool writes keeps its contents unless a complete one took its place.
struct ToolFault {
    std::vector<std::string> args;
    std::string faults;
    std::string out;
    int status = 255;
    std::string old;        // made first, holding oldContents; empty: none
    bool kept = true;       // it still holds them afterwards
    std::string gone = {};  // a file the failed run must not leave
    std::string err = {};   // standard error
};

TEST(Faults, EachFailureIsCountedAndLosesNothingThatWasThere) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    // Magic, root, d, a.txt, b.tex, sub, x and y end at 117; a.txt fills
    // the first output buffer exactly, so b.tex, plain and larger than a
    // buffer, goes out in one write of its own.
    const size_t tocEnd = 5 + 16 + 17 + 17 + 17 + 19 + 13 + 13;
    const size_t buffer = 256 * 1024;  // the tool's output buffer
    // Longer than any archive written here: one written over it in place
    // must have cut it to its own length.
    const std::string oldContents = std::string(1 << 20, 'o');
    const std::string all =
        "Writing d\\a.txt...\nWriting d\\b.tex...\nWriting d\\sub\\x...\nWriting d\\sub\\y...\n";
    const std::string worked = dataFile("worked_example.dat");
    const std::string extracting =
        "Opening " + worked + "...ok\nParsing TOC...\nExtracting...\nCreating directory data\\...\n";
    const std::string aFailed =
        extracting + "Extracting data\\a.txt...failed\nExtracting data\\m.msh...ok\nExtracted 2 file(s)\n";
    const std::string temp = ".out.dat.dattool-*";  // the temporary archive
    const std::string full = "No space left on device", io = "Input/output error";
    const std::string noSpace = errLine("out.dat", full);
    const std::vector<ToolFault> rows = {
        // A full disk ("*": every file written) stops the archive after a
        // buffer, the large plain block, the last buffer; then a failed
        // close. The old archive stays.
        {{"c", "out.dat", "d"},
         "full * 100",
         "Writing d\\a.txt...\nUnable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         noSpace},
        {{"c", "out.dat", "d"},
         "full * 300000",
         "Writing d\\a.txt...\nWriting d\\b.tex...\nUnable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         noSpace},
        {{"c", "out.dat", "d"},
         "full * " + std::to_string(2 * buffer + 12),
         all + "Unable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         noSpace},
        {{"c", "out.dat", "d"},
         "failclose *",
         all + "Unable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         errLine("out.dat", io)},
        // No old archive: the unfinished new one leaves nothing.
        {{"c", "out.dat", "d"},
         "full * 100",
         "Writing d\\a.txt...\nUnable to write out.dat\n",
         255,
         "",
         true,
         "out.dat",
         noSpace},
        // Killed midway, the old archive stays and the temporary file goes.
        // Of the lines, only what a timed flush sent before the signal is
        // out: a beginning of these (a slow run, under valgrind, sends more).
        {{"c", "out.dat", "d"}, "term *", "Writing d\\a.txt...\n", 128 + 15, "out.dat"},
        // No temporary file, or no rename: written in place, as a last resort.
        {{"c", "out.dat", "d"},
         "deny " + temp,
         "Cannot make a temporary file beside out.dat: writing it in place\n" + all,
         0,
         "out.dat",
         false},
        {{"c", "out.dat", "d"},
         "norename out.dat",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n",
         0,
         "out.dat",
         false},
        // Written in place, an old archive that cannot be emptied first
        // stays as it was.
        {{"c", "out.dat", "d"},
         "deny " + temp + ";notruncate out.dat",
         "Cannot make a temporary file beside out.dat: writing it in place\n"
         "Unable to open out.dat for writing\n",
         255,
         "out.dat",
         true,
         "",
         errLine("out.dat", io)},
        {{"c", "out.dat", "d"},
         "norename out.dat;notruncate out.dat",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n" +
             "Unable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         errLine("out.dat", io)},
        // An item that cannot be examined, alone in the run.
        {{"c", "out.dat", "d"},
         "nostat sub",
         "Skipping d\\sub: cannot be examined\nWriting d\\a.txt...\nWriting d\\b.tex...\n",
         255,
         "out.dat",
         false,
         "",
         errLine("d\\sub", "Permission denied")},
        // A listing that fails midway is stored empty, not as part of itself.
        {{"c", "out.dat", "d"},
         "badlist d/sub",
         "No files found\nWriting d\\a.txt...\nWriting d\\b.tex...\n",
         255,
         "out.dat",
         false,
         "",
         errLine("d\\sub", io)},
        // An extracted file: a full disk, a failed close. A new file that
        // fails is removed; one that would replace another leaves it whole.
        {{"x", worked},
         "full * 1",
         extracting +
             "Extracting data\\a.txt...failed\nExtracting data\\m.msh...failed\nExtracted 2 file(s)\n",
         255,
         "data/a.txt",
         true,
         "data/m.msh",
         errLine("data\\a.txt", full) + errLine("data\\m.msh", full)},
        {{"x", worked},
         "failclose m.msh",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...failed\nExtracted 2 file(s)\n",
         255,
         "",
         true,
         "data/m.msh",
         errLine("data\\m.msh", io)},
        {{"x", worked},
         "deny .a.txt.dattool-*",
         aFailed,
         255,
         "data/a.txt",
         true,
         "",
         errLine("data\\a.txt", "Permission denied")},
        {{"x", worked},
         "norename a.txt",
         aFailed,
         255,
         "data/a.txt",
         true,
         "",
         errLine("data\\a.txt", "Device or resource busy")},
        {{"x", worked}, "term *", extracting + "Extracting data\\a.txt...", 128 + 15, "data/a.txt"},
        {{"x", worked},
         "term m.msh",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...",
         128 + 15,
         "",
         true,
         "data/m.msh"},
    };
    for (const ToolFault& row : rows) {
        SCOPED_TRACE(row.faults);
        ScratchDir dir;
        fs::create_directories(dir / "d/sub");
        writeBytes(dir / "d/a.txt", std::string(buffer - tocEnd, 'a'));
        writeBytes(dir / "d/b.tex", std::string(300000, 'b'));
        writeBytes(dir / "d/sub/x", "x");
        writeBytes(dir / "d/sub/y", "y");
        fs::create_directories(dir / "data");
        if (!row.old.empty()) writeBytes(dir / row.old, oldContents);
        ToolRun r = runWithFaults(row.args, dir.path, row.faults);
        if (row.status > 128)
            EXPECT_EQ(row.out.compare(0, r.out.size(), r.out), 0) << r.out;  // killed: a beginning
        else
            EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err, row.err);
        if (!row.old.empty()) {
            EXPECT_EQ(readBytes(dir / row.old) == oldContents, row.kept);
        }
        if (!row.gone.empty()) {
            EXPECT_FALSE(exists(dir / row.gone));
        }
        // A replaced archive is complete, with nothing of the old one after it.
        if (row.args[0] == "c" && !row.kept) {
            EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree.count("d/a.txt"), 1u);
            EXPECT_EQ(runTool({"l", "out.dat"}, dir.path).status, 0);
        }
        for (const auto& [path, content] : treeOf(dir.path))
            EXPECT_EQ(path.find(".dattool-"), std::string::npos) << path << " left behind";
    }
}

}  // namespace
