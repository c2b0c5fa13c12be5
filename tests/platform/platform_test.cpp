// What every backend of the platform layer must do. The same tests run on
// Linux in the main test binary and, cross-built, against the Windows backend
// (tests/platform/CMakeLists.txt). Paths go to the layer in the program's own
// form, with "\\" between names.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include "platform/names.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

using namespace dat::detail;

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
    std::string name;
    EXPECT_FALSE(dirForNew(dir / "no\\such\\dir\\a", name));
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
    // A new file takes a name only while it is free: what stands there
    // stays, and the file keeps its temporary name.
    File n = tempFileIn(here, "d", temp);
    ASSERT_TRUE(n);
    fileWrite(n, "newer", 5);
    fileClose(n);
    EXPECT_FALSE(renameNewIn(here, temp, "a", taken));
    EXPECT_TRUE(taken);
    EXPECT_EQ(get(dir.disk("a")), "new");
    EXPECT_TRUE(renameNewIn(here, temp, "d", taken));
    EXPECT_FALSE(taken);
    EXPECT_EQ(get(dir.disk("d")), "newer");
    EXPECT_EQ(pathKind(dir / temp), PathKind::missing);
    // Where a new file would go: the directory, held, and the name there.
    std::string name;
    Dir parent = dirForNew(dir / "e", name);
    ASSERT_TRUE(parent);
    EXPECT_EQ(name, "e");
    EXPECT_TRUE(fileCreateIn(parent, name, taken));
    EXPECT_EQ(pathKind(dir / "e"), PathKind::file);
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
    EXPECT_EQ(dirOpen(here, "x", x), DirOpened::opened);
    EXPECT_EQ(dirOpen(here, "nothing", none), DirOpened::missing);
    EXPECT_EQ(dirOpen(x, "f", none), DirOpened::notDirectory);
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

// The Windows name rules, as plain functions of a name and a code page:
// every build checks them, converting as its own system does (the C
// library's tables here, MultiByteToWideChar on Windows), so each row holds
// for both. Extraction splits paths at "\\" and "/" bytes before a name
// gets here.
TEST(Platform, WindowsNameRules) {
    struct Row {
        const char* name;
        unsigned codePage;
        NameFault fault;
    };
    const Row rows[] = {
        {"file.txt", 1252, NameFault::none},
        {"\xE9t\xE9.txt", 1252, NameFault::none},  // été.txt
        {"", 1252, NameFault::none},
        // Devices, whatever follows the first dot, spaces before it dropped.
        {"CON", 1252, NameFault::device},
        {"con.txt", 1252, NameFault::device},
        {"Nul .tar.gz", 1252, NameFault::device},
        {"CONOUT$", 1252, NameFault::device},
        {"com1", 1252, NameFault::device},
        {"LPT9.log", 1252, NameFault::device},
        {"COM0", 1252, NameFault::device},
        {"COM10", 1252, NameFault::none},
        {"COM", 1252, NameFault::none},
        {"CONSOLE", 1252, NameFault::none},
        // The superscripts 1, 2, 3 are device digits, in whatever bytes the
        // code page writes them; other characters are not.
        {"COM\xB9", 1252, NameFault::device},
        {"lpt\xB2.txt", 1252, NameFault::device},
        {"COM\xB3", 1252, NameFault::device},
        {"COM\xBC", 1252, NameFault::none},           // ¼
        {"COM\xC2\xB9", 1252, NameFault::none},       // UTF-8 bytes of ¹ read as "COMÂ¹"
        {"COM\xA9\xF6", 949, NameFault::device},      // COM¹
        {"lpt\xA9\xF7.txt", 949, NameFault::device},  // lpt².txt
        {"COM\xA9\xF8", 949, NameFault::device},      // COM³
        {"COM\xA9\xF6", 1252, NameFault::none},       // COM©ö
        {"\xB0\xA1.txt", 949, NameFault::none},       // 가.txt
        // A lead byte with nothing after it is no character: the first half
        // of a character whose second byte is 0x5C, which the program takes
        // for a separator, ends up so.
        {"COM\xB9", 949, NameFault::unconvertible},
        {"COM\xA9", 949, NameFault::unconvertible},
        {"\x83", 932, NameFault::unconvertible},
        {"\x83", 1252, NameFault::none},          // ƒ
        {"\x83\x5C", 932, NameFault::separator},  // ソ, whose second byte is "\\"
        {"\x83\x5C", 1252, NameFault::separator},
        {"a\\b", 1252, NameFault::separator},
        {"a/b", 932, NameFault::separator},
        {"\x83\x83", 932, NameFault::none},  // ャ
        {"\x81\x46", 932, NameFault::none},  // the full-width colon names no stream
        // Streams, and what Windows drops from a name's end.
        {"a:b", 1252, NameFault::stream},
        {"what?", 1252, NameFault::character},
        {"a*", 1252, NameFault::character},
        {"<b>", 1252, NameFault::character},
        {"say \"x\"", 1252, NameFault::character},
        {"a|b", 1252, NameFault::character},
        {"tab\t", 1252, NameFault::character},
        {"name.", 1252, NameFault::trailing},
        {"name ", 1252, NameFault::trailing},
        {"\xB0\xA1 ", 949, NameFault::trailing},
        // Short-name shapes: 8.3 with "~" and a digit in the first part.
        {"LONGDI~1", 1252, NameFault::shortName},
        {"ABCDEF~1.TXT", 1252, NameFault::shortName},
        {"ab12cd~3.t", 1252, NameFault::shortName},
        {"~1", 1252, NameFault::shortName},
        {"a~b.txt", 1252, NameFault::none},
        {"x~.txt", 1252, NameFault::none},
        {"longname~1.text", 1252, NameFault::none},
        {"longdirectory~1", 1252, NameFault::none},
        {"ABCDEF~1.T.X", 1252, NameFault::none},
    };
    for (const Row& r : rows)
        EXPECT_EQ(windowsNameFault(r.name, r.codePage), r.fault) << r.name << " in code page " << r.codePage;
    // What the rules see is what the conversion gives: one character of
    // two bytes where the code page has double-byte ones.
    std::u16string wide;
    ASSERT_TRUE(toUtf16("COM\xA9\xF6", 949, wide));
    EXPECT_EQ(wide, u"COM\u00B9");
    ASSERT_TRUE(toUtf16("\x83\x5C", 932, wide));
    EXPECT_EQ(wide.size(), 1u);
    ASSERT_TRUE(toUtf16("\x83\x5C\xB1", 932, wide));
    EXPECT_EQ(wide.substr(1), u"\uFF71");  // half-width katakana A
    ASSERT_TRUE(toUtf16("\x83\x5C\x80", 1252, wide));
    EXPECT_EQ(wide, u"\u0192\\\u20AC");
}

// Names are made relative to the directory held, never through a path, so
// a path from the volume's root may pass the system's 260 characters.
TEST(Platform, ChildrenPastTheSystemsPathLength) {
    TempDir dir;
    Dir at = dirAt(dir.where.string());
    ASSERT_TRUE(at);
    const std::string name(60, 'n');
    fs::path deep = dir.where;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(dirMake(at, name)) << i;
        Dir next;
        ASSERT_EQ(dirOpen(at, name, next), DirOpened::opened) << i;
        at = std::move(next);
        deep /= name;
    }
    ASSERT_GT(deep.string().size(), 300u);
    bool taken = false;
    File f = fileCreateIn(at, "f.txt", taken);
    ASSERT_TRUE(f);
    EXPECT_EQ(fileWrite(f, "deep", 4), 4u);
    EXPECT_TRUE(fileClose(f));
#ifdef _WIN32
    deep = fs::path(L"\\\\?\\" + deep.wstring());  // other programs need the long form
#endif
    EXPECT_EQ(get(deep / "f.txt"), "deep");
}

#ifdef _WIN32
// Short (8.3) names are aliases of long ones. A name that opens a file or
// directory of another name is neither replaced nor entered, and nothing
// is made in its place.
TEST(Platform, ShortNamesOpenNothing) {
    TempDir dir;
    put(dir.disk("abcdefghijklm.txt"), "the user's");
    fs::create_directory(dir.disk("longdirectoryname"));
    auto shortOf = [&](const std::string& name) {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetShortPathNameW(dir.disk(name).wstring().c_str(), buffer, MAX_PATH);
        return n > 0 && n < MAX_PATH ? fs::path(std::wstring(buffer, n)).filename().string() : name;
    };
    const std::string file = shortOf("abcdefghijklm.txt"), sub = shortOf("longdirectoryname");
    if (file == "abcdefghijklm.txt" || sub == "longdirectoryname")
        GTEST_SKIP() << "this volume gives no short names";
    Dir here = dirAt(dir.where.string());
    ASSERT_TRUE(here);
    bool taken = false;
    EXPECT_FALSE(fileCreateIn(here, file, taken)) << file;
    std::string temp;
    File t = tempFileIn(here, "new.txt", temp);
    ASSERT_TRUE(t);
    fileClose(t);
    EXPECT_FALSE(renameIn(here, temp, file)) << file;
    EXPECT_TRUE(removeIn(here, temp));
    EXPECT_EQ(get(dir.disk("abcdefghijklm.txt")), "the user's");
    Dir d;
    EXPECT_EQ(dirOpen(here, sub, d), DirOpened::failed) << sub;
    EXPECT_FALSE(d);
    EXPECT_FALSE(dirMake(here, sub));
    std::vector<DirItem> items;
    ASSERT_TRUE(listDirectory(dir.where.string(), items));
    EXPECT_EQ(items.size(), 2u);
}

// Makes the empty directory at path a junction to target, as any process
// that may write its attributes can while another holds it open.
bool makeJunction(const fs::path& path, const fs::path& target) {
    HANDLE h = CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring substitute = L"\\??\\" + target.wstring();
    const auto bytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    // The mount-point layout: tag, length, reserved, then the offsets and
    // lengths of the substitute and print names, then both, each ended.
    std::vector<WORD> buffer(8 + substitute.size() + 2, 0);
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer[0] = static_cast<WORD>(tag & 0xFFFF);
    buffer[1] = static_cast<WORD>(tag >> 16);
    buffer[2] = static_cast<WORD>(8 + bytes + 2 + 2);
    buffer[4] = 0;
    buffer[5] = bytes;
    buffer[6] = static_cast<WORD>(bytes + 2);
    buffer[7] = 0;
    std::copy(substitute.begin(), substitute.end(), buffer.begin() + 8);
    DWORD returned = 0;
    const bool made = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), 8 + buffer[2], nullptr, 0,
                                      &returned, nullptr) != 0;
    CloseHandle(h);
    return made;
}

// A held, empty directory can be made a junction while held, since share
// modes do not cover that. What is made in it afterwards is made in it, or
// fails; never in the junction's target.
TEST(Platform, HeldDirectoryMadeJunctionIsNotFollowed) {
    TempDir dir;
    fs::create_directory(dir.disk("target"));
    fs::create_directory(dir.disk("held"));
    Dir here = dirAt(dir.where.string());
    Dir held;
    ASSERT_EQ(dirOpen(here, "held", held), DirOpened::opened);
    if (!makeJunction(dir.disk("held"), dir.disk("target")))
        GTEST_SKIP() << "this system makes no junctions (wine does not)";
    bool taken = false;
    File f = fileCreateIn(held, "evil.bat", taken);
    if (f) fileWrite(f, "x", 1);
    fileClose(f);
    dirMake(held, "Startup");
    Dir startup;
    dirOpen(held, "Startup", startup);
    EXPECT_TRUE(fs::is_empty(dir.disk("target")));
    // The junction itself is seen as a link from its parent.
    Dir again;
    EXPECT_EQ(dirOpen(here, "held", again), DirOpened::link);
}
#endif

}  // namespace
