// Faults the tool meets on the way: sources that change between the scan
// and the writing, writes, closes and listings that fail. The fault shim
// (fault_shim.cpp) is preloaded into the tool and brings each about at its
// exact moment, so every case is deterministic. Each fault, on its own,
// must be named and end the run with 255; whatever happens to a source,
// the archive holds exactly the sizes its TOC promises.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

// n bytes that differ from their neighbours, so that a piece copied to the
// wrong place shows.
std::string varied(size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 13 + (i >> 9));
    return bytes;
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
        // By one byte either way.
        {"a.txt", "aaaa", "grow d/a.txt 1", "d\\a.txt grew: only its first 4 bytes stored\n", "aaaa",
         "grew since it was scanned"},
        {"a.tex", "cccccccc", "shrink d/a.tex 7", "d\\a.tex shrank: 1 missing bytes stored as zeros\n",
         "ccccccc" + std::string(1, '\0'), "shrank since it was scanned"},
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
        // An old archive to replace: a new one has no file at its name
        // until it is complete, which no source could then lead to.
        writeBytes(dir / "out.dat", "old archive");
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

// Permission bits and owner (user and group alike) of a file; 0 and -1:
// neither set nor checked.
struct Owned {
    unsigned mode = 0;
    int owner = -1;
};

// A write, a close, a listing, a temporary file, a rename or the emptying
// of an old archive that fails, or a signal, one per run: each is counted,
// and a file that stood where the tool writes keeps its contents unless a
// complete one took its place.
struct ToolFault {
    std::vector<std::string> args;
    std::string faults;
    std::string out;
    int status = 255;
    std::string old;        // made first, holding oldContents; empty: none
    bool kept = true;       // it still holds them afterwards
    std::string gone = {};  // a file the failed run must not leave
    std::string err = {};   // standard error
    // A file the run must leave whole, and what it holds.
    std::pair<std::string, std::string> left = {};
    Owned before = {};       // given to old first
    Owned after = {};        // what stands at old afterwards has these
    std::string other = {};  // another file made first, holding oldContents
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
    const std::string b = varied(300000);           // d/b.tex
    const auto madeOf = [&](std::vector<Node> sub) {
        return archiveBytes({dirNode("d", {fileNode("a.txt", std::string(buffer - tocEnd, 'a')),
                                           fileNode("b.tex", b, 0), dirNode("sub", sub)})});
    };
    const std::string madeBytes = madeOf({fileNode("x", "x"), fileNode("y", "y")});  // c of d
    const std::string withoutY = madeOf({fileNode("x", "x")});
    const std::string made =
        "Opening made.dat...ok\nParsing TOC...\nExtracting...\nCreating directory d\\...\n"
        "Extracting d\\a.txt...ok\nExtracting d\\b.tex...ok\nCreating directory d\\sub\\...\n"
        "Extracting d\\sub\\x...ok\nExtracting d\\sub\\y...ok\nExtracted 4 file(s)\n";
    const std::string full = "No space left on device", io = "Input/output error";
    const std::string noSpace = errLine("out.dat", full);
    const mode_t mask = umask(022);
    umask(mask);
    std::vector<ToolFault> rows = {
        // A full disk ("*": every file written) stops the archive after a
        // buffer, within the large plain file the kernel copies, at the last
        // buffer (x and y); then a failed close. The old archive stays.
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
         "full * " + std::to_string(buffer + 300000 + 1),
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
         "deny " + temp + ";failclose out.dat",
         "Cannot make a temporary file beside out.dat: writing it in place\n" + all +
             "Unable to write out.dat\n",
         255,
         "out.dat",
         false,
         "",
         errLine("out.dat", io)},
        {{"c", "out.dat", "d"},
         "norename out.dat",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n",
         0,
         "out.dat",
         false},
        // A new archive written in place for want of a temporary file, on
        // a disk that fills: nothing is left at its name.
        {{"c", "new.dat", "d"},
         "deny .new.dat.dattool-*;full new.dat 100",
         "Cannot make a temporary file beside new.dat: writing it in place\nWriting d\\a.txt...\n"
         "Unable to write new.dat\n",
         255,
         "",
         true,
         "new.dat",
         errLine("new.dat", full)},
        // The same with a signal as it is closed: still nothing is left.
        {{"c", "new.dat", "d"},
         "deny .new.dat.dattool-*;full new.dat 100;closed new.dat 15",
         "Cannot make a temporary file beside new.dat: writing it in place\nWriting d\\a.txt...\n"
         "Unable to write new.dat\n",
         128 + 15,
         "",
         true,
         "new.dat",
         errLine("new.dat", full)},
        // The copy that stands in for the rename cannot read the whole
        // temporary file: nothing is left at the name.
        {{"c", "out.dat", "d"},
         "norename out.dat;badread " + temp + " 1000",
         all +
             "Cannot put the new archive in place of out.dat: writing it in place\nUnable to write out.dat\n",
         255,
         "",
         true,
         "out.dat",
         errLine("out.dat", io)},
        // Its path made a link to another file meanwhile: the copy goes
        // through the archive's own handle, never the path, and the other
        // file stays as it was.
        {{"c", "out.dat", "d"},
         "norename out.dat;link out.dat victim",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n",
         0,
         "out.dat",
         true,
         "",
         "",
         {"victim", oldContents},
         {},
         {},
         "victim"},
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
        // Nothing could be read: nothing is written, in place or not, and
        // the old archive stays; a new one is never made.
        {{"c", "out.dat", "none"},
         "deny " + temp,
         "Cannot make a temporary file beside out.dat: writing it in place\nNo files found\n"
         "Nothing to store: out.dat not written\n",
         255,
         "out.dat",
         true,
         "",
         errLine("none", "No such file or directory") + errLine("out.dat", "nothing could be read")},
        {{"c", "out.dat", "none"},
         "",
         "No files found\nNothing to store: out.dat not written\n",
         255,
         "out.dat",
         true,
         temp,
         errLine("none", "No such file or directory") + errLine("out.dat", "nothing could be read")},
        {{"c", "new.dat", "none", "data/none"},
         "deny .new.dat.dattool-*",
         "Cannot make a temporary file beside new.dat: writing it in place\nNo files found\nNo files found\n"
         "Nothing to store: new.dat not written\n",
         255,
         "",
         true,
         "new.dat",
         errLine("none", "No such file or directory") + errLine("data/none", "No such file or directory") +
             errLine("new.dat", "nothing could be read")},
        {{"c", "out.dat", "d"},
         "norename out.dat;notruncate out.dat",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n" +
             "Unable to write out.dat\n",
         255,
         "out.dat",
         true,
         "",
         errLine("out.dat", io)},
        // b.tex, plain and at a page's start, goes by the kernel's copy,
        // into the archive and out of it; where the kernel refuses (another
        // file system) or copies nothing, a buffer takes over unseen.
        {{"c", "out.dat", "d"}, "nocopy d/b.tex", all, 0, "out.dat", false},
        {{"c", "out.dat", "d"}, "copynone " + temp, all, 0, "out.dat", false},
        {{"x", "-C", "out", "made.dat"}, "nocopy b.tex", made, 0, "", true, "", "", {"out/d/b.tex", b}},
        {{"x", "-C", "out", "made.dat"}, "copynone made.dat", made, 0, "", true, "", "", {"out/d/b.tex", b}},
        {{"x", "-C", "out", "made.dat"}, "", made, 0, "", true, "", "", {"out/d/b.tex", b}},
        // A bad sector in b.tex, met by the buffer the refused kernel copy
        // falls back to, is the archive's fault, not the extracted file's.
        {{"x", "-C", "out", "made.dat"},
         "nocopy made.dat;badread made.dat " + std::to_string(buffer + 1000),
         "Opening made.dat...ok\nParsing TOC...\nExtracting...\nCreating directory d\\...\n"
         "Extracting d\\a.txt...ok\nExtracting d\\b.tex...failed\nCreating directory d\\sub\\...\n"
         "Extracting d\\sub\\x...failed\nExtracting d\\sub\\y...failed\nExtracted 4 file(s)\n",
         255,
         "",
         true,
         "out/d/b.tex",
         errLine("d\\b.tex", "the archive cannot be read there") +
             errLine("d\\sub\\x", "the archive cannot be read there") +
             errLine("d\\sub\\y", "the archive cannot be read there")},
        // u and d write beside the archive and put the new one in place
        // only once complete: a full disk, a signal, no temporary file or
        // a failed rename with the copy in place failing too leave the old
        // archive as it was. The kernel's copy of b.tex, which stays where
        // it was, may be refused too.
        {{"u", "made.dat", "d/sub/x"},
         "full * 100",
         "Unable to write made.dat\n",
         255,
         "",
         true,
         "",
         errLine("made.dat", full),
         {"made.dat", madeBytes}},
        {{"u", "made.dat", "d/a.txt"},
         "full * 300000",
         "Writing d\\a.txt...\nUnable to write made.dat\n",
         255,
         "",
         true,
         "",
         errLine("made.dat", full),
         {"made.dat", madeBytes}},
        {{"d", "made.dat", "d/sub/y"},
         "term *",
         "Removing d\\sub\\y...\n",
         128 + 15,
         "",
         true,
         "",
         "",
         {"made.dat", madeBytes}},
        {{"u", "made.dat", "d/sub/x"},
         "deny .made.dat.dattool-*",
         "Unable to make a temporary file beside made.dat\n",
         255,
         "",
         true,
         "",
         errLine("made.dat", "Permission denied"),
         {"made.dat", madeBytes}},
        {{"d", "made.dat", "d/sub/y"},
         "norename made.dat;notruncate made.dat",
         "Removing d\\sub\\y...\nCannot put the new archive in place of made.dat: writing it in place\n"
         "Unable to write made.dat\n",
         255,
         "",
         true,
         "",
         errLine("made.dat", io),
         {"made.dat", madeBytes}},
        {{"d", "made.dat", "d/sub/y"},
         "norename made.dat",
         "Removing d\\sub\\y...\nCannot put the new archive in place of made.dat: writing it in place\n",
         0,
         "",
         true,
         "",
         "",
         {"made.dat", withoutY}},
        {{"u", "made.dat", "d/a.txt"},
         "nocopy made.dat",
         "Writing d\\a.txt...\n",
         0,
         "",
         true,
         "",
         "",
         {"made.dat", madeBytes}},
        // A bad sector in b.tex, the last file left, met by the buffer the
        // refused kernel copy falls back to: nothing is put in place.
        {{"d", "made.dat", "d/sub"},
         "nocopy made.dat;badread made.dat " + std::to_string(buffer + 1000),
         "Removing d\\sub\\...\nUnable to copy from made.dat: the old archive cannot be read there\n",
         255,
         "",
         true,
         "",
         errLine("made.dat", "the old archive cannot be read there"),
         {"made.dat", madeBytes}},
        {{"u", "made.dat", "d/a.txt"},
         "copynone .made.dat.dattool-*",
         "Writing d\\a.txt...\n",
         0,
         "",
         true,
         "",
         "",
         {"made.dat", madeBytes}},
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
        // The archive cannot be read past m.msh's first bytes (a bad
        // sector): x, t and p fail that file by name and go on.
        {{"x", worked},
         "badread worked_example.dat* 80",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...failed\nExtracted 2 file(s)\n",
         255,
         "",
         true,
         "data/m.msh",
         errLine("data\\m.msh", "the archive cannot be read there")},
        {{"t", worked},
         "badread worked_example.dat* 80",
         "Opening " + worked +
             "...ok\nParsing TOC...\nTesting data\\a.txt...ok\nTesting data\\m.msh...failed\n"
             "Tested 2 file(s), 1 problem(s)\n",
         255,
         "",
         true,
         "data/a.txt",
         errLine("data\\m.msh", "the archive cannot be read there")},
        // Within the TOC, the archive is damaged, though its records are
        // read to where they end.
        {{"t", worked},
         "badread worked_example.dat* 30",
         "Opening " + worked + "...ok\nParsing TOC...\nDamaged archive: cannot read the TOC\n",
         255,
         "",
         true,
         "data/a.txt",
         errLine(worked, "Damaged archive: cannot read the TOC")},
        {{"p", worked, "data/*"},
         "badread worked_example.dat* 80",
         "abc",
         255,
         "",
         true,
         "",
         errLine("data\\m.msh", "the archive cannot be read there")},
        {{"x", worked}, "term *", extracting + "Extracting data\\a.txt...", 128 + 15, "data/a.txt"},
        {{"x", worked},
         "term m.msh",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...",
         128 + 15,
         "",
         true,
         "data/m.msh"},
        // A signal that comes while a file is being made finds it already
        // given to the clean-up: no empty file under a real name, no
        // temporary file, and no placeholder for a new archive.
        {{"c", "out.dat", "d"}, "made .out.dat.dattool-* 1", "", 128 + 1, "", true, "out.dat"},
        {{"c", "out.dat", "d"}, "made .out.dat.dattool-* 2", "", 128 + 2, "out.dat"},
        {{"x", worked},
         "made a.txt 15",
         extracting + "Extracting data\\a.txt...",
         128 + 15,
         "",
         true,
         "data/a.txt"},
        {{"x", worked},
         "made .a.txt.dattool-* 1",
         extracting + "Extracting data\\a.txt...",
         128 + 1,
         "data/a.txt"},
        // Between two files: what is complete stays, the rest goes.
        {{"x", worked},
         "closed a.txt 15",
         extracting + "Extracting data\\a.txt...",
         128 + 15,
         "",
         true,
         "data/m.msh",
         "",
         {"data/a.txt", "abc"}},
        {{"c", "out.dat", "d"}, "closed d/a.txt 15", "Writing d\\a.txt...\n", 128 + 15, "out.dat"},
        {{"c", "out.dat", "d"}, "closed d/a.txt 1", "Writing d\\a.txt...\n", 128 + 1, "", true, "out.dat"},
        // A signal ignored from the start, as under nohup, stays ignored.
        {{"c", "out.dat", "d"}, "ignore 1;made .out.dat.dattool-* 1", all, 0, "out.dat", false},
        // Nobody else may read a temporary file while it is written; it
        // gets its final bits once complete: the old archive's, exactly,
        // or those of any new file.
        {{"c", "out.dat", "d"},
         "private .out.dat.dattool-*",
         all,
         0,
         "out.dat",
         false,
         "",
         "",
         {},
         {0640},
         {0640}},
        {{"c", "out.dat", "d"}, "", all, 0, "out.dat", false, "", "", {}, {0754}, {0754}},
        {{"x", worked},
         "private .a.txt.dattool-*",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...ok\nExtracted 2 file(s)\n",
         0,
         "data/a.txt",
         false,
         "",
         "",
         {},
         {0600},
         {0666 & ~mask}},
        // A new archive takes its name only while it is free: one that
        // appears meanwhile stays, whether the system moves the archive
        // there without replacing or, refusing that, links it there; where
        // it refuses both, the archive is copied to a name made for it.
        {{"c", "out.dat", "d"},
         "appear out.dat",
         all + "Unable to write out.dat\n",
         255,
         "",
         true,
         "",
         errLine("out.dat", "File exists"),
         {"out.dat", "appeared"}},
        {{"c", "out.dat", "d"},
         "noflag out.dat;appear out.dat",
         all + "Unable to write out.dat\n",
         255,
         "",
         true,
         "",
         errLine("out.dat", "File exists"),
         {"out.dat", "appeared"}},
        {{"c", "out.dat", "d"}, "noflag out.dat", all, 0, "", false},
        // Written in place for want of a temporary file, a new archive that
        // fails or is stopped by a signal leaves nothing.
        {{"c", "out.dat", "d"},
         "deny " + temp + ";full out.dat 100",
         "Cannot make a temporary file beside out.dat: writing it in place\nWriting d\\a.txt...\n"
         "Unable to write out.dat\n",
         255,
         "",
         true,
         "out.dat",
         noSpace},
        {{"c", "out.dat", "d"},
         "deny " + temp + ";closed d/a.txt 1",
         "Cannot make a temporary file beside out.dat: writing it in place\nWriting d\\a.txt...\n",
         128 + 1,
         "",
         true,
         "out.dat"},
        {{"c", "out.dat", "d"},
         "noflag out.dat;nolink out.dat",
         all + "Cannot put the new archive in place of out.dat: writing it in place\n",
         0,
         "",
         false},
    };
    // Root gives a replaced archive its old owner; whoever may not is told,
    // and the old group's bits go to no other group.
    if (geteuid() == 0) {
        rows.push_back(
            {{"c", "out.dat", "d"}, "", all, 0, "out.dat", false, "", "", {}, {0664, 65534}, {0664, 65534}});
        rows.push_back({{"c", "out.dat", "d"},
                        "nochown *",
                        all,
                        0,
                        "out.dat",
                        false,
                        "",
                        errLine("out.dat", "owner not kept"),
                        {},
                        {0664, 65534},
                        {0604, 0}});
    }
    for (const ToolFault& row : rows) {
        SCOPED_TRACE(row.faults);
        ScratchDir dir;
        fs::create_directories(dir / "d/sub");
        writeBytes(dir / "d/a.txt", std::string(buffer - tocEnd, 'a'));
        writeBytes(dir / "d/b.tex", b);
        writeBytes(dir / "d/sub/x", "x");
        writeBytes(dir / "d/sub/y", "y");
        // An archive of d to extract, made without faults.
        if (std::find(row.args.begin(), row.args.end(), "made.dat") != row.args.end()) {
            ASSERT_EQ(runTool({"c", "made.dat", "d"}, dir.path).status, 0);
        }
        fs::create_directories(dir / "data");
        if (!row.old.empty()) writeBytes(dir / row.old, oldContents);
        if (!row.other.empty()) writeBytes(dir / row.other, oldContents);
        if (row.before.mode) {
            ASSERT_EQ(chmod((dir / row.old).c_str(), row.before.mode), 0);
        }
        if (row.before.owner >= 0) {
            ASSERT_EQ(chown((dir / row.old).c_str(), row.before.owner, row.before.owner), 0);
        }
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
        if (!row.left.first.empty()) {
            EXPECT_EQ(readBytes(dir / row.left.first), row.left.second);
        }
        if (row.after.mode || row.after.owner >= 0) {
            struct stat st {};
            ASSERT_EQ(stat((dir / row.old).c_str(), &st), 0);
            if (row.after.mode) {
                EXPECT_EQ(st.st_mode & 07777, row.after.mode);
            }
            if (row.after.owner >= 0) {
                EXPECT_EQ(st.st_uid, static_cast<uid_t>(row.after.owner));
                EXPECT_EQ(st.st_gid, static_cast<gid_t>(row.after.owner));
            }
        }
        // A replaced or new archive is complete, with nothing of the old one
        // after it.
        if (row.args[0] == "c" && !row.kept) {
            const std::map<std::string, std::string> tree = unpack(readBytes(dir / "out.dat")).tree;
            EXPECT_EQ(tree.count("d/a.txt"), 1u);
            EXPECT_TRUE(tree.count("d/b.tex") && tree.at("d/b.tex") == b);
            EXPECT_EQ(runTool({"l", "out.dat"}, dir.path).status, 0);
        }
        for (const auto& [path, content] : treeOf(dir.path))
            EXPECT_EQ(path.find(".dattool-"), std::string::npos) << path << " left behind";
    }
}

}  // namespace
