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
};

TEST(CreationFaults, EachChangedSourceIsStoredAtItsScannedSizeAndCounted) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    const std::string unopened = "Unable to open d\\a.txt: stored 4 zero bytes in its place\n";
    const std::vector<SourceFault> rows = {
        {"a.txt", "aaaa", "remove d/a.txt", unopened, z4},
        {"a.txt", "aaaa", "deny d/a.txt", unopened, z4},
        {"sub/a.txt", "aaaa", "remove d/sub/a.txt;rmdir d/sub",
         "Unable to open d\\sub\\a.txt: stored 4 zero bytes in its place\n", z4},
        {"a.tex", "cccccccc", "shrink d/a.tex 3", "d\\a.tex shrank: 5 missing bytes stored as zeros\n",
         "ccc" + std::string(5, '\0')},
        // Only regular files are read: a FIFO would block, a device never end.
        {"a.txt", "aaaa", "fifo d/a.txt", unopened, z4},
        {"a.txt", "aaaa", "dir d/a.txt", unopened, z4},
        {"a.msh", "aaaa", "link d/a.msh /dev/urandom",
         "Unable to open d\\a.msh: stored 4 zero bytes in its place\n", z4},
        {"a.txt", "aaaa", "grow d/a.txt 5", "d\\a.txt grew: only its first 4 bytes stored\n", "aaaa"},
        {"a.txt", "", "grow d/a.txt 3", "d\\a.txt grew: only its first 0 bytes stored\n", ""},
        // Another file in its place, as an editor saves one, is no fault.
        {"a.txt", "aaaa", "link d/a.txt ../../new.txt", "", "AAAA"},
        {"a.txt", "aaaa", "", "", "aaaa"},
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
        EXPECT_EQ(r.err, "");
        std::map<std::string, std::string> expected = {
            {"d", "<dir>"}, {"d/" + row.name, row.stored}, {"d/z.txt", "intact"}};
        if (row.name.find('/') != std::string::npos) expected["d/sub"] = "<dir>";
        EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree, expected);
        EXPECT_EQ(extracted(dir), expected);
    }
}

// A write, a close or a listing that fails, one per run: each is counted.
struct ToolFault {
    std::vector<std::string> args;
    std::string faults;
    std::string out;
};

TEST(Faults, EachFailedWriteCloseOrListingIsCounted) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    // Magic, root, d, a.txt, b.tex, sub, x and y end at 117; a.txt fills
    // the first output buffer exactly, so b.tex, plain and larger than a
    // buffer, goes out in one write of its own.
    const size_t tocEnd = 5 + 16 + 17 + 17 + 17 + 19 + 13 + 13;
    const size_t buffer = 256 * 1024;  // the tool's output buffer
    const std::string all =
        "Writing d\\a.txt...\nWriting d\\b.tex...\nWriting d\\sub\\x...\nWriting d\\sub\\y...\n";
    const std::string worked = dataFile("worked_example.dat");
    const std::string extracting =
        "Opening " + worked + "...ok\nParsing TOC...\nExtracting...\nCreating directory data\\...\n";
    const std::vector<ToolFault> rows = {
        // The archive: a buffer, the large plain block, the last buffer, the close.
        {{"c", "out.dat", "d"}, "full out.dat 100", "Writing d\\a.txt...\nUnable to write out.dat\n"},
        {{"c", "out.dat", "d"},
         "full out.dat 300000",
         "Writing d\\a.txt...\nWriting d\\b.tex...\nUnable to write out.dat\n"},
        {{"c", "out.dat", "d"},
         "full out.dat " + std::to_string(2 * buffer + 12),
         all + "Unable to write out.dat\n"},
        {{"c", "out.dat", "d"}, "failclose out.dat", all + "Unable to write out.dat\n"},
        // An item that cannot be examined, alone in the run.
        {{"c", "out.dat", "d"},
         "nostat sub",
         "Skipping d\\sub: cannot be examined\nWriting d\\a.txt...\nWriting d\\b.tex...\n"},
        // A listing that fails midway is stored empty, not as part of itself.
        {{"c", "out.dat", "d"},
         "badlist d/sub",
         "No files found\nWriting d\\a.txt...\nWriting d\\b.tex...\n"},
        // An extracted file: a short write, a failed close.
        {{"x", worked},
         "full a.txt 1",
         extracting + "Extracting data\\a.txt...failed\nExtracting data\\m.msh...ok\nExtracted 2 file(s)\n"},
        {{"x", worked},
         "failclose m.msh",
         extracting + "Extracting data\\a.txt...ok\nExtracting data\\m.msh...failed\nExtracted 2 file(s)\n"},
    };
    for (const ToolFault& row : rows) {
        SCOPED_TRACE(row.faults);
        ScratchDir dir;
        fs::create_directories(dir / "d/sub");
        writeBytes(dir / "d/a.txt", std::string(buffer - tocEnd, 'a'));
        writeBytes(dir / "d/b.tex", std::string(300000, 'b'));
        writeBytes(dir / "d/sub/x", "x");
        writeBytes(dir / "d/sub/y", "y");
        ToolRun r = runWithFaults(row.args, dir.path, row.faults);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
}

}  // namespace
