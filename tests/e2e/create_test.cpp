// The create command run as a user would, checked through its output, its
// exit status and the archive it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

#include "e2e/harness.h"
#include "support/dat_codec.h"

namespace fs = std::filesystem;

namespace {

TEST(Create, WorkedExampleByteForByte) {
    ScratchDir dir;
    fs::create_directory(dir / "data");
    writeBytes(dir / "data/a.txt", "abc");
    writeBytes(dir / "data/m.msh", "0123456789");
    ToolRun r = runTool({"c", "out.dat", "data"}, dir.path);
    EXPECT_EQ(r.out, "Writing data\\a.txt...\nWriting data\\m.msh...\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // The format's worked example: 88 bytes, m.msh stored plain.
    const std::string expected =
        archiveBytes({dirNode("data", {fileNode("a.txt", "abc"), fileNode("m.msh", "0123456789", 0)})});
    ASSERT_EQ(expected.size(), 88u);
    ASSERT_EQ(expected, readBytes(dataFile("worked_example.dat")));  // as make_samples.py encodes it
    EXPECT_EQ(readBytes(dir / "out.dat"), expected);
}

TEST(Create, EmptyDirectoryIsHeaderAndOneRecord) {
    ScratchDir dir;
    fs::create_directory(dir / "empty");
    ToolRun r = runTool({"c", "out.dat", "empty"}, dir.path);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    const std::string expected = archiveBytes({dirNode("empty")});
    EXPECT_EQ(expected.size(), 5u + 16u + (5u + 16u));
    EXPECT_EQ(readBytes(dir / "out.dat"), expected);
}

TEST(Create, ItemsGoInCaseFoldedNameOrder) {
    ScratchDir dir;
    fs::create_directory(dir / "d");
    // Created in an order unrelated to the expected one.
    std::vector<std::string> created = {"_x", "b", "a.txt", "Z", "B", "a", "[", "A", "a.TXT"};
    std::vector<std::string> order = {"A", "a", "a.TXT", "a.txt", "B", "b", "M", "Z", "[", "_x"};
    // Under a wrapper such as wine, names on disk must be UTF-8 to reach the
    // program, which this byte alone is not.
    if (!runsWrapped()) {
        created.insert(created.begin() + 2, "\xE9");
        order.push_back("\xE9");
    }
    for (const auto& name : created) writeBytes(dir / "d/" + name, name);
    fs::create_directory(dir / "d/M");
    writeBytes(dir / "d/M/inner", "i");
    // Case folds before length and before the bytes between "Z" and "a".
    fs::create_directory(dir / "e");
    for (const char* name : {"za", "Zb", "_", "a", "A.txt", "b", "B1"}) writeBytes(dir / "e/" + name, name);
    ToolRun r = runTool({"c", "out.dat", "d", "e"}, dir.path);
    std::string expected;
    for (const auto& name : order) {
        expected += "Writing d\\" + name + (name == "M" ? "\\inner" : "") + "...\n";
    }
    for (const char* name : {"a", "A.txt", "b", "B1", "za", "Zb", "_"})
        expected += "Writing e\\" + std::string(name) + "...\n";
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0);
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    EXPECT_EQ(u.records[0].count, order.size());
    std::map<std::string, std::string> onDisk;
    for (const char* top : {"d", "e"}) {
        for (const auto& [path, content] : treeOf(dir / top)) onDisk[top + ("/" + path)] = content;
        onDisk[top] = "<dir>";
    }
    EXPECT_EQ(u.tree, onDisk);
}

TEST(Create, ArchiveInsideTheTreeIsLeftOut) {
    ScratchDir dir;
    fs::create_directory(dir / "data");
    writeBytes(dir / "data/a.txt", "abc");
    // An old archive of the same name, longer than the new one, with a
    // second hard name and a link to it: all three are the old archive, and
    // the new one is written beside it under a temporary name, which is left
    // out as well; nothing of the old one is left in it.
    const std::string old(1000, 'o');
    writeBytes(dir / "out.dat", old);
    ASSERT_EQ(chmod((dir / "out.dat").c_str(), 0640), 0);
    ASSERT_EQ(link((dir / "out.dat").c_str(), (dir / "hard.dat").c_str()), 0);
    fs::create_symlink("out.dat", dir / "alias.dat");
    ToolRun r = runTool({"c", "out.dat", "."}, dir.path);
    // The new archive takes the old one's name and permission; the other
    // hard name keeps the old archive, the link stays a link.
    EXPECT_EQ(readBytes(dir / "hard.dat"), old);
    EXPECT_TRUE(isLink(dir / "alias.dat"));
    if (!runsWrapped()) {
        EXPECT_EQ(fs::status(dir / "out.dat").permissions(), fs::perms(0640));
    }
    EXPECT_EQ(treeOf(dir.path).size(), 5u);  // no temporary file left
    EXPECT_EQ(r.out,
              "Skipping .\\alias.dat: it is the archive being written\n"
              "Skipping .\\hard.dat: it is the archive being written\n"
              "Skipping .\\out.dat: it is the archive being written\n"
              "Writing .\\data\\a.txt...\n");
    EXPECT_EQ(r.status, 0);
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    EXPECT_EQ(u.tree, (std::map<std::string, std::string>{
                          {".", "<dir>"}, {"./data", "<dir>"}, {"./data/a.txt", "abc"}}));
    EXPECT_EQ(u.root.count, 1u);
    fs::create_directory(dir / "../fresh");
    r = runTool({"x", "../work/out.dat"}, dir / "../fresh");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(treeOf(dir / "../fresh"),
              (std::map<std::string, std::string>{{"data", "<dir>"}, {"data/a.txt", "abc"}}));
    // Named through the link, the archive is the file the link leads to,
    // replaced beside it; the link stays a link.
    writeBytes(dir / "out.dat", old);
    r = runTool({"c", "alias.dat", "data"}, dir.path);
    EXPECT_EQ(r.out, "Writing data\\a.txt...\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(isLink(dir / "alias.dat"));
    EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree,
              (std::map<std::string, std::string>{{"data", "<dir>"}, {"data/a.txt", "abc"}}));
    EXPECT_EQ(treeOf(dir.path).size(), 5u);
    if (runsWrapped()) return;  // the update runs the Linux build
    // u of a directory that holds the archive leaves out the archive and
    // the temporary file written beside it, as c does.
    ASSERT_EQ(runTool({"c", "-q", "data/in.dat", "data"}, dir.path).status, 0);
    writeBytes(dir / "data/b.txt", "b");
    r = runTool({"u", "data/in.dat", "data"}, dir.path);
    EXPECT_EQ(r.out,
              "Skipping data\\in.dat: it is the archive being written\nWriting data\\a.txt...\n"
              "Writing data\\b.txt...\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        unpack(readBytes(dir / "data/in.dat")).tree,
        (std::map<std::string, std::string>{{"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/b.txt", "b"}}));
    EXPECT_EQ(treeOf(dir / "data").size(), 3u);
}

TEST(Create, SpecialItemsAndLinkLoopsAreSkipped) {
    if (runsWrapped()) GTEST_SKIP() << "FIFOs and symbolic links are POSIX things";
    ScratchDir dir;
    fs::create_directories(dir / "d/sub");
    writeBytes(dir / "d/sub/f", "f");
    ASSERT_EQ(mkfifo((dir / "d/fifo").c_str(), 0600), 0);
    fs::create_symlink(".", dir / "d/self");
    fs::create_symlink("../..", dir / "d/sub/up");  // the scratch directory: not on the scan's path
    fs::create_symlink("..", dir / "d/sub/back");
    ToolRun r = runTool({"c", "../out.dat", "d"}, dir.path);
    EXPECT_EQ(r.out,
              "Skipping d\\fifo: not a regular file or directory\n"
              "Skipping d\\self: link leads back to a directory being scanned\n"
              "Skipping d\\sub\\back: link leads back to a directory being scanned\n"
              "Skipping d\\sub\\up\\d: link leads back to a directory being scanned\n"
              "Writing d\\sub\\f...\n");
    EXPECT_EQ(r.status, 0);
    Unpacked u = unpack(readBytes(dir / "../out.dat"));
    EXPECT_EQ(u.paths, (std::vector<std::string>{"d", "d/sub", "d/sub/f", "d/sub/up"}));
    EXPECT_EQ(u.records[0].count, 1u);
    EXPECT_EQ(u.records[1].count, 2u);
    EXPECT_EQ(u.records[3].count, 0u);
}

TEST(Create, DanglingLinkIsAFailureButTheArchiveIsWhole) {
    if (runsWrapped()) GTEST_SKIP() << "wine does not list dangling symbolic links";
    ScratchDir dir;
    fs::create_directory(dir / "d");
    writeBytes(dir / "d/keep", "kept");
    fs::create_symlink("nowhere", dir / "d/broken");
    ToolRun r = runTool({"c", "out.dat", "d"}, dir.path);
    EXPECT_EQ(r.out, "Skipping d\\broken: link target is missing\nWriting d\\keep...\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errLine("d\\broken", "link target is missing"));
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    EXPECT_EQ(u.tree, (std::map<std::string, std::string>{{"d", "<dir>"}, {"d/keep", "kept"}}));
}

TEST(Create, LinksAreFollowed) {
    ScratchDir dir;
    fs::create_directories(dir / "../elsewhere/inner");
    writeBytes(dir / "../elsewhere/inner/x.txt", "linked dir");
    writeBytes(dir / "../target", "linked file");
    fs::create_directory(dir / "d");
    fs::create_symlink(fs::absolute(dir / "../elsewhere"), dir / "d/ldir");
    fs::create_symlink(fs::absolute(dir / "../target"), dir / "d/lfile");
    ToolRun r = runTool({"c", "out.dat", "d"}, dir.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Writing d\\ldir\\inner\\x.txt...\nWriting d\\lfile...\n");
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    EXPECT_EQ(u.tree["d/ldir/inner/x.txt"], "linked dir");
    EXPECT_EQ(u.tree["d/lfile"], "linked file");
}

TEST(Create, UnstorableNamesAreFailures) {
    ScratchDir dir;
    fs::create_directory(dir / "d");
    // Only POSIX names can hold a backslash; under a wrapper such as wine
    // the program could not even open them.
    const bool backslashes = !runsWrapped();
    if (backslashes) {
        writeBytes(dir / "d/back\\slash", "x");
        fs::create_directory(dir / "d/dir\\too");
    }
    writeBytes(dir / "d/fine", "y");
    // Shapes of short names, which a Windows build would not extract: NTFS
    // makes "~" and a digit, other servers "~" and a letter.
    const bool windows = testingWindowsBuild();
    writeBytes(dir / "d/LONGDI~1", "z");
    writeBytes(dir / "d/LONG~QX2", "q");
    // Names with characters the ANSI code page lacks, which its best fit
    // would turn into another name ("password.txt", ".."): on Windows they
    // are refused as they are listed, each shown with "?" for those
    // characters, and the file of the plain name is stored once.
    const std::string fullWidth = u8"\uFF50\uFF41\uFF53\uFF53\uFF57\uFF4F\uFF52\uFF44.txt";
    const std::string fullStops = u8"\uFF0E\uFF0E";
    writeBytes(dir / "d/password.txt", "plain");
    writeBytes(dir / ("d/" + fullWidth), "full width");
    fs::create_directory(dir / ("d/" + fullStops));
    const std::string lacking = "name has characters the ANSI code page lacks";
    // A top-level name is stored as typed: 259 bytes are taken, 260 are
    // not. Under a wrapper a path of 259 bytes leaves no room for the
    // names below it.
    std::string arg259, arg260;
    while (arg259.size() < 258) arg259 += "./";
    arg259 += "e";
    while (arg260.size() < 256) arg260 += "./";
    arg260 += ".//d";
    ASSERT_EQ(arg259.size(), 259u);
    ASSERT_EQ(arg260.size(), 260u);
    fs::create_directory(dir / "e");
    writeBytes(dir / "e/x", "x");
    std::vector<std::string> args = {"c", "out.dat", arg260, "d"};
    if (!runsWrapped()) args.push_back(arg259);
    ToolRun r = runTool(args, dir.path);
    EXPECT_EQ(r.out,
              "Skipping " + arg260 + ": name is longer than 259 bytes\n" +
                  (backslashes ? "Skipping d\\back\\slash: name contains a backslash\n"
                                 "Skipping d\\dir\\too: name contains a backslash\n"
                               : "") +
                  (windows ? "Skipping d\\??: " + lacking + "\n" + "Skipping d\\????????.txt: " + lacking +
                                 "\n"
                                 "Skipping d\\LONGDI~1: name is reserved on Windows\n"
                                 "Skipping d\\LONG~QX2: name is reserved on Windows\n"
                           : "") +
                  "Writing d\\fine...\n" +
                  (windows ? "Writing d\\password.txt...\n"
                           : "Writing d\\LONGDI~1...\nWriting d\\LONG~QX2...\nWriting d\\password.txt...\n"
                             "Writing d\\" +
                                 fullWidth + "...\n") +
                  (runsWrapped() ? "" : "Writing " + arg259 + "\\x...\n"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errLine(arg260, "name is longer than 259 bytes") +
                         (backslashes ? errLine("d\\back\\slash", "name contains a backslash") +
                                            errLine("d\\dir\\too", "name contains a backslash")
                                      : "") +
                         (windows ? errLine("d\\??", lacking) + errLine("d\\????????.txt", lacking) +
                                        errLine("d\\LONGDI~1", "name is reserved on Windows") +
                                        errLine("d\\LONG~QX2", "name is reserved on Windows")
                                  : ""));
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    std::map<std::string, std::string> stored = {
        {"d", "<dir>"}, {"d/fine", "y"}, {"d/password.txt", "plain"}};
    if (!windows)
        stored.insert({{"d/LONGDI~1", "z"},
                       {"d/LONG~QX2", "q"},
                       {"d/" + fullWidth, "full width"},
                       {"d/" + fullStops, "<dir>"}});
    if (!runsWrapped()) stored.insert({{arg259, "<dir>"}, {arg259 + "/x", "x"}});
    EXPECT_EQ(u.root.count, runsWrapped() ? 1u : 2u);  // d, and arg259 where it was given
    EXPECT_EQ(u.tree, stored);
}

// Every archive c writes extracts into an empty folder: arguments with
// parents, relative or absolute, are extracted with those parents made.
// What extraction would refuse is not stored: an argument that climbs out,
// a directory whose path the reader would join to more than 4095 bytes.
TEST(Create, WhatExtractionRefusesIsNotStored) {
    if (runsWrapped()) GTEST_SKIP() << "the Linux build's path limit";
    ScratchDir dir, fresh;
    fs::create_directories(dir / "src/deep");
    writeBytes(dir / "src/deep/a.txt", "a");
    // "d" and 16 names of 254 bytes make 4081 bytes; 13 more and the
    // separator make 4095: as a file that fits, as a directory its path is
    // joined with a "\\" at the end.
    std::vector<std::string> names = {"d"};
    for (int i = 0; i < 16; ++i) names.push_back(std::string(254, static_cast<char>('a' + i)));
    names.push_back(std::string(13, 'z'));
    std::string path, file;
    int fd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
    for (const std::string& name : names) {
        if (!path.empty()) path += "\\";
        path += name;
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        if (&name == &names.back()) break;
        int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        if (&name == &names[names.size() - 2]) {
            // Beside the last directory, a file of a name as long.
            file = path + "\\" + std::string(12, 'z') + "f";
            close(openat(fd, (std::string(12, 'z') + "f").c_str(), O_WRONLY | O_CREAT, 0644));
        }
    }
    close(fd);
    ASSERT_EQ(path.size(), 4095u);
    ASSERT_EQ(file.size(), 4095u);
    ToolRun r = runTool({"c", "../out.dat", "src/../src", "src/deep", dir / "src", "d"}, dir.path);
    EXPECT_EQ(r.out,
              "Skipping src/../src: path leaves the current directory\n"
              "Skipping " +
                  path +
                  ": path is too long to be extracted\n"
                  "Writing src/deep\\a.txt...\n"
                  "Writing " +
                  dir /
                      "src\\deep\\a.txt...\n"
                      "Writing " +
                  file + "...\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, errLine("src/../src", "path leaves the current directory") +
                         errLine(path, "path is too long to be extracted"));
    ToolRun x = runTool({"x", dir / "../out.dat"}, fresh.path);
    EXPECT_EQ(x.status, 0) << x.out;
    std::map<std::string, std::string> tree = treeOf(fresh.path);
    EXPECT_EQ(tree["src/deep/a.txt"], "a");
    EXPECT_EQ(tree[(dir / "src/deep/a.txt").substr(1)], "a");
    std::string onDisk = file;
    std::replace(onDisk.begin(), onDisk.end(), '\\', '/');
    EXPECT_EQ(tree.count(onDisk), 1u);
}

// Each argument refused on its own fails the run, with nothing else
// failing beside it; with nothing left to store, the old archive stays
// byte for byte.
TEST(Create, EachRefusedArgumentAloneFailsTheRun) {
    struct Case {
        std::string arg;
        std::string reason;
    };
    std::vector<Case> rows = {
        {"d/../d", "path leaves the current directory"},
        {std::string(128, '.') + "/" + std::string(129, '.') + "/d", "name is longer than 259 bytes"}};
    // Only Linux names can hold one; a Windows build reads it as a separator.
    if (!testingWindowsBuild()) rows.push_back({"x\\y", "name contains a backslash"});
    for (const Case& row : rows) {
        SCOPED_TRACE(row.arg);
        ScratchDir dir;
        fs::create_directory(dir / "d");
        writeBytes(dir / "d/a", "a");
        if (!testingWindowsBuild()) {
            fs::create_directory(dir / "x\\y");
            writeBytes(dir / "x\\y/b", "b");
        }
        writeBytes(dir / "out.dat", "old archive");
        ToolRun r = runTool({"c", "out.dat", row.arg}, dir.path);
        EXPECT_EQ(r.out,
                  "Skipping " + row.arg + ": " + row.reason + "\nNothing to store: out.dat not written\n");
        EXPECT_EQ(r.err, errLine(row.arg, row.reason) + errLine("out.dat", "nothing could be read"));
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(readBytes(dir / "out.dat"), "old archive");
    }
}

// Read family: "No files found" names the directory on standard error, with
// the system's reason. A regular file is stored as a file at the top.
TEST(Create, UnlistableArgumentsBecomeEmptyDirectories) {
    ScratchDir dir;
    fs::create_directory(dir / "d");
    writeBytes(dir / "d/a", "a");
    writeBytes(dir / "plain", "not a directory");
    std::vector<std::string> args = {"c", "out.dat", "missing", "d", "plain"};
    std::string out = "No files found\n";
    std::string err = sysLine("missing", "No such file or directory");
    std::vector<std::string> paths = {"missing", "d", "d/a", "plain"};
    if (canRunUnprivileged()) {
        // A directory this user may not list: checked as someone else, since
        // root lists everything.
        fs::create_directory(dir / "closed");
        fs::permissions(dir / "closed", fs::perms::none);
        fs::permissions(dir.path, fs::perms::all);
        fs::permissions(dir / "..", fs::perms::all);
        args.push_back("closed");
        out += "No files found\n";
        err += errLine("closed", "Permission denied");
        paths.push_back("closed");
    }
    ToolRun r = runUnprivileged(args, dir.path);
    // The whole scan comes before any writing.
    EXPECT_EQ(r.out, out + "Writing d\\a...\nWriting plain...\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(errorsMatch(r.err, err)) << r.err;
    Unpacked u = unpack(readBytes(dir / "out.dat"));
    EXPECT_EQ(u.paths, paths);
    EXPECT_EQ(u.tree.at("plain"), "not a directory");
    EXPECT_EQ(u.root.count, paths.size() - 1);
    if (!runsWrapped() && !canRunUnprivileged())
        GTEST_SKIP() << "root under valgrind cannot run the tool as another user: no unlistable directory";
}

// A file whose permission bits keep this user from reading it is skipped
// by the scan, a failure, rather than stored as zeros; one that only root
// or a group may read is checked by the system. Root reads everything.
TEST(Create, UnreadableFilesAreSkippedAtTheScan) {
    if (runsWrapped()) GTEST_SKIP() << "POSIX permission bits";
    if (geteuid() != 0 || !canRunUnprivileged())
        GTEST_SKIP() << "needs root, outside valgrind, to run the tool as another user and as root";
    ScratchDir dir;
    fs::create_directory(dir / "d");
    for (const char* name : {"d/a", "d/mine", "d/open", "d/shut"}) writeBytes(dir / name, name);
    fs::permissions(dir / "d/a", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir / "d/shut", fs::perms::none);
    fs::permissions(dir / "d/open", fs::perms::owner_read | fs::perms::others_read);
    // Owned by the one who runs the tool, readable by its owner alone.
    ASSERT_EQ(chown((dir / "d/mine").c_str(), 65534, 65534), 0);
    fs::permissions(dir / "d/mine", fs::perms::owner_read);
    for (const std::string& d : {dir.path, dir / "d", dir / ".."}) fs::permissions(d, fs::perms::all);
    ToolRun r = runUnprivileged({"c", "out.dat", "d"}, dir.path);
    EXPECT_EQ(r.out,
              "Skipping d\\a: Permission denied\nSkipping d\\shut: Permission denied\n"
              "Writing d\\mine...\nWriting d\\open...\n");
    EXPECT_EQ(r.err, errLine("d\\a", "Permission denied") + errLine("d\\shut", "Permission denied"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(
        unpack(readBytes(dir / "out.dat")).tree,
        (std::map<std::string, std::string>{{"d", "<dir>"}, {"d/mine", "d/mine"}, {"d/open", "d/open"}}));
    // So is one given as an argument.
    r = runUnprivileged({"c", "args.dat", "d/shut", "d/open"}, dir.path);
    EXPECT_EQ(r.out, "Skipping d/shut: Permission denied\nWriting d/open...\n");
    EXPECT_EQ(r.err, errLine("d/shut", "Permission denied"));
    EXPECT_EQ(r.status, 255);
    // As root, nothing is skipped.
    r = runTool({"c", "../root.dat", "d"}, dir.path);
    EXPECT_EQ(r.out, "Writing d\\a...\nWriting d\\mine...\nWriting d\\open...\nWriting d\\shut...\n");
    EXPECT_EQ(r.status, 0);
}

// A sparse file of size bytes, which costs no disk.
void sparse(const std::string& path, uint64_t size) {
    writeBytes(path, "");
    fs::resize_file(path, size);
}

// Writing 4 GiB takes seconds in a plain build, far longer under the
// sanitizers or valgrind.
bool plainBuild() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif __has_include(<valgrind/valgrind.h>)
    return !RUNNING_ON_VALGRIND;
#else
    return true;
#endif
}

// Trees around the 4 GiB limit, on both sides of it.
struct SizeCase {
    std::string what;
    std::function<void(const ScratchDir&)> make;  // fills dir/d
    std::string archive;
    std::string out;
    std::string old = "";  // an archive already there, which must stay
    // Through the fault shim, when set: the old archive is then written in
    // place, and still stays when refused.
    std::string faults = "";
    // The run, when not c of d: u puts d's file into the old archive.
    std::vector<std::string> args = {};
};

TEST(Create, ArchivesOf4GiBOrMoreAreRemovedBeforeAnyData) {
    const std::string refused = "Archive would be too large: 4 GiB or more\n";
    // Magic, root, "d" and "f.tex" take 5 + 16 + 17 + 17 bytes.
    const uint64_t fourGiB = 0x100000000ull, records = 55;
    std::vector<SizeCase> rows = {
        {"one file of 4 GiB, whose low 32 bits are 0",
         [](const ScratchDir& dir) {
             writeBytes(dir / "d/small", "s");
             sparse(dir / "d/huge", 0x100000000ull);
         },
         "out.dat", refused},
        {"files that only add up past the limit",
         [](const ScratchDir& dir) {
             for (int i = 0; i < 3; ++i) sparse(dir / ("d/part" + std::to_string(i)), 0x60000000ull);
         },
         "out.dat", refused},
        {"the same over an old archive",
         [](const ScratchDir& dir) {
             for (int i = 0; i < 3; ++i) sparse(dir / ("d/part" + std::to_string(i)), 0x60000000ull);
         },
         "out.dat", refused, "old archive"},
        {"an archive of exactly 4 GiB",
         [&](const ScratchDir& dir) { sparse(dir / "d/f.tex", fourGiB - records); }, "out.dat", refused},
        {"the same by an update",
         [&](const ScratchDir& dir) { sparse(dir / "d/f.tex", fourGiB - records); },
         "out.dat",
         refused,
         archiveBytes({dirNode("d")}),
         "",
         {"u", "out.dat", "d/f.tex"}},
    };
    if (!runsWrapped()) {
        // The scan counts the records as well as the data: here they take
        // the archive past the limit, and the scan stops before the FIFO.
        rows.push_back({"records that take the data past the limit",
                        [&](const ScratchDir& dir) {
                            sparse(dir / "d/a", fourGiB - 40);
                            ASSERT_EQ(mkfifo((dir / "d/b").c_str(), 0600), 0);
                        },
                        "out.dat", refused});
        // Two links to the next level in each of 40: 2^40 paths to the
        // file at the bottom. The scan must stop at the limit, not walk
        // them all.
        rows.push_back({"a tree that fans out through links",
                        [](const ScratchDir& dir) {
                            for (int i = 40; i > 0; --i) {
                                const std::string level = dir / ("l" + std::to_string(i));
                                fs::create_directory(level);
                                if (i == 40) sparse(level + "/big", 0xC0000000ull);
                                if (i < 40) {
                                    fs::create_symlink("../l" + std::to_string(i + 1), level + "/a");
                                    fs::create_symlink("../l" + std::to_string(i + 1), level + "/b");
                                }
                            }
                            fs::create_symlink("../l1", dir / "d/a");
                            fs::create_symlink("../l1", dir / "d/b");
                        },
                        "out.dat", refused});
        rows.push_back({"an old archive written in place for want of a temporary file",
                        [](const ScratchDir& dir) {
                            for (int i = 0; i < 3; ++i)
                                sparse(dir / ("d/part" + std::to_string(i)), 0x60000000ull);
                        },
                        "out.dat",
                        "Cannot make a temporary file beside out.dat: writing it in place\n" + refused,
                        "old archive", "deny .out.dat.dattool-*"});
    }
    if (!runsWrapped() && plainBuild()) {
        // Exactly at the limit nothing stops: the scan still reaches the
        // FIFO after the file that fills the archive.
        rows.push_back({"an archive of 4 GiB - 1, written",
                        [&](const ScratchDir& dir) {
                            sparse(dir / "d/f.tex", fourGiB - 1 - records);
                            ASSERT_EQ(mkfifo((dir / "d/z").c_str(), 0600), 0);
                        },
                        "/dev/null",
                        "Skipping d\\z: not a regular file or directory\nWriting d\\f.tex...\n"});
    }
    for (const SizeCase& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchDir dir;
        fs::create_directory(dir / "d");
        row.make(dir);
        if (!row.old.empty()) writeBytes(dir / "out.dat", row.old);
        // A scan that never ends is killed by the harness and fails the
        // test; only the one archive written takes long.
        const bool refusal = row.out.find(refused) != std::string::npos;
        const std::vector<std::string> args =
            row.args.empty() ? std::vector<std::string>{"c", row.archive, "d"} : row.args;
        ToolRun r = !row.faults.empty() ? runWithFaults(args, dir.path, row.faults)
                    : refusal           ? runTool(args, dir.path)
                                        : runSlowTool(args, dir.path);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, refusal ? 255 : 0);
        EXPECT_EQ(r.err, refusal ? errLine(row.archive, refused.substr(0, refused.size() - 1)) : "");
        // An old archive, even one written in place, is emptied only once
        // the new one is known to fit: refused, it stays as it was.
        if (row.old.empty()) {
            EXPECT_FALSE(exists(dir / "out.dat"));
        } else {
            EXPECT_EQ(readBytes(dir / "out.dat"), row.old);
        }
        for (const auto& item : fs::directory_iterator(dir.path))
            EXPECT_EQ(item.path().filename().string().find(".dattool-"), std::string::npos);
    }
}

// An archive refused for its size is removed only when it is a file: a
// link stays a link and what it leads to stays as it was, a device or a
// FIFO stays.
TEST(Create, RefusedArchiveThatIsNoFileStays) {
    if (runsWrapped()) GTEST_SKIP() << "links, devices and FIFOs of Linux";
    struct Case {
        std::string archive;
        mode_t kind;  // of what stands at archive afterwards, not following links
    };
    ScratchDir dir;
    fs::create_directory(dir / "d");
    sparse(dir / "d/huge", 0x100000000ull);
    writeBytes(dir / "target", "target");
    fs::create_symlink("target", dir / "link.dat");
    fs::create_directory(dir / "out");
    fs::create_symlink("out/t.dat", dir / "dangling.dat");
    ASSERT_EQ(mkfifo((dir / "fifo.dat").c_str(), 0600), 0);
    // A reader, so that the tool's open for writing does not wait for one.
    const int reader = open((dir / "fifo.dat").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::vector<Case> rows = {{"link.dat", S_IFLNK}, {"dangling.dat", S_IFLNK}, {"fifo.dat", S_IFIFO}};
    // The null device's numbers, made here: the machine's own is never used.
    if (mknod((dir / "dev.dat").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        rows.push_back({"dev.dat", S_IFCHR});
    for (const Case& row : rows) {
        SCOPED_TRACE(row.archive);
        ToolRun r = runTool({"c", row.archive, "d"}, dir.path);
        EXPECT_EQ(r.out, "Archive would be too large: 4 GiB or more\n");
        EXPECT_EQ(r.err, errLine(row.archive, "Archive would be too large: 4 GiB or more"));
        EXPECT_EQ(r.status, 255);
        struct stat st {};
        ASSERT_EQ(lstat((dir / row.archive).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, row.kind);
    }
    close(reader);
    // The new archive was to be written beside the target and renamed over
    // it: refused, it never was, and the target holds what it held. A link
    // that led nowhere still does.
    EXPECT_EQ(readBytes(dir / "target"), "target");
    EXPECT_FALSE(exists(dir / "out/t.dat"));
    // Once the archive fits, it goes where the link leads; the link stays.
    fs::remove(dir / "d/huge");
    writeBytes(dir / "d/small", "s");
    ToolRun r = runTool({"c", "dangling.dat", "d"}, dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(isLink(dir / "dangling.dat"));
    EXPECT_EQ(unpack(readBytes(dir / "out/t.dat")).tree,
              (std::map<std::string, std::string>{{"d", "<dir>"}, {"d/small", "s"}}));
}

TEST(Create, WriteErrorOnTheArchiveIsReported) {
    ScratchDir dir;
    fs::create_directory(dir / "d");
    writeBytes(dir / "d/a", "abc");
    ToolRun r = runTool({"c", "/dev/full", "d"}, dir.path);
    // Archive bytes go out a buffer at a time, so the error shows once the
    // small archive's only buffer is written, after its file was read.
    EXPECT_EQ(r.out, "Writing d\\a...\nUnable to write /dev/full\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_TRUE(errorsMatch(r.err, sysLine("/dev/full", "No space left on device"))) << r.err;
}

}  // namespace
