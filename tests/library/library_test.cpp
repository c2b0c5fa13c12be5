// The library as a program linking it sees it: the C++ face over every
// sample archive, on a small stack, against what "l" and "x" make of it,
// archives open side by side, threads reading one archive at once, and the
// C face on each way an open can end. Linked against the shared libdat, so
// everything used here must leave it.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "dat/archive.hpp"
#include "dat/dat.h"
#include "support/dat_codec.h"
#include "support/expected.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

// A whole file entry's bytes, in reads of 128 KiB as a mount makes them.
std::string contents(const dat::Archive& a, size_t i) {
    std::string bytes(a.entry(i).size, '\0');
    for (size_t at = 0; at < bytes.size();) {
        const int64_t got = a.read(i, at, &bytes[at], std::min<size_t>(bytes.size() - at, 128 << 10));
        if (got <= 0) return "<read failed at " + std::to_string(at) + ">";
        at += static_cast<size_t>(got);
    }
    return bytes;
}

// The tree "x" leaves, as the face says it: every entry "x" writes, by its
// path with "/" between names as the disk takes them, and each file's
// bytes from the last entry written there.
std::map<std::string, std::string> treeOf(const dat::Archive& a) {
    std::map<std::string, std::string> tree;
    for (size_t i = 0; i < a.size(); ++i) {
        const dat::Entry e = a.entry(i);
        std::string path = a.written(i);
        // A refused entry is written nowhere.
        if (!e.refusal.empty()) {
            EXPECT_EQ(path, "") << a.path(i);
        }
        if (!e.refusal.empty() || e.replaced || path.empty()) continue;
        // As the disk takes it: empty names and "." open the directory
        // they stand in.
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string at, name;
        for (char c : path + "/") {
            if (c != '/') {
                name += c;
                continue;
            }
            if (!name.empty() && name != ".") {
                if (!at.empty()) tree[at] = "<dir>";
                at += (at.empty() ? "" : "/") + name;
            }
            name.clear();
        }
        if (!at.empty()) tree[at] = e.kind == dat::Kind::directory ? "<dir>" : contents(a, i);
    }
    return tree;
}

// The same tree from the archive's nodes: each node's path is its
// parent's and its name, each file holds its entry's bytes. Every node
// comes after the directory holding it.
std::map<std::string, std::string> nodesOf(const dat::Archive& a) {
    std::map<std::string, std::string> tree;
    std::vector<std::string> paths(a.nodes());
    for (size_t i = 1; i < a.nodes(); ++i) {
        const dat::Node n = a.node(i);
        if (n.parent >= i || n.name.empty() || n.name.find_first_of("\\/") != std::string_view::npos) {
            tree["<node " + std::to_string(i) + " out of order or badly named>"] = "";
            continue;
        }
        paths[i] = (n.parent == 0 ? "" : paths[n.parent] + "/") + std::string(n.name);
        tree[paths[i]] = n.kind == dat::Kind::directory ? "<dir>" : contents(a, n.entry);
    }
    return tree;
}

std::string listing(const dat::Archive& a) {
    std::string lines;
    for (size_t i = 0; i < a.size(); ++i) lines += a.path(i) + '\n';
    return lines;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs body on a thread of its own with a small stack: nothing the library
// does may take a call per level of an archive. 64 KiB, a quarter of the
// least a program should be able to give it, so that even a call per level
// as small as a destructor's shows on the deepest archive. The sanitizers'
// frames are larger, and valgrind runs threads on stacks of its own
// making: they get 8 MiB.
void onSmallStack(const std::function<void()>& body) {
#ifdef DATTOOL_SANITIZED
    const bool large = true;
#else
    const char* preload = std::getenv("LD_PRELOAD");
    const bool large = preload && std::strstr(preload, "vgpreload");
#endif
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, large ? size_t(8) << 20 : size_t(64) << 10), 0);
    pthread_t thread;
    const auto run = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

struct Samples : ::testing::TestWithParam<std::string> {};

void expectFaceAgrees(const std::string& stem);
std::vector<std::string> namesIn(const std::string& dir);

// What "l" lists, the face walks; what "x" writes, the face reads; where
// "l" fails, opening fails with the reason "l" gives. Opened, walked and
// closed on a small stack.
void expectExtractionAgrees(const std::string& stem);

TEST_P(Samples, FaceAgreesWithListAndExtract) {
    onSmallStack([&] { expectFaceAgrees(GetParam()); });
    expectExtractionAgrees(GetParam());
}

// Extracted through the library below a directory of its own: the tree
// "x" leaves, nothing outside it, and a failure where "x" fails; every
// entry refused is told so.
void expectExtractionAgrees(const std::string& stem) {
    const Expected want = parseExpected(readBytes(dataFile(stem + ".expected")));
    if (want.listStatus != 0) return;
    const dat::Archive a(dataFile(stem + ".dat"));
    dat_archive* c = dat_open(dataFile(stem + ".dat").c_str());
    const ScratchDir out;
    const std::string below = out / "below";
    struct Told {
        size_t refused = 0, written = 0, other = 0;
    } told;
    int worst = -1;
    // On a small stack, as the walk: extraction takes no call per level either.
    onSmallStack([&] {
        worst = dat_extract(
            c, below.c_str(), nullptr, 0,
            [](void* ctx, size_t entry, int status, const char* path, const char* why) {
                Told& t = *static_cast<Told*>(ctx);
                ++(status == DAT_REFUSED ? t.refused : status == DAT_OK ? t.written : t.other);
                if (entry == DAT_NONE || !path || !why || (status == DAT_OK) != (*why == '\0')) ++t.other;
            },
            &told);
    });
    EXPECT_EQ(::treeOf(below), want.tree);
    EXPECT_EQ(namesIn(out.path), std::vector<std::string>{"below"});
    EXPECT_EQ(worst == DAT_OK, want.extractStatus == 0) << worst;
    size_t refused = 0;
    for (size_t i = 0; i < a.size(); ++i) refused += !a.entry(i).refusal.empty();
    EXPECT_GE(told.refused, refused);
    EXPECT_EQ(told.other == 0 && told.refused == 0, worst == DAT_OK);
    dat_close(c);
}

void expectFaceAgrees(const std::string& stem) {
    const Expected want = parseExpected(readBytes(dataFile(stem + ".expected")));
    const dat::Archive a(dataFile(stem + ".dat"));
    if (want.listStatus != 0) {
        EXPECT_FALSE(a.isOpen());
        EXPECT_EQ(a.size(), 0u);
        EXPECT_TRUE(a.status() == dat::Status::damaged || a.status() == dat::Status::notADat)
            << static_cast<int>(a.status());
        const std::string said = ": " + a.error() + "\n";
        EXPECT_TRUE(endsWith(want.listErrors.whole ? want.listErrors.bytes : want.listErrors.last, said))
            << "face: " << a.error();
        EXPECT_TRUE(want.tree.empty());
        return;
    }
    ASSERT_TRUE(a.isOpen()) << a.error();
    EXPECT_EQ(a.error(), "");
    EXPECT_EQ(a.status(), dat::Status::ok);
    const std::string lines = listing(a);
    if (want.list.whole) {
        EXPECT_EQ(lines, want.list.bytes);
    } else {
        EXPECT_EQ(lines.size(), want.list.size);
        EXPECT_EQ(fnv1a64(lines), want.list.hash);
    }
    EXPECT_EQ(treeOf(a), want.tree);
    // In bulk, from a few places on, as one by one.
    for (size_t first : {size_t(0), a.size() / 2, a.size()}) {
        std::vector<dat::Entry> bulk(5);
        const size_t got = a.entries(first, bulk.data(), bulk.size());
        EXPECT_EQ(got, std::min<size_t>(5, a.size() - first));
        for (size_t k = 0; k < got; ++k) {
            const dat::Entry one = a.entry(first + k);
            EXPECT_TRUE(bulk[k].name.data() == one.name.data() && bulk[k].kind == one.kind &&
                        bulk[k].size == one.size && bulk[k].offset == one.offset &&
                        bulk[k].parent == one.parent && bulk[k].refusal == one.refusal &&
                        bulk[k].replaced == one.replaced)
                << first + k;
        }
    }
    // Through the C face, all at once, as one by one.
    dat_archive* c = dat_open(dataFile(stem + ".dat").c_str());
    std::vector<dat_entry> all(dat_count(c) + 1), one(all.size());
    EXPECT_EQ(dat_entries(c, 0, all.data(), all.size()), a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_EQ(dat_entry_at(c, i, &one[i]), 0);
        ASSERT_EQ(std::memcmp(&all[i], &one[i], sizeof one[i]), 0) << i;
    }
    dat_close(c);
    // The same tree, as the numbered nodes say it.
    const dat::Archive nodes(dataFile(stem + ".dat"), dat::With::tree);
    ASSERT_TRUE(nodes.isOpen()) << nodes.error();
    EXPECT_EQ(nodesOf(nodes), want.tree);
    EXPECT_EQ(a.nodes(), 0u);
    // Each entry is found by its own path, written with either separator.
    for (size_t i = 0; i < a.size(); ++i) {
        std::string path = a.path(i);
        const size_t found = a.find(path);
        ASSERT_NE(found, dat::notFound) << path;
        EXPECT_EQ(a.path(found), path);
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(a.find(path), found) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Data, Samples, ::testing::ValuesIn(sampleStems()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return testNameFor(info.param);
                         });

// Bytes that differ at every offset, so a range read from the wrong place
// or descrambled by the wrong key shows.
std::string noise(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

struct TwoMembers {
    ScratchDir dir;
    std::string path = dir / "two.dat";
    std::string first = noise(700001, 1), second = noise(300007, 2);
    TwoMembers() {
        writeBytes(path, archiveBytes({dirNode("d", {fileNode("first.bin", first)}),
                                       fileNode("second.bin", second, 0)}));
    }
};

TEST(Library, TwoArchivesOpenAtOnceReadTheirOwnBytes) {
    const TwoMembers made;
    const dat::Archive two(made.path);
    const dat::Archive worked(dataFile("worked_example.dat"));
    ASSERT_TRUE(two.isOpen() && worked.isOpen());
    const size_t first = two.find("d/first.bin"), text = worked.find("data\\m.msh");
    ASSERT_NE(first, dat::notFound);
    ASSERT_NE(text, dat::notFound);
    // Turn about, so any state one archive left behind would spoil the other.
    char a[4], b[4];
    for (uint64_t at = 0; at < 10; at += 4) {
        const int64_t gotA = two.read(first, 1000 + at, a, 4), gotB = worked.read(text, at, b, 4);
        EXPECT_EQ(std::string(a, static_cast<size_t>(gotA)), made.first.substr(1000 + at, 4));
        EXPECT_EQ(std::string(b, static_cast<size_t>(gotB)), std::string("0123456789").substr(at, 4));
    }
    EXPECT_EQ(contents(two, two.find("second.bin")), made.second);
}

TEST(Library, FourThreadsReadRandomRangesOfTwoMembers) {
    const TwoMembers made;
    const dat::Archive a(made.path);
    ASSERT_TRUE(a.isOpen()) << a.error();
    const size_t members[2] = {a.find("d\\first.bin"), a.find("second.bin")};
    const std::string* bytes[2] = {&made.first, &made.second};
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (uint32_t t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            std::string buf(200000, '\0');
            for (int round = 0; round < 300; ++round) {
                const size_t m = random() % 2;
                const size_t size = bytes[m]->size();
                const size_t offset = random() % (size + 10), n = random() % buf.size();
                const int64_t got = a.read(members[m], offset, &buf[0], n);
                const std::string want = offset < size ? bytes[m]->substr(offset, n) : std::string();
                if (got != static_cast<int64_t>(want.size()) || buf.compare(0, want.size(), want) != 0)
                    ++wrong[t];
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

// Each failed read says why, on its own thread.
void expectFailedRead(const dat::Archive& a, size_t i, dat::Status status, const std::string& why) {
    char buf[16];
    EXPECT_EQ(a.read(i, 0, buf, sizeof buf), -1) << why;
    EXPECT_EQ(dat::lastStatus(), status) << why;
    EXPECT_EQ(dat::lastError(), why);
}

TEST(Library, ReadsOnlyFilesAndOnlyTheirBytes) {
    const dat::Archive a(dataFile("worked_example.dat"));
    ASSERT_TRUE(a.isOpen()) << a.error();
    char buf[16];
    expectFailedRead(a, a.find("data"), dat::Status::refused, "not a file");
    expectFailedRead(a, a.size(), dat::Status::outOfRange, "no such entry");
    const size_t text = a.find("data/a.txt");
    EXPECT_EQ(a.read(text, 1, buf, sizeof buf), 2);
    EXPECT_EQ(std::string(buf, 2), "bc");
    EXPECT_EQ(a.read(text, 3, buf, sizeof buf), 0);
    EXPECT_EQ(a.find("data/none"), dat::notFound);
    // A file's offset is where its bytes lie in the archive: m.msh's are
    // stored plain.
    const dat::Entry mesh = a.entry(a.find("data/m.msh"));
    EXPECT_EQ(readBytes(dataFile("worked_example.dat")).substr(mesh.offset, mesh.size), "0123456789");
    // A file whose bytes reach past the data region is never read.
    const dat::Archive past(dataFile("file_past_data_region.dat"));
    ASSERT_TRUE(past.isOpen()) << past.error();
    size_t outside = 0;
    for (size_t i = 0; i < past.size(); ++i) {
        if (past.entry(i).refusal != "its bytes lie outside the archive") continue;
        ++outside;
        expectFailedRead(past, i, dat::Status::damaged, "its bytes lie outside the archive");
    }
    EXPECT_GT(outside, 0u);
    // An archive cut while open: its last file's bytes are gone.
    const TwoMembers made;
    const dat::Archive cut(made.path);
    ASSERT_TRUE(cut.isOpen()) << cut.error();
    fs::resize_file(made.path, fs::file_size(made.path) - made.second.size() + 8);
    expectFailedRead(cut, cut.find("second.bin"), dat::Status::damaged,
                     "archive was cut short since it was opened");
    // Status and text stay with the thread that failed.
    std::thread([] {
        EXPECT_EQ(dat::lastStatus(), dat::Status::ok);
        EXPECT_STREQ(dat::lastError(), "");
    }).join();
}

// The C face: a handle whatever happened, each call safe on it, and the
// texts dattool prints.
TEST(Library, CFaceOnMissingDamagedAndGoodArchives) {
    struct Case {
        std::string path;
        const char* error;
        int status;
    };
    const Case cases[] = {{dataFile("no_such_archive.dat"), "No such file or directory", DAT_NOT_FOUND},
                          {dataFile("worked_example.dat/inside"), "Not a directory", DAT_NOT_FOUND},
                          {dataFile("cut_short.dat"), "Damaged archive: ", DAT_DAMAGED},
                          {dataFile("wrong_magic.dat"), "Not a DAT file", DAT_NOT_A_DAT},
                          {dataFile(""), "not a regular file", DAT_REFUSED}};
    for (const Case& c : cases) {
        dat_archive* a = dat_open(c.path.c_str());
        ASSERT_NE(a, nullptr);
        ASSERT_NE(dat_error(a), nullptr) << c.path;
        EXPECT_EQ(std::string(dat_error(a)).rfind(c.error, 0), 0u) << dat_error(a);
        EXPECT_EQ(dat_status(a), c.status) << c.path;
        dat_entry e;
        char buf[8];
        EXPECT_EQ(dat_count(a), 0u);
        EXPECT_EQ(dat_entry_at(a, 0, &e), -1);
        EXPECT_EQ(dat_entries(a, 0, &e, 1), 0u);
        EXPECT_EQ(dat_path(a, 0, 0, buf, sizeof buf), -1);
        EXPECT_EQ(dat_find(a, "data"), DAT_NONE);
        EXPECT_EQ(dat_last_status(), DAT_NOT_FOUND);
        EXPECT_EQ(dat_read(a, 0, 0, buf, sizeof buf), -1);
        EXPECT_EQ(dat_last_status(), DAT_OUT_OF_RANGE);
        dat_close(a);
    }
    EXPECT_STREQ(dat_error(nullptr), "out of memory");
    EXPECT_EQ(dat_status(nullptr), DAT_NO_MEMORY);
    dat_close(nullptr);
    // The build's version, in the header and at run time.
    EXPECT_STREQ(dat_version(), DATTOOL_VERSION);
    EXPECT_EQ(std::to_string(DAT_VERSION_MAJOR) + "." + std::to_string(DAT_VERSION_MINOR) + "." +
                  std::to_string(DAT_VERSION_PATCH),
              DATTOOL_VERSION);

    dat_archive* a = dat_open(dataFile("worked_example.dat").c_str());
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(dat_error(a), nullptr);
    EXPECT_EQ(dat_status(a), DAT_OK);
    ASSERT_EQ(dat_count(a), 3u);
    // In bulk: as one by one, up to the last entry; past it, out of range.
    struct BulkCase {
        size_t first, n, got;
        int status;  // dat_last_status after the call
    };
    const BulkCase bulks[] = {{0, 3, 3, DAT_OK},
                              {1, 8, 2, DAT_OK},
                              {3, 8, 0, DAT_OK},
                              {4, 8, 0, DAT_OUT_OF_RANGE},
                              {0, 0, 0, DAT_OK}};
    for (const BulkCase& b : bulks) {
        std::vector<dat_entry> got(8), one(8);
        std::thread([&] {
            EXPECT_EQ(dat_entries(a, b.first, got.data(), b.n), b.got) << b.first << " " << b.n;
            EXPECT_EQ(dat_last_status(), b.status) << b.first << " " << b.n;
        }).join();
        for (size_t k = 0; k < b.got; ++k) {
            ASSERT_EQ(dat_entry_at(a, b.first + k, &one[k]), 0);
            EXPECT_EQ(std::memcmp(&got[k], &one[k], sizeof one[k]), 0) << b.first + k;
        }
    }
    const size_t i = dat_find(a, "data/m.msh");
    dat_entry e;
    ASSERT_EQ(dat_entry_at(a, i, &e), 0);
    EXPECT_STREQ(e.name, "m.msh");
    EXPECT_EQ(e.kind, DAT_FILE);
    EXPECT_EQ(e.size, 10u);
    EXPECT_EQ(e.parent, 0u);
    EXPECT_STREQ(e.refusal, "");
    // The path "data\\m.msh" into buffers of each size: a cut copy, zero
    // ended, as snprintf makes it, and nothing written past the size.
    struct PathCase {
        size_t size;
        std::string buffer;  // all 12 bytes afterwards
    };
    const PathCase paths[] = {{0, "############"},
                              {6, std::string("data\\\0######", 12)},
                              {10, std::string("data\\m.ms\0##", 12)},
                              {11, std::string("data\\m.msh\0#", 12)}};
    for (const PathCase& p : paths) {
        char buf[12];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(dat_path(a, i, 1, buf, p.size), 10) << p.size;
        EXPECT_EQ(std::string(buf, sizeof buf), p.buffer) << p.size;
    }
    EXPECT_EQ(dat_path(a, i, 1, nullptr, 0), 10);
    // Reads of m.msh ("0123456789"); nothing to read needs no buffer.
    struct ReadCase {
        size_t entry;
        uint64_t offset;
        size_t n;
        bool buffer;
        int64_t got;
        std::string bytes;
        int status;  // dat_last_status after the call, on a fresh thread
        const char* why;
    };
    const ReadCase reads[] = {{i, 4, 16, true, 6, "456789", DAT_OK, ""},
                              {i, 10, 16, true, 0, "", DAT_OK, ""},
                              {i, 4, 0, true, 0, "", DAT_OK, ""},
                              {i, 0, 0, false, 0, "", DAT_OK, ""},
                              {i, 0, 4, false, -1, "", DAT_OUT_OF_RANGE, "no buffer given"},
                              {0, 0, 4, true, -1, "", DAT_REFUSED, "not a file"},
                              {3, 0, 4, true, -1, "", DAT_OUT_OF_RANGE, "no such entry"}};
    for (const ReadCase& r : reads) {
        char bytes[16] = {};
        int64_t got = 0;
        std::thread([&] {
            got = dat_read(a, r.entry, r.offset, r.buffer ? bytes : nullptr, r.n);
            EXPECT_EQ(dat_last_status(), r.status);
            EXPECT_STREQ(dat_last_error(), r.why);
        }).join();
        EXPECT_EQ(got, r.got) << r.offset << " " << r.n << " " << r.buffer;
        EXPECT_EQ(std::string(bytes, static_cast<size_t>(std::max<int64_t>(got, 0))), r.bytes);
    }
    dat_close(a);
}

// The names in a directory, the temporary files a writer made among them.
std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(dir)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The C face's writer: each way an add or the finish can fail, with the
// status and text it gives; after each, the archive that stood at the path
// is as it was and nothing else is left beside it.
TEST(Library, WriterFailuresLeaveTheOldArchive) {
    ScratchDir dir;
    const std::string path = dir / "old.dat", source = dir / "source.txt", sub = dir / "sub";
    const std::string old = "the old archive";
    struct Case {
        const char* what;
        std::function<int(dat_writer*)> run;  // the failing call's status
        int status;
        std::string why;  // what the text starts with
        // An update's: the archive it is over; else the writer is new.
        std::string old = {};
        bool opens = true;  // the writer opens, to fail later
    };
    const std::string longName(260, 'n');
    // An archive "c" writes, and those it could not have written, which an
    // update refuses as it opens.
    const std::string sound =
        archiveBytes({dirNode("d", {fileNode("a.txt", "abc"), fileNode("b.tex", "plain", 0)})});
    const auto status = [](dat_writer* w) { return dat_writer_status(w); };
    const auto fullDisk = [&](dat_writer* w) {
        dat_add_bytes(w, "big", std::string(1 << 20, 'b').data(), 1 << 20, 0);
        // Files may grow no larger than 64 KiB: the archive's writes fail.
        rlimit was{}, small{};
        getrlimit(RLIMIT_FSIZE, &was);
        small = was;
        small.rlim_cur = 1 << 16;
        const auto before = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const int finished = dat_finish(w);
        setrlimit(RLIMIT_FSIZE, &was);
        std::signal(SIGXFSZ, before);
        return finished;
    };
    const Case cases[] = {
        {"abort", [](dat_writer* w) { return dat_abort(w), dat_writer_status(w); }, DAT_OK, ""},
        {"no bytes from no pointer: an empty file",
         [](dat_writer* w) { return dat_add_bytes(w, "e", nullptr, 0, 0); }, DAT_OK, ""},
        {"a climbing path", [](dat_writer* w) { return dat_add_directory(w, "a/../../b", 0); }, DAT_REFUSED,
         "a/../../b: path leaves"},
        {"a climbing verbatim name",
         [](dat_writer* w) { return dat_add_directory(w, "a/../../b", DAT_VERBATIM); }, DAT_REFUSED,
         "a/../../b: path leaves"},
        {"no name", [](dat_writer* w) { return dat_add_bytes(w, "/", "x", 1, 0); }, DAT_REFUSED,
         "/: no name"},
        {"a name too long", [&](dat_writer* w) { return dat_add_bytes(w, longName.c_str(), "x", 1, 0); },
         DAT_REFUSED, longName + ": name is longer"},
        {"a path taken",
         [](dat_writer* w) { return dat_add_bytes(w, "f", "x", 1, 0), dat_add_directory(w, "f", 0); },
         DAT_REFUSED, "f: already"},
        {"a file in the way",
         [](dat_writer* w) { return dat_add_bytes(w, "f", "x", 1, 0), dat_add_bytes(w, "f/g", "", 0, 0); },
         DAT_REFUSED, "f: a file stands there"},
        {"a missing file", [&](dat_writer* w) { return dat_add_file(w, "m", (dir / "none").c_str(), 0); },
         DAT_NOT_FOUND, dir / "none: No such file"},
        {"a directory as a file", [&](dat_writer* w) { return dat_add_file(w, "m", sub.c_str(), 0); },
         DAT_REFUSED, sub + ": not a regular file"},
        {"the archive itself", [&](dat_writer* w) { return dat_add_file(w, "self", path.c_str(), 0); },
         DAT_REFUSED, path + ": it is the archive"},
        {"a missing tree", [&](dat_writer* w) { return dat_add_tree(w, "m", (dir / "none").c_str(), 0); },
         DAT_NOT_FOUND, dir / "none: not a directory"},
        // Of two items a tree leaves out, the first is told.
        {"two items a tree leaves out",
         [&](dat_writer* w) {
             writeBytes(sub + "/a\\x", "1");
             writeBytes(sub + "/b\\x", "2");
             return dat_add_tree(w, "t", sub.c_str(), 0);
         },
         DAT_REFUSED, sub + "\\a\\x: name contains a backslash"},
        {"no bytes", [](dat_writer* w) { return dat_add_bytes(w, "b", nullptr, 1, 0); }, DAT_OUT_OF_RANGE,
         "no bytes"},
        {"a source gone at the finish",
         [&](dat_writer* w) {
             dat_add_file(w, "s", source.c_str(), 0);
             fs::remove(source);
             return dat_finish(w);
         },
         DAT_SYSTEM_ERROR, source + ": No such file"},
        {"a full disk", fullDisk, DAT_SYSTEM_ERROR, "cannot write the archive: File too large"},
        // Updates: what they copy from the old archive changes nothing there.
        {"an update aborted",
         [](dat_writer* w) { return dat_remove(w, "d/a.txt"), dat_abort(w), dat_writer_status(w); }, DAT_OK,
         "", sound},
        {"an update's source gone at the finish",
         [&](dat_writer* w) {
             dat_add_file(w, "d/a.txt", source.c_str(), 0);
             fs::remove(source);
             return dat_finish(w);
         },
         DAT_SYSTEM_ERROR, source + ": No such file", sound},
        {"an update on a full disk", fullDisk, DAT_SYSTEM_ERROR, "cannot write the archive: File too large",
         sound},
        {"a member that selects nothing", [](dat_writer* w) { return dat_remove(w, "d/*.msh"); },
         DAT_NOT_FOUND, "d/*.msh: not in the archive", sound},
        {"an update over no archive", status, DAT_NOT_A_DAT, "Not a DAT file", "not an archive", false},
        {"an update over a damaged one", status, DAT_DAMAGED,
         "Damaged archive: record at offset 58 runs past the end of the TOC at 71",
         readBytes(dataFile("cut_short.dat")), false},
        {"entries out of order", status, DAT_REFUSED, "a is out of order",
         archiveBytes({dirNode("d", {fileNode("b", "1"), fileNode("a", "2")})}), false},
        {"a path twice", status, DAT_REFUSED, "a is stored twice",
         archiveBytes({dirNode("d", {fileNode("a", "1"), fileNode("a", "2")})}), false},
        {"a top-level name twice", status, DAT_REFUSED, "d is stored twice",
         archiveBytes({dirNode("d"), dirNode("d")}), false},
        {"a flag c would not set", status, DAT_REFUSED, "a.txt is not stored as \"c\" stores it",
         archiveBytes({dirNode("d", {fileNode("a.txt", "1", 0)})}), false},
        {"a path x refuses", status, DAT_REFUSED, "a/../../up\\: path leaves the current directory",
         archiveBytes({dirNode("a/../../up", {fileNode("a", "1")})}), false},
    };
    for (const Case& c : cases) {
        const std::string& was = c.old.empty() ? old : c.old;
        writeBytes(path, was);
        writeBytes(source, "source");
        fs::create_directories(sub);
        const std::vector<std::string> before = namesIn(dir.path);
        dat_writer* w = c.old.empty() ? dat_create(path.c_str()) : dat_update(path.c_str());
        ASSERT_NE(w, nullptr);
        if (c.opens) {
            ASSERT_EQ(dat_writer_status(w), DAT_OK) << c.what << ": " << dat_writer_error(w);
        }
        EXPECT_EQ(c.run(w), c.status) << c.what;
        if (c.status != DAT_OK) {
            EXPECT_EQ(std::string(dat_writer_error(w) ? dat_writer_error(w) : "<none>").rfind(c.why, 0), 0u)
                << c.what << ": " << (dat_writer_error(w) ? dat_writer_error(w) : "<none>");
        }
        dat_abort(w);
        dat_writer_free(w);
        EXPECT_TRUE(readBytes(path) == was) << c.what;
        writeBytes(source, "source");
        EXPECT_EQ(namesIn(dir.path), before) << c.what;
    }
    // A writer whose archive cannot be made says why, and fails every call.
    dat_writer* w = dat_create((dir / "none/new.dat").c_str());
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(dat_writer_status(w), DAT_NOT_FOUND);
    EXPECT_STREQ(dat_writer_error(w), "No such file or directory");
    EXPECT_EQ(dat_add_bytes(w, "a", "x", 1, 0), DAT_NOT_FOUND);
    EXPECT_EQ(dat_finish(w), DAT_NOT_FOUND);
    dat_writer_free(w);
    // One that stands in the way is no missing file.
    w = dat_create(sub.c_str());
    EXPECT_EQ(dat_writer_status(w), DAT_SYSTEM_ERROR) << dat_writer_error(w);
    dat_writer_free(w);
    EXPECT_EQ(dat_writer_status(nullptr), DAT_NO_MEMORY);
    EXPECT_STREQ(dat_writer_error(nullptr), "out of memory");
    dat_writer_free(nullptr);
}

// Bytes from memory beyond what is held in memory go to a temporary file
// beside the archive, and come back whole; the archive replaces the old one
// only at the finish, and nothing else is left.
TEST(Library, WriterHoldsBytesBeyondItsMemoryInAFile) {
    ScratchDir dir;
    const std::string path = dir / "new.dat";
    writeBytes(path, "old");
    const std::string first = noise(9 << 20, 3), second = noise(9 << 20, 4), third = noise(5 << 20, 5);
    dat_writer* w = dat_create(path.c_str());
    ASSERT_EQ(dat_add_bytes(w, "d/first.bin", first.data(), first.size(), 0), DAT_OK);
    ASSERT_EQ(dat_add_bytes(w, "d/second.tex", second.data(), second.size(), 0), DAT_OK);
    ASSERT_EQ(dat_add_bytes(w, "D/third", third.data(), third.size(), 0), DAT_OK);
    ASSERT_EQ(dat_add_directory(w, "D/e", 0), DAT_OK);
    EXPECT_EQ(readBytes(path), "old");
    EXPECT_EQ(namesIn(dir.path).size(), 2u);  // the archive and its temporary file, the held bytes unnamed
    ASSERT_EQ(dat_finish(w), DAT_OK) << dat_writer_error(w);
    dat_writer_free(w);
    EXPECT_EQ(namesIn(dir.path), std::vector<std::string>{"new.dat"});
    const dat::Archive a(path);
    ASSERT_TRUE(a.isOpen()) << a.error();
    EXPECT_EQ(listing(a), "d\\\nd\\first.bin\nd\\second.tex\nD\\\nD\\e\\\nD\\third\n");
    EXPECT_TRUE(contents(a, a.find("D/third")) == third);
    EXPECT_TRUE(contents(a, a.find("d/first.bin")) == first);
    EXPECT_TRUE(contents(a, a.find("d/second.tex")) == second);
    EXPECT_FALSE(a.entry(a.find("d/second.tex")).size == 0);
}

// The C face's extraction of members, as "x" takes them: what each
// selects, below the directory given, and each member that selects nothing
// told once, with no entry.
TEST(Library, ExtractsTheMembersSelected) {
    struct Case {
        std::vector<const char*> members;
        int status;
        std::map<std::string, std::string> tree;
        std::vector<std::string> told;  // status, entry and path of each outcome
    };
    const Case cases[] = {
        {{"data/a.txt"}, DAT_OK, {{"data", "<dir>"}, {"data/a.txt", "abc"}}, {"0 1 data\\a.txt"}},
        {{"data\\*.msh", "none*"},
         DAT_NOT_FOUND,
         {{"data", "<dir>"}, {"data/m.msh", "0123456789"}},
         {"0 2 data\\m.msh", "1 - none*"}},
        {{"data"},
         DAT_OK,
         {{"data", "<dir>"}, {"data/a.txt", "abc"}, {"data/m.msh", "0123456789"}},
         {"0 0 data\\", "0 1 data\\a.txt", "0 2 data\\m.msh"}},
    };
    dat_archive* a = dat_open(dataFile("worked_example.dat").c_str());
    ASSERT_EQ(dat_error(a), nullptr);
    for (const Case& c : cases) {
        const ScratchDir out;
        std::vector<std::string> told;
        const int status = dat_extract(
            a, (out / "in/here").c_str(), c.members.data(), c.members.size(),
            [](void* ctx, size_t entry, int s, const char* path, const char*) {
                static_cast<std::vector<std::string>*>(ctx)->push_back(
                    std::to_string(s) + " " + (entry == DAT_NONE ? "-" : std::to_string(entry)) + " " + path);
            },
            &told);
        EXPECT_EQ(status, c.status) << c.members.size();
        EXPECT_EQ(::treeOf(out / "in/here"), c.tree);
        EXPECT_EQ(told, c.told);
    }
    // A member that selected nothing outranks an entry refused before it.
    dat_archive* refusing = dat_open(dataFile("dot_dot.dat").c_str());
    const char* some[] = {"*", "none"};
    const ScratchDir below;
    EXPECT_EQ(dat_extract(refusing, (below / "in").c_str(), some, 2, nullptr, nullptr), DAT_NOT_FOUND);
    dat_close(refusing);
    // An empty list selects nothing.
    const char* none[] = {nullptr};
    const ScratchDir out;
    EXPECT_EQ(dat_extract(a, (out / "in").c_str(), none, 0, nullptr, nullptr), DAT_OK);
    EXPECT_TRUE(::treeOf(out.path).empty());
    EXPECT_EQ(dat_extract(nullptr, ".", nullptr, 0, nullptr, nullptr), DAT_OUT_OF_RANGE);
    dat_close(a);
}

}  // namespace
