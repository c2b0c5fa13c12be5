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
#include <memory>
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

#ifdef _WIN32
// Whether anything stands at p, a long path included.
bool present(const fs::path& p) {
    return GetFileAttributesW(p.wstring().c_str()) != INVALID_FILE_ATTRIBUTES;
}
#endif

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
    // The old file stays whole until the new one takes its place.
    EXPECT_EQ(get(dir.disk("a")), "old contents");
    EXPECT_TRUE(fileKeep(f, here, temp, "a"));
    EXPECT_FALSE(f);
    EXPECT_EQ(get(dir.disk("a")), "new");
    EXPECT_EQ(get(dir.disk("b")), "old contents");
    EXPECT_EQ(pathKind(dir / temp), PathKind::missing);
    // Nothing there yet: the file is simply created, and kept where it was made.
    File g = fileCreateIn(here, "c", taken);
    ASSERT_TRUE(g);
    EXPECT_FALSE(taken);
    EXPECT_TRUE(fileKeep(g, here, "c", "c"));
    EXPECT_EQ(pathKind(dir / "c"), PathKind::file);
    File r = fileOpenReadIn(here, "a");
    EXPECT_EQ(readAll(r, 3), "new");
    fileClose(r);
    // A file the run did not make is renamed by its names.
    put(dir.disk("moved"), "moved");
    EXPECT_TRUE(renameIn(here, "moved", "c"));
    EXPECT_EQ(get(dir.disk("c")), "moved");
    EXPECT_TRUE(removeIn(here, "c"));
    EXPECT_EQ(pathKind(dir / "c"), PathKind::missing);
    // A new file takes a name only while it is free: what stands there
    // stays, and the file keeps its temporary name.
    File n = tempFileIn(here, "d", temp);
    ASSERT_TRUE(n);
    fileWrite(n, "newer", 5);
    EXPECT_FALSE(fileKeepNew(n, here, temp, "a", taken));
    EXPECT_TRUE(taken);
    EXPECT_EQ(get(dir.disk("a")), "new");
    EXPECT_TRUE(fileKeepNew(n, here, temp, "d", taken));
    EXPECT_FALSE(taken);
    EXPECT_EQ(get(dir.disk("d")), "newer");
    EXPECT_EQ(pathKind(dir / temp), PathKind::missing);
    // Where a new file would go: the directory, held, and the name there.
    std::string name;
    Dir parent = dirForNew(dir / "e", name);
    ASSERT_TRUE(parent);
    EXPECT_EQ(name, "e");
    File e = fileCreateIn(parent, name, taken);
    EXPECT_TRUE(e && fileKeep(e, parent, name, name));
    EXPECT_EQ(pathKind(dir / "e"), PathKind::file);
    // The temporary name stays within one name's 255 bytes.
    EXPECT_EQ(tempNameFor(std::string(300, 'n'), 0).size(), 255u);
}

// A file the run makes stays only once kept, in its own place or in place
// of what stood where it goes, which the caller may hold open (the old
// archive); discarded, it goes, and what stood there stays as it was.
TEST(Platform, MadeFilesStayOnlyOnceKept) {
    struct Row {
        const char* name;  // where the file goes
        bool standing;     // an old file stands there
        bool held;         // and the caller holds it open
        bool keep;         // kept, or discarded
    };
    const Row rows[] = {{"free", false, false, true}, {"free", false, false, false},
                        {"old", true, false, true},   {"old", true, false, false},
                        {"old", true, true, true},    {"old", true, true, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.name) + (r.held ? ", held" : "") + (r.keep ? ", kept" : ", discarded"));
        TempDir dir;
        if (r.standing) put(dir.disk(r.name), "old");
        File held = r.held ? fileOpenWrite(dir / r.name) : File();
        Dir here = dirAt(dir.where.string());
        bool taken = false;
        std::string made = r.name;
        File f = fileCreateIn(here, r.name, taken);
        EXPECT_EQ(taken, r.standing);
        if (!f) f = tempFileIn(here, r.name, made);
        ASSERT_TRUE(f);
        EXPECT_EQ(fileWrite(f, "new", 3), 3u);
        if (r.keep)
            EXPECT_TRUE(fileKeep(f, here, made, r.name, r.held ? &held : nullptr));
        else
            fileDiscard(f, here, made);
        EXPECT_FALSE(f);
        EXPECT_EQ(static_cast<bool>(held), r.held && !r.keep);
        fileClose(held);
        std::vector<DirItem> items;
        ASSERT_TRUE(listDirectory(dir.where.string(), items));
        EXPECT_EQ(items.size(), r.keep || r.standing ? 1u : 0u);
        if (r.keep || r.standing) {
            EXPECT_EQ(get(dir.disk(r.name)), r.keep ? "new" : "old");
        }
    }
#ifdef _WIN32
    // Nobody else may open a file being made for deletion, so nobody can
    // rename or swap it; closed without being kept, it is gone.
    TempDir dir;
    Dir here = dirAt(dir.where.string());
    bool taken = false;
    File f = fileCreateIn(here, "made", taken);
    ASSERT_TRUE(f);
    HANDLE other = CreateFileW(dir.disk("made").wstring().c_str(), DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) CloseHandle(other);
    EXPECT_TRUE(present(dir.disk("made")));
    fileClose(f);
    EXPECT_FALSE(present(dir.disk("made")));
    // An old archive held by the caller and looked at by another process
    // (an indexer): where the system replaces a file held open, the new
    // one takes its place; elsewhere (wine, FAT, older systems) the
    // rename fails, and both stay open for the bytes to be copied through
    // the caller's handle, which is the old archive's still.
    put(dir.disk("archive"), "old");
    File held = fileOpenWrite(dir / "archive");
    const FileId old = fileIdOf(held);
    HANDLE look = CreateFileW(dir.disk("archive").wstring().c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(look, INVALID_HANDLE_VALUE);
    std::string temp;
    File t = tempFileIn(here, "archive", temp);
    ASSERT_TRUE(t);
    fileWrite(t, "new", 3);
    if (fileKeep(t, here, temp, "archive", &held)) {
        EXPECT_FALSE(held);
        CloseHandle(look);
        EXPECT_EQ(get(dir.disk("archive")), "new");
    } else {
        ASSERT_TRUE(t);
        ASSERT_TRUE(held);
        EXPECT_EQ(fileIdOf(held), old);
        EXPECT_TRUE(fileTruncate(held));
        EXPECT_EQ(fileWrite(held, "new", 3), 3u);
        fileClose(held);
        fileDiscard(t, here, temp);
        CloseHandle(look);
        EXPECT_EQ(get(dir.disk("archive")), "new");
        EXPECT_FALSE(present(dir.disk(temp)));
    }
#endif
}

#ifdef _WIN32
// A run ended in any way, here the hardest, leaves nothing of a file it
// was making. The death test runs this test again in a child process up
// to the statement, where the child finds the parent's directory in the
// environment and makes the file there.
TEST(Platform, MadeFileGoesWithAKilledRun) {
    wchar_t inherited[1024];
    const DWORD n = GetEnvironmentVariableW(L"DATTOOL_KILLED_IN", inherited, 1024);
    std::unique_ptr<TempDir> own;
    fs::path where;
    if (n > 0 && n < 1024) {
        where = inherited;
    } else {
        own = std::make_unique<TempDir>();
        where = own->where;
        SetEnvironmentVariableW(L"DATTOOL_KILLED_IN", where.wstring().c_str());
    }
    EXPECT_EXIT(
        {
            Dir at = dirAt(where.string());
            bool taken = false;
            File f = fileCreateIn(at, "partial", taken);
            const bool made = f && fileWrite(f, "partial", 7) == 7 && present(where / "partial");
            TerminateProcess(GetCurrentProcess(), made ? 9 : 8);
        },
        ::testing::ExitedWithCode(9), "");
    SetEnvironmentVariableW(L"DATTOOL_KILLED_IN", nullptr);
    EXPECT_FALSE(present(where / "partial"));
}
#endif

TEST(Platform, DirectoriesAndWhatPathsHold) {
    TempDir dir;
    EXPECT_EQ(pathKind(dir / "x"), PathKind::missing);
    Dir here = dirAt(dir.where.string());
    // A directory made is held: what is made through the handle lands in it.
    Dir made = dirMake(here, "x");
    ASSERT_TRUE(made);
    EXPECT_FALSE(dirMake(here, "x"));
    EXPECT_EQ(pathKind(dir / "x"), PathKind::directory);
    bool taken = false;
    File g = fileCreateIn(made, "g", taken);
    EXPECT_TRUE(fileKeep(g, made, "g", "g"));
    EXPECT_EQ(pathKind(dir / "x\\g"), PathKind::file);
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
        // Short-name shapes: 8.3 with "~" and a digit or a letter in the
        // first part, as NTFS and other servers make them.
        {"LONGDI~1", 1252, NameFault::shortName},
        {"ABCDEF~1.TXT", 1252, NameFault::shortName},
        {"ab12cd~3.t", 1252, NameFault::shortName},
        {"~1", 1252, NameFault::shortName},
        {"ABCD~0NQ.TXT", 1252, NameFault::shortName},
        {"LONG~QX2", 1252, NameFault::shortName},
        {"abcd~xyz.txt", 1252, NameFault::shortName},
        {"a~b.txt", 1252, NameFault::shortName},
        {"x~.txt", 1252, NameFault::none},
        {"ab~_q.txt", 1252, NameFault::none},
        {"ab~\xE9.txt", 1252, NameFault::none},  // é is no ASCII letter
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

// Which reparse points are links, as plain functions of a tag and, for a
// junction, what it stands for: only tags that stand for another name are,
// and of junctions only those that do not mount a volume at their place.
// Placeholders of synced folders and the like are the item itself.
TEST(Platform, ReparsePointsThatAreLinks) {
    struct Row {
        uint32_t tag;
        std::u16string target;
        bool link;
    };
    const std::u16string volume = u"\\??\\Volume{0b6a1c9e-33f1-11ee-9f0c-806e6f6e6963}\\";
    const Row rows[] = {
        {0xA000000C, u"", true},                              // symbolic link
        {0xA0000003, u"\\??\\C:\\Users\\me\\Startup", true},  // junction
        {0xA0000003, volume, false},                          // volume mount point
        {0xA0000003, u"\\??\\volume{0B6A1C9E-33F1-11EE-9F0C-806E6F6E6963}\\", false},
        {0xA0000003, volume + u"Users", true},            // a folder on that volume
        {0xA0000003, u"\\??\\Volume{0b6a1c9e}\\", true},  // no volume's name
        {0xA0000003, volume.substr(0, volume.size() - 1), true},
        {0xA0000003, u"", true},
        {0xA000001D, u"", true},   // a WSL symbolic link
        {0x9000701A, u"", false},  // a cloud-file placeholder (one of sixteen)
        {0x9000001A, u"", false},
        {0x9000F01A, u"", false},
        {0x9000001C, u"", false},  // projected file system
        {0x80000013, u"", false},  // deduplicated
        {0x80000017, u"", false},  // compressed by WOF
        {0x8000001B, u"", false},  // app execution alias
        {0x80000023, u"", false},  // socket
        {0, u"", false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(reparseIsLink(r.tag, r.target), r.link) << std::hex << r.tag << " " << r.link;
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
    EXPECT_TRUE(fileKeep(f, at, "f.txt", "f.txt"));
#ifdef _WIN32
    deep = fs::path(L"\\\\?\\" + deep.wstring());  // other programs need the long form
#endif
    EXPECT_EQ(get(deep / "f.txt"), "deep");
}

#ifdef _WIN32
// Short (8.3) names are aliases of long ones. A name that opens a file or
// directory of another name is neither replaced nor entered, and nothing
// is made in its place: in a directory of a short path, and in one past
// 260 characters, where the system gives no final path under wine.
TEST(Platform, ShortNamesOpenNothing) {
    TempDir dir;
    const std::string level(60, 'n');
    Dir deep = dirAt(dir.where.string());
    fs::path deepPath = dir.where;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(dirMake(deep, level)) << i;
        Dir next;
        ASSERT_EQ(dirOpen(deep, level, next), DirOpened::opened) << i;
        deep = std::move(next);
        deepPath /= level;
    }
    struct Place {
        fs::path where;
        Dir here;
    };
    Place places[] = {{dir.where, dirAt(dir.where.string())},
                      {fs::path(L"\\\\?\\" + deepPath.wstring()), std::move(deep)}};
    for (Place& place : places) {
        const fs::path& where = place.where;
        const Dir& here = place.here;
        SCOPED_TRACE(where.string().size());
        std::ofstream(where / "abcdefghijklm.txt", std::ios::binary) << "the user's";
        fs::create_directory(where / "longdirectoryname");
        auto shortOf = [&](const std::string& name) {
            wchar_t buffer[1024];
            const DWORD n = GetShortPathNameW((where / name).wstring().c_str(), buffer, 1024);
            return n > 0 && n < 1024 ? fs::path(std::wstring(buffer, n)).filename().string() : name;
        };
        const std::string file = shortOf("abcdefghijklm.txt"), sub = shortOf("longdirectoryname");
        if (file == "abcdefghijklm.txt" || sub == "longdirectoryname")
            GTEST_SKIP() << "this volume gives no short names";
        ASSERT_TRUE(here);
        bool taken = false;
        EXPECT_FALSE(fileCreateIn(here, file, taken)) << file;
        std::string temp;
        File t = tempFileIn(here, "new.txt", temp);
        ASSERT_TRUE(t);
        EXPECT_FALSE(fileKeep(t, here, temp, file)) << file;
        EXPECT_TRUE(t);  // still the run's
        fileDiscard(t, here, temp);
        EXPECT_FALSE(present(where / temp));
        put(where / "moved", "moved");
        EXPECT_FALSE(renameIn(here, "moved", file)) << file;
        EXPECT_EQ(get(where / "abcdefghijklm.txt"), "the user's");
        Dir d;
        EXPECT_EQ(dirOpen(here, sub, d), DirOpened::failed) << sub;
        EXPECT_FALSE(d);
        EXPECT_FALSE(dirMake(here, sub));
        // The long names themselves are found as they are.
        EXPECT_EQ(dirOpen(here, "longdirectoryname", d), DirOpened::opened);
        EXPECT_TRUE(removeIn(here, "abcdefghijklm.txt"));
        EXPECT_FALSE(present(where / "abcdefghijklm.txt"));
    }
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
