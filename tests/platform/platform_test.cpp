// What every backend of the platform layer must do. The same tests run on
// Linux in the main test binary and, cross-built, against the Windows backend
// (tests/platform/CMakeLists.txt). Paths go to the layer in the program's own
// form, with "\\" between names.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A fresh directory below the system's temporary directory, removed with
// everything in it at the end of the test.
struct TempDir {
    fs::path where;
    TempDir() {
        std::random_device rd;
        for (;;) {
            where = fs::temp_directory_path() / ("dattool-platform-" + std::to_string(rd()));
            if (fs::create_directory(where)) break;
        }
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(where, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The path of name inside, as the program writes paths.
    std::string operator/(const std::string& name) const { return where.string() + "\\" + name; }
    fs::path disk(const std::string& name) const { return where / name; }
};

void put(const fs::path& p, const std::string& bytes) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << bytes;
}

std::string get(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string readAll(File& f, size_t n) {
    std::string s(n, '\0');
    s.resize(fileRead(f, s.data(), n));
    return s;
}

TEST(Platform, WriteSeekReadAndLength) {
    TempDir dir;
    {
        File f = fileOpenWrite(dir / "a.bin");
        ASSERT_TRUE(f);
        EXPECT_EQ(fileWrite(f, "hello world", 11), 11u);
        EXPECT_EQ(filePosition(f), 11u);
        EXPECT_EQ(fileLength(f), 11u);
        EXPECT_TRUE(fileClose(f));
        EXPECT_FALSE(f);
    }
    File f = fileOpenRead(dir / "a.bin");
    ASSERT_TRUE(f);
    EXPECT_EQ(fileLength(f), 11u);
    ASSERT_TRUE(fileSeek(f, 6));
    EXPECT_EQ(filePosition(f), 6u);
    EXPECT_EQ(readAll(f, 5), "world");
    // At the end a read comes back short and the position stays true.
    EXPECT_EQ(readAll(f, 4), "");
    EXPECT_EQ(filePosition(f), 11u);
    ASSERT_TRUE(fileSeek(f, 0));
    EXPECT_EQ(readAll(f, 100), "hello world");
    EXPECT_EQ(filePosition(f), 11u);

    // Two readers at once, while creating anew truncates.
    File g = fileOpenRead(dir / "a.bin");
    EXPECT_TRUE(g);
    fileClose(f);
    fileClose(g);
    // Opening to write keeps the contents until they are cut; a missing
    // file is created.
    File w = fileOpenWrite(dir / "a.bin");
    ASSERT_TRUE(w);
    EXPECT_EQ(fileLength(w), 11u);
    EXPECT_TRUE(fileTruncate(w));
    EXPECT_EQ(fileLength(w), 0u);
    fileClose(w);
    File n = fileOpenWrite(dir / "new.bin");
    EXPECT_TRUE(n);
    EXPECT_EQ(pathKind(dir / "new.bin"), PathKind::file);
    fileClose(n);
    put(dir.disk("a.bin"), "again");
    File h = fileOpenWrite(dir / "a.bin");
    ASSERT_TRUE(h);
    EXPECT_TRUE(fileTruncate(h));
    EXPECT_EQ(fileLength(h), 0u);
}

TEST(Platform, LargeBlocksMoveWhole) {
    TempDir dir;
    std::string data(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 gen(7);
    std::generate(data.begin(), data.end(), [&] { return static_cast<char>(gen()); });
    File f = fileOpenWrite(dir / "big");
    ASSERT_EQ(fileWrite(f, data.data(), data.size()), data.size());
    fileClose(f);
    File r = fileOpenRead(dir / "big");
    EXPECT_EQ(readAll(r, data.size()), data);
}

TEST(Platform, MissingOrUnopenablePaths) {
    TempDir dir;
    EXPECT_FALSE(fileOpenRead(dir / "missing"));
    EXPECT_FALSE(fileOpenWrite(dir / "no\\such\\dir\\a"));
    EXPECT_FALSE(dirAt(dir / "no\\such\\dir"));
    Dir here = dirAt(dir.where.string());
    ASSERT_TRUE(here);
    ASSERT_TRUE(dirMake(here, "d"));
    EXPECT_FALSE(fileOpenWrite(dir / "d"));
    bool taken = false;
    EXPECT_FALSE(fileCreateIn(here, "d", taken));
    EXPECT_TRUE(taken);
    EXPECT_TRUE(isDirectoryIn(here, "d"));
    EXPECT_TRUE(fs::is_directory(dir.disk("d")));
    EXPECT_FALSE(removeFile(dir / "missing"));
}

TEST(Platform, ReplaceLeavesOtherNamesOfTheFileAlone) {
    TempDir dir;
    put(dir.disk("a"), "old contents");
    fs::create_hard_link(dir.disk("a"), dir.disk("b"));
    Dir here = dirAt(dir.where.string());
    bool taken = false;
    EXPECT_FALSE(fileCreateIn(here, "a", taken));
    EXPECT_TRUE(taken);
    EXPECT_FALSE(isDirectoryIn(here, "a"));
    std::string temp;
    File f = tempFileIn(here, "a", temp);
    ASSERT_TRUE(f);
    EXPECT_EQ(temp.rfind(".a.dattool-", 0), 0u) << temp;
    EXPECT_EQ(temp.size(), std::string(".a.dattool-").size() + 6);
    fileWrite(f, "new", 3);
    fileClose(f);
    // The old file stays whole until the new one takes its place.
    EXPECT_EQ(get(dir.disk("a")), "old contents");
    File r = fileOpenReadIn(here, temp);
    EXPECT_EQ(readAll(r, 3), "new");
    fileClose(r);
    EXPECT_TRUE(renameIn(here, temp, "a"));
    EXPECT_EQ(get(dir.disk("a")), "new");
    EXPECT_EQ(get(dir.disk("b")), "old contents");
    EXPECT_EQ(pathKind(dir / temp), PathKind::missing);
    // Nothing there yet: the file is simply created.
    File g = fileCreateIn(here, "c", taken);
    ASSERT_TRUE(g);
    EXPECT_FALSE(taken);
    fileClose(g);
    EXPECT_EQ(pathKind(dir / "c"), PathKind::file);
    EXPECT_TRUE(removeIn(here, "c"));
    EXPECT_EQ(pathKind(dir / "c"), PathKind::missing);
    // The temporary name stays within one name's 255 bytes.
    EXPECT_EQ(tempNameFor(std::string(300, 'n'), 0).size(), 255u);
}

TEST(Platform, DirectoriesAndWhatPathsHold) {
    TempDir dir;
    EXPECT_EQ(pathKind(dir / "x"), PathKind::missing);
    Dir here = dirAt(dir.where.string());
    EXPECT_TRUE(dirMake(here, "x"));
    EXPECT_FALSE(dirMake(here, "x"));
    EXPECT_EQ(pathKind(dir / "x"), PathKind::directory);
    put(dir.disk("x") / "f", "abc");
    // Opening one name below a held directory tells what stands there.
    Dir x, none;
    EXPECT_EQ(dirOpen(here, "x", x), Step::opened);
    EXPECT_EQ(dirOpen(here, "nothing", none), Step::missing);
    EXPECT_EQ(dirOpen(x, "f", none), Step::notDirectory);
    EXPECT_FALSE(none);
    EXPECT_TRUE(dirMake(x, "y"));
    EXPECT_EQ(pathKind(dir / "x\\y"), PathKind::directory);
    EXPECT_EQ(pathKind(dir / "x\\f"), PathKind::file);
    EXPECT_TRUE(removeFile(dir / "x\\f"));
    EXPECT_EQ(pathKind(dir / "x\\f"), PathKind::missing);
}

TEST(Platform, ListingGivesNamesKindsSizesAndIdentities) {
    TempDir dir;
    fs::create_directories(dir.disk("top") / "sub");
    put(dir.disk("top") / "five", "12345");
    put(dir.disk("top") / "empty", "");
    fs::create_hard_link(dir.disk("top") / "five", dir.disk("top") / "alias");

    std::vector<DirItem> items;
    ASSERT_TRUE(listDirectory(dir / "top", items));
    std::sort(items.begin(), items.end(), [](const DirItem& a, const DirItem& b) { return a.name < b.name; });
    ASSERT_EQ(items.size(), 4u);  // never "." or ".."
    EXPECT_EQ(items[0].name, "alias");
    EXPECT_EQ(items[1].name, "empty");
    EXPECT_EQ(items[2].name, "five");
    EXPECT_EQ(items[3].name, "sub");
    EXPECT_EQ(items[1].kind, ItemKind::file);
    EXPECT_EQ(items[1].size, 0u);
    EXPECT_EQ(items[2].kind, ItemKind::file);
    EXPECT_EQ(items[2].size, 5u);
    EXPECT_EQ(items[3].kind, ItemKind::directory);
    for (const auto& item : items) EXPECT_FALSE(item.link) << item.name;

    // One file under two names is one identity, seen from a listing and
    // from an open handle alike; other files and directories differ.
    EXPECT_EQ(items[0].id, items[2].id);
    EXPECT_FALSE(items[1].id == items[2].id);
    File f = fileOpenRead(dir / "top\\alias");
    EXPECT_EQ(fileIdOf(f), items[2].id);
    FileId sub;
    ASSERT_TRUE(directoryId(dir / "top\\sub", sub));
    EXPECT_EQ(sub, items[3].id);
    FileId top;
    ASSERT_TRUE(directoryId(dir / "top", top));
    EXPECT_FALSE(top == sub);
    EXPECT_FALSE(directoryId(dir / "top\\five", sub));
    EXPECT_FALSE(directoryId(dir / "missing", sub));

    // An open file, even one held without sharing, is still identified.
    File w = fileOpenWrite(dir / "top\\held");
    ASSERT_TRUE(listDirectory(dir / "top", items));
    auto held = std::find_if(items.begin(), items.end(), [](const DirItem& i) { return i.name == "held"; });
    ASSERT_NE(held, items.end());
    EXPECT_EQ(held->id, fileIdOf(w));

    ASSERT_TRUE(listDirectory(dir / "top\\sub", items));
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(listDirectory(dir / "missing", items));
    EXPECT_FALSE(listDirectory(dir / "top\\five", items));
}

}  // namespace
