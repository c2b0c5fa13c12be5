// Trees packed by the create command come back unchanged, read by the
// tests' own decoder (support/dat_codec.h) and by the extract command.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string_view>

#include "dat/archive.hpp"
#include "dat/dat.h"
#include "e2e/harness.h"
#include "support/dat_codec.h"

namespace fs = std::filesystem;

namespace {

// Plain, plain, scrambled, plain: names that differ only in case, or apart
// under a wrapper, where case does not tell names apart.
std::vector<std::pair<std::string, std::string>> texFiles() {
    if (runsWrapped())
        return {{"a.tex", "stored plain"},
                {"b.TEX", "also plain"},
                {"c.Tex", "scrambled"},
                {"D.MSH", "plain too"}};
    return {
        {"a.tex", "stored plain"}, {"a.TEX", "also plain"}, {"a.Tex", "scrambled"}, {"A.MSH", "plain too"}};
}

// A Windows build under a wrapper sees names as Windows does: without the
// bytes Windows refuses, without case, and through UTF-8 on the POSIX side.
bool windowsNameByte(int b) {
    bool refused = std::string_view("\"*:<>?|").find(static_cast<char>(b)) != std::string_view::npos;
    return b >= 0x20 && b < 0x7F && !refused && !(b >= 'A' && b <= 'Z');
}

// Every byte a name may hold here but "/" and "\\", in single-byte names
// and in longer ones; empty files and directories; names that differ only
// in case or in the case of a plain-stored ending; a 2 MiB file. Under a
// wrapper only the bytes and names Windows can hold.
void makeTree(const std::string& top, bool reversed) {
    const bool windows = runsWrapped();
    std::vector<std::pair<std::string, std::string>> files;
    std::string all;
    for (int b = 1; b < 256; ++b) {
        if (b == '/' || b == '\\' || (windows && !windowsNameByte(b))) continue;
        all += static_cast<char>(b);
        if (b != '.' && !(windows && b == ' '))  // Windows drops a name's trailing dots and spaces
            files.emplace_back("bytes/" + std::string(1, static_cast<char>(b)), std::string(b % 7, char(b)));
    }
    for (size_t i = 0; i < all.size(); i += 100)
        files.emplace_back("mixed/" + all.substr(i, 100), all.substr(i));
    for (const auto& [name, content] : texFiles()) files.emplace_back("tex/" + name, content);
    files.emplace_back("empty/file", "");
    files.emplace_back("deep/er/still/leaf.txt", "leaf");
    std::string big(2 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 11));
    files.emplace_back("deep/big.bin", big);
    if (reversed) std::reverse(files.begin(), files.end());
    fs::create_directories(top + "/empty/dir/inside");
    fs::create_directories(top + "/deep/er/still");
    for (const char* d : {"bytes", "mixed", "tex"}) fs::create_directories(fs::path(top) / d);
    for (const auto& [rel, content] : files) writeBytes((fs::path(top) / rel).string(), content);
}

std::map<std::string, std::string> prefixed(const std::string& prefix, const std::string& dir) {
    std::map<std::string, std::string> tree = {{prefix, "<dir>"}};
    for (const auto& [path, content] : treeOf(dir)) tree[(fs::path(prefix) / path).string()] = content;
    return tree;
}

TEST(RoundTrip, ArchiveHoldsTheTreeExactlyAndExtractsToIt) {
    ScratchDir dir;
    makeTree(dir / "one", false);
    fs::create_directories(dir / "two/x");
    writeBytes(dir / "two/x/y.msh", "mesh");
    ToolRun r = runTool({"c", "../out.dat", "one", "two"}, dir.path);
    EXPECT_EQ(r.status, 0);
    Unpacked u = unpack(readBytes(dir / "../out.dat"));
    std::map<std::string, std::string> expected = prefixed("one", dir / "one");
    expected.merge(prefixed("two", dir / "two"));
    EXPECT_TRUE(u.tree == expected);
    EXPECT_EQ(u.root.count, 2u);
    for (size_t i = 0; i < u.records.size(); ++i) {
        const std::string& p = u.paths[i];
        if (u.records[i].type != dat::fileType) continue;
        bool plain = p == "one/tex/" + texFiles()[0].first || p == "one/tex/" + texFiles()[1].first ||
                     p == "one/tex/" + texFiles()[3].first || p == "two/x/y.msh";
        EXPECT_EQ(u.records[i].scrambled, plain ? 0 : 1) << p;
    }

    fs::create_directory(dir / "../fresh");
    r = runTool({"x", "../out.dat"}, dir / "../fresh");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(treeOf(dir / "../fresh") == treeOf(dir.path));
}

TEST(RoundTrip, SameTreeGivesIdenticalArchives) {
    // Built twice in opposite orders, so the order the system lists them in
    // differs while the trees are the same.
    ScratchDir a, b;
    makeTree(a / "t", false);
    makeTree(b / "t", true);
    ASSERT_TRUE(treeOf(a.path) == treeOf(b.path));
    ToolRun ra = runTool({"c", "../out.dat", "t"}, a.path);
    ToolRun rb = runTool({"c", "../out.dat", "t"}, b.path);
    EXPECT_EQ(ra.status, 0);
    EXPECT_EQ(ra.out, rb.out);
    std::string first = readBytes(a / "../out.dat");
    EXPECT_GT(first.size(), 2u * 1024 * 1024);
    EXPECT_TRUE(first == readBytes(b / "../out.dat"));
    // And again over the existing archive.
    runTool({"c", "../out.dat", "t"}, a.path);
    EXPECT_TRUE(first == readBytes(a / "../out.dat"));
#ifndef _WIN32
    // The library's writer writes the same bytes, however the tree is
    // handed to it (the wrapped Windows build's archive aside, which the
    // library here does not make).
    if (runsWrapped()) return;
    const std::string top = a / "t";
    struct Build {
        const char* how;
        std::function<dat::Status(dat::Writer&)> add;
    };
    const Build builds[] = {
        {"a tree under a name of its own", [&](dat::Writer& w) { return w.addTree("t", top); }},
        {"a tree under a verbatim name", [&](dat::Writer& w) { return w.addTree("t", top, dat::verbatim); }},
        {"entry by entry, files from disk and from memory, deepest first",
         [&](dat::Writer& w) {
             std::vector<fs::path> items;
             for (const auto& item : fs::recursive_directory_iterator(top)) items.push_back(item.path());
             std::sort(items.rbegin(), items.rend());
             dat::Status worst = dat::Status::ok;
             for (size_t i = 0; i < items.size(); ++i) {
                 const std::string in = "t/" + items[i].lexically_relative(top).string();
                 const std::string bytes = fs::is_directory(items[i]) ? "" : readBytes(items[i].string());
                 const dat::Status s = fs::is_directory(items[i]) ? w.addDirectory(in)
                                       : i % 2                    ? w.addFile(in, items[i].string())
                                               : w.addBytes(in, bytes.data(), bytes.size());
                 if (s != dat::Status::ok) worst = s;
             }
             return worst;
         }},
        {"a tree, then one of its files from memory into a directory it scanned",
         [&](dat::Writer& w) {
             const std::string rel = "t/tex/" + texFiles()[0].first;
             const std::string bytes = readBytes(b / rel);
             fs::remove(b / rel);
             const dat::Status tree = w.addTree("t", b / "t");
             writeBytes(b / rel, bytes);
             const dat::Status more = w.addBytes(rel, bytes.data(), bytes.size());
             return tree != dat::Status::ok ? tree : more;
         }},
    };
    for (const Build& b : builds) {
        const std::string made = a / "../made.dat";
        dat::Writer w(made);
        EXPECT_EQ(b.add(w), dat::Status::ok) << b.how << ": " << w.error();
        EXPECT_EQ(w.finish(), dat::Status::ok) << b.how << ": " << w.error();
        EXPECT_TRUE(readBytes(made) == first) << b.how;
        fs::remove(made);
    }
#endif
}

}  // namespace

namespace {

// A change of the tree on disk, the runs of u and d that make the same
// change in the archive, and the directories c is given for the changed
// tree. The runs must make, byte for byte, the archive c makes of it.
struct Change {
    std::string what;
    std::function<void(const fs::path&)> change;
    std::vector<std::vector<std::string>> runs;
    std::vector<std::string> tops = {"t"};
    std::string out = {};  // of the last run; "-": not checked
};

// The runs of u and d made through the library's writer over the archive
// at path, each path on disk below top added under its own path (a
// top-level directory under its name as typed, as u stores it), each
// member removed; the first status that is not ok.
int updateThroughLibrary(const std::string& path, const fs::path& top,
                         const std::vector<std::vector<std::string>>& runs) {
    for (const std::vector<std::string>& run : runs) {
        dat_writer* w = dat_update(path.c_str());
        int status = dat_writer_status(w);
        // The paths or members follow the archive, after -q if given.
        for (size_t k = run[1] == "-q" ? 3 : 2; k < run.size() && status == DAT_OK; ++k) {
            const std::string& arg = run[k];
            const std::string disk = (top / arg).string();
            const int flags = arg.find('/') == std::string::npos ? DAT_VERBATIM : 0;
            status = run[0] == "d"            ? dat_remove(w, arg.c_str())
                     : fs::is_directory(disk) ? dat_add_tree(w, arg.c_str(), disk.c_str(), flags)
                                              : dat_add_file(w, arg.c_str(), disk.c_str(), flags);
        }
        if (status == DAT_OK) status = dat_finish(w);
        dat_writer_free(w);
        if (status != DAT_OK) return status;
    }
    return DAT_OK;
}

// n bytes that differ from their neighbours.
std::string varied(size_t n, int seed) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i * 7 + seed + (i >> 10));
    return bytes;
}

}  // namespace

TEST(RoundTrip, UpdateAndDeleteWriteWhatCreateWritesOfTheChangedTree) {
    if (runsWrapped()) GTEST_SKIP() << "the update runs the Linux build";
    const auto put = [](const std::string& rel, std::string content) {
        return [rel, content](const fs::path& top) {
            fs::create_directories((top / rel).parent_path());
            writeBytes((top / rel).string(), content);
        };
    };
    const auto gone = [](const std::string& rel) {
        return [rel](const fs::path& top) { fs::remove_all(top / rel); };
    };
    // A record of 256 bytes: a file named so moves all after it by 256.
    const std::string name256 = std::string(244 - 4, 'n') + ".txt";
    // 18 bytes of record and 4078 of data move all after it by 4096.
    const std::string page = "t/0.bin";
    const std::vector<Change> rows = {
        // Same size: nothing moves.
        {"same size",
         put("t/a.txt", varied(1000, 9)),
         {{"u", "a.dat", "t/a.txt"}},
         {"t"},
         "Writing t\\a.txt...\n"},
        // Another size: the scrambled files after it move by 5, keyed
        // again; the plain ones are copied as stored.
        {"longer", put("t/a.txt", varied(1005, 9)), {{"u", "a.dat", "t/a.txt"}}},
        {"shorter", put("t/sub/y.dat", "y"), {{"u", "a.dat", "t/sub/y.dat"}}},
        // Added: a record comes in before every file's bytes.
        {"added", put("t/b.txt", "bee"), {{"u", "a.dat", "t/b.txt"}}, {"t"}, "Writing t\\b.txt...\n"},
        {"by 256", put("t/" + name256, ""), {{"u", "a.dat", "t/" + name256}}},
        {"by 4096", put(page, varied(4078, 3)), {{"u", "a.dat", page}}},
        // b.tex stays, copied by the kernel; c.bin after it moves by 224.
        {"kernel copy, then a move", put("t/bb.dat", std::string(229, 'q')), {{"u", "a.dat", "t/bb.dat"}}},
        {"new path", put("t/new/deep/f.txt", "f"), {{"u", "a.dat", "t/new/deep/f.txt"}}},
        {"new directory", put("t/sub/more/m.tex", "m"), {{"u", "-q", "a.dat", "t/sub/more"}}, {"t"}, ""},
        {"subtree",
         [](const fs::path& top) {
             fs::remove_all(top / "t/sub");
             fs::create_directories(top / "t/sub/z");
             writeBytes((top / "t/sub/z/z.txt").string(), "zz");
         },
         {{"u", "a.dat", "t/sub"}}},
        {"whole tree", put("t/c.bin", varied(300001, 4)), {{"u", "a.dat", "t"}}, {"t"}, "-"},
        // A new top-level directory comes after the others, as the last
        // argument of c.
        {"new top", put("v/v.txt", "v"), {{"u", "a.dat", "v"}}, {"t", "v"}},
        {"a file where a directory was",
         [](const fs::path& top) {
             fs::remove_all(top / "t/sub");
             writeBytes((top / "t/sub").string(), "now a file");
         },
         {{"u", "a.dat", "t/sub"}}},
        // Removed: a file, a directory with all below it, by pattern, and
        // several; the files after them move back.
        {"file", gone("t/a.txt"), {{"d", "a.dat", "t/a.txt"}}, {"t"}, "Removing t\\a.txt...\n"},
        {"directory", gone("t/sub"), {{"d", "a.dat", "t\\sub"}}, {"t"}, "Removing t\\sub\\...\n"},
        {"pattern",
         [](const fs::path& top) {
             fs::remove(top / "t/a.txt");
             fs::remove(top / "t/bb.dat");
             fs::remove(top / "t/sub/y.dat");
         },
         {{"d", "a.dat", "*.dat", "t/a.*"}}},
        {"everything", gone("t"), {{"d", "-q", "a.dat", "t"}}, {}, ""},
        // Both in turn, and back to where it began.
        {"removed and added again",
         [](const fs::path&) {},
         {{"d", "a.dat", "t/b.tex"}, {"u", "a.dat", "t/b.tex"}}},
        {"-C", put("t/b.txt", "bee"), {{"u", "a.dat", "-C", "..", "src/t/b.txt"}}, {"t"}, "-"},
    };
    for (const Change& row : rows) {
        SCOPED_TRACE(row.what);
        ScratchDir dir;
        const fs::path top = dir / "src";
        put("t/a.txt", varied(1000, 1))(top);
        put("t/b.tex", varied(300000, 2))(top);
        put("t/bb.dat", "12345")(top);
        put("t/c.bin", varied(300000, 3))(top);
        put("t/sub/x.msh", "mesh")(top);
        put("t/sub/y.dat", "why")(top);
        std::vector<std::string> args = {"c", "../a.dat", "t"};
        ASSERT_EQ(runTool(args, top.string()).status, 0);
        const std::string before = readBytes(dir / "a.dat");
        row.change(top);
        ToolRun r;
        for (std::vector<std::string> run : row.runs) {
            run[run[1] == "-q" ? 2 : 1] = "../a.dat";
            r = runTool(run, top.string());
            EXPECT_EQ(r.status, 0) << r.out << r.err;
            EXPECT_EQ(r.err, "");
        }
        if (row.what == "-C") {
            // The path is stored as the path below -C: here src/t/b.txt.
            EXPECT_EQ(unpack(readBytes(dir / "a.dat")).tree.count("src/t/b.txt"), 1u);
            continue;
        }
        if (row.out != "-") {
            EXPECT_EQ(r.out, row.out.empty() && row.runs.back()[1] != "-q" ? r.out : row.out);
        }
        // c takes a directory at least: the archive of nothing is the
        // header alone.
        args = {"c", "../want.dat"};
        args.insert(args.end(), row.tops.begin(), row.tops.end());
        if (!row.tops.empty()) runTool(args, top.string());
        const std::string want = row.tops.empty() ? archiveBytes({}) : readBytes(dir / "want.dat");
        const std::string got = readBytes(dir / "a.dat");
        EXPECT_EQ(got.size(), want.size());
        EXPECT_TRUE(got == want);
        // The same changes through the library's writer: the same bytes.
        writeBytes(dir / "lib.dat", before);
        EXPECT_EQ(updateThroughLibrary(dir / "lib.dat", top, row.runs), DAT_OK);
        EXPECT_TRUE(readBytes(dir / "lib.dat") == want);
        fs::remove(dir / "lib.dat");
        for (const auto& [path, content] : treeOf(dir.path))
            EXPECT_EQ(path.find(".dattool-"), std::string::npos) << path << " left behind";
    }
}
