// datmount as a user runs it: every sample archive, a table of tricky trees
// and random trees mounted and compared with what "x" extracts and what the
// library's entries say it extracts, with the link counts a directory on
// disk shows, writes refused, reads from two threads, and an archive cut
// short while mounted. Each
// mount runs in the foreground with auto_unmount, so a test killed by its
// time limit still leaves nothing mounted, and is unmounted at its end; and
// on a small stack, so the deepest sample shows a walk of a call per level.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "dat/archive.hpp"
#include "e2e/harness.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

namespace fs = std::filesystem;

namespace {

// Why the mount tests cannot run here; empty when they can.
std::string cannotMount() {
    if (testingWindowsBuild()) return "a Windows build is under test";
    if (::access("/dev/fuse", R_OK | W_OK) != 0) return "/dev/fuse is missing or not usable";
    // Mounting runs the set-user-ID fusermount3, which valgrind cannot follow.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "vgpreload"))
        return "valgrind cannot run the set-user-ID fusermount3";
    return "";
}

#define SKIP_WITHOUT_FUSE()                                                         \
    do {                                                                            \
        const std::string why = cannotMount();                                      \
        if (!why.empty()) {                                                         \
            std::fprintf(stderr, "*** MOUNT TESTS SKIPPED: %s ***\n", why.c_str()); \
            GTEST_SKIP() << "mount tests skipped: " << why;                         \
        }                                                                           \
    } while (false)

void runWait(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
}

#ifdef DATTOOL_SANITIZED
constexpr rlim_t smallStack = rlim_t(8) << 20;
#else
constexpr rlim_t smallStack = rlim_t(256) << 10;
#endif

// datmount -f -o auto_unmount archive point [options], running until the
// end of the test; up once the point shows another file system.
struct Mount {
    std::string point, errors;
    pid_t pid = -1;
    bool up = false;
    int status = -1;  // once datmount has ended by itself

    // addressSpace: a limit on datmount's address space, in bytes; 0 for none.
    Mount(const std::string& archive, const std::string& at, const std::vector<std::string>& options = {},
          rlim_t addressSpace = 0)
        : point(at), errors(at + ".err") {
        fs::create_directories(point);
        struct stat before {};
        ::stat(point.c_str(), &before);
        std::vector<std::string> argv = {"datmount", "-f", "-o", "auto_unmount", archive, point};
        argv.insert(argv.end(), options.begin(), options.end());
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        pid = fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            const rlimit limit{addressSpace, addressSpace};
            if (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
            // Nothing the mount does takes a call per level of the archive:
            // it runs on a small stack, its threads too (8 MiB with the
            // sanitizers, whose frames are larger).
            const rlimit stack{smallStack, smallStack};
            if (::setrlimit(RLIMIT_STACK, &stack) != 0) ::_exit(126);
            ::execv(DATMOUNT_PATH, args.data());
            ::_exit(127);
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < until) {
            int st = 0;
            if (::waitpid(pid, &st, WNOHANG) == pid) {
                status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
                pid = -1;
                return;
            }
            struct stat now {};
            if (::stat(point.c_str(), &now) == 0 && now.st_dev != before.st_dev) {
                up = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~Mount() {
        if (up) runWait({"fusermount3", "-u", point});
        if (pid > 0) {
            int st = 0;
            ::waitpid(pid, &st, 0);
        }
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    std::string err() const { return readBytes(errors); }
};

// --version: datmount's own line first, then libfuse's, which
// fusermount3, another program, prints in part; to a pipe as well.
TEST(Mount, VersionSaysItsOwnBeforeLibfuses) {
    ScratchDir dir;
    const ToolRun r = runProgram(DATMOUNT_PATH, "", {"--version"}, dir.path);
    EXPECT_EQ(r.out.rfind("datmount " DATTOOL_VERSION "\n", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("FUSE", 1), std::string::npos) << r.out;
    EXPECT_EQ(r.status, 0);
}

// Standard error of x with each line said by datmount instead.
std::string asDatmount(std::string err) {
    for (size_t at = 0; (at = err.find("dattool: ", at)) != std::string::npos;)
        err.replace(at, 9, "datmount: ");
    return err;
}

// Adds to wrong each item below the directory open at fd (its path rel)
// and that directory itself whose link count is not what a directory on
// disk shows: 2 and one for each subdirectory, 1 for a file. Closes fd.
// By handles, so that trees deeper than a path can name are walked.
void checkLinkCounts(int fd, const std::string& rel, std::vector<std::string>& wrong) {
    struct stat st {};
    DIR* d = ::fdopendir(fd);
    if (!d || ::fstat(fd, &st) != 0) {
        wrong.push_back(rel + ": cannot be read");
        if (d)
            ::closedir(d);
        else
            ::close(fd);
        return;
    }
    std::vector<std::string> dirs;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        struct stat item {};
        if (::fstatat(fd, e->d_name, &item, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(item.st_mode))
            dirs.emplace_back(e->d_name);
        else if (item.st_nlink != 1)
            wrong.push_back(rel + "/" + e->d_name + ": " + std::to_string(item.st_nlink) + " links, not 1");
    }
    if (st.st_nlink != 2 + dirs.size())
        wrong.push_back(rel + "/: " + std::to_string(st.st_nlink) + " links, not " +
                        std::to_string(2 + dirs.size()));
    for (const std::string& name : dirs) {
        const int sub = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (sub >= 0) checkLinkCounts(sub, rel + "/" + name, wrong);
    }
    ::closedir(d);
}

// The tree x leaves as the library's entries say it: every entry x writes,
// by its path with "/" between names, each directory on the way, and each
// file's bytes from the last entry written there, read through the library.
std::map<std::string, std::string> entriesTree(const dat::Archive& a) {
    std::map<std::string, std::string> tree;
    for (size_t i = 0; i < a.size(); ++i) {
        const dat::Entry e = a.entry(i);
        std::string path = a.written(i);
        if (!e.refusal.empty() || e.replaced || path.empty()) continue;
        std::string bytes(e.kind == dat::Kind::file ? e.size : 0, '\0');
        if (!bytes.empty() && a.read(i, 0, bytes.data(), bytes.size()) != static_cast<int64_t>(bytes.size()))
            bytes = "<read failed>";
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string name;
        std::string at;
        for (char c : path + "/") {
            if (c != '/') {
                name += c;
                continue;
            }
            if (!name.empty() && name != ".") at += (at.empty() ? "" : "/") + name;
            if (!at.empty() && !tree.count(at)) tree[at] = "<dir>";
            name.clear();
        }
        if (e.kind == dat::Kind::file) tree[at] = bytes;
    }
    return tree;
}

// Standard error of x as the library's entries say it: a line for each
// entry x leaves alone, naming it as x does.
std::string leftOutOf(const dat::Archive& a) {
    std::string lines;
    for (size_t i = 0; i < a.size(); ++i) {
        const dat::Entry e = a.entry(i);
        if (!e.refusal.empty()) lines += "dattool: " + a.named(i) + ": " + std::string(e.refusal) + "\n";
    }
    return lines;
}

// What x leaves on disk, what the library's entries say it leaves and what
// the mount shows are one tree, names, sizes and bytes, and all three say
// the same of each entry left out; an archive x refuses whole is opened by
// neither, with x's reason, and the mount ends with status 255. Returns
// whether it was mounted.
bool expectThreeAgree(const std::string& archive) {
    ScratchDir dir;
    fs::create_directories(dir / "x");
    const ToolRun x = runNative({"x", archive}, dir / "x");
    const bool refusedWhole = x.err.find("Damaged archive") != std::string::npos ||
                              x.err.find("Not a DAT file") != std::string::npos;
    const dat::Archive library(archive);
    Mount m(archive, dir / "mnt");
    if (refusedWhole) {
        EXPECT_FALSE(library.isOpen());
        EXPECT_EQ("dattool: " + archive + ": " + library.error() + "\n", x.err);
        EXPECT_FALSE(m.up);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err(), asDatmount(x.err));
        return false;
    }
    EXPECT_TRUE(library.isOpen()) << library.error();
    EXPECT_EQ(entriesTree(library), treeOf(dir / "x"));
    EXPECT_EQ(leftOutOf(library), x.err);
    EXPECT_TRUE(m.up) << m.err();
    if (!m.up) return false;
    EXPECT_EQ(treeOf(m.point), treeOf(dir / "x"));
    EXPECT_EQ(m.err(), asDatmount(x.err));
    std::vector<std::string> wrong;
    checkLinkCounts(::open(m.point.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), "", wrong);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " wrong link counts, the first " << wrong.front();
    return true;
}

struct MountSamples : ::testing::TestWithParam<std::string> {};

TEST_P(MountSamples, ShowsWhatXExtracts) {
    SKIP_WITHOUT_FUSE();
    expectThreeAgree(dataFile(GetParam() + ".dat"));
}

INSTANTIATE_TEST_SUITE_P(Data, MountSamples, ::testing::ValuesIn(sampleStems()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return testNameFor(info.param);
                         });

// Trees the samples do not hold: what x makes of repeated names,
// separators inside names and names too long for the system.
struct Tricky {
    const char* name;
    std::vector<Node> top;
};

const std::vector<Tricky>& trickyTrees() {
    static const std::vector<Tricky> rows = {
        {"later_file_replaces_earlier", {fileNode("a.txt", "first"), fileNode("a.txt", "second, longer")}},
        {"directories_of_one_name_merge",
         {dirNode("d", {fileNode("one", "1")}),
          dirNode("d", {fileNode("two", "22"), fileNode("one", "111")})}},
        {"file_then_directory_of_one_name", {fileNode("n", "file"), dirNode("n", {fileNode("in", "x")})}},
        {"directory_then_file_of_one_name", {dirNode("n", {fileNode("in", "x")}), fileNode("n", "file")}},
        {"separators_inside_a_name_make_parents",
         {fileNode("p\\q/r.txt", "deep"), dirNode("s\\t", {fileNode("u", "under")})}},
        {"empty_and_dot_names_merge_into_parent",
         {dirNode("", {fileNode("top.txt", "t")}), dirNode(".", {dirNode("e", {fileNode("f", "ff")})})}},
        {"name_of_255_bytes_shown", {fileNode(std::string(255, 'n'), "fits")}},
        {"names_of_256_bytes_left_out",
         {fileNode(std::string(256, 'f'), "long"), dirNode(std::string(256, 'd'), {fileNode("in", "x")}),
          fileNode("k/" + std::string(257, 'g'), "nor its directory"), fileNode("ok", "ok")}},
        {"file_in_the_way_below", {fileNode("a", "file"), fileNode("a/b", "under a file")}},
    };
    return rows;
}

struct MountTricky : ::testing::TestWithParam<size_t> {};

TEST_P(MountTricky, ShowsWhatXExtracts) {
    SKIP_WITHOUT_FUSE();
    ScratchDir dir;
    writeBytes(dir / "a.dat", archiveBytes(trickyTrees()[GetParam()].top));
    EXPECT_TRUE(expectThreeAgree(dir / "a.dat")) << "the archive must be sound";
}

INSTANTIATE_TEST_SUITE_P(Trees, MountTricky, ::testing::Range<size_t>(0, trickyTrees().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(trickyTrees()[info.param].name);
                         });

// The mount point as the user finds it, and the options the user gives:
// what datmount refuses, says, and shows through stat.
enum Before { clear, occupied, mounted };  // what the mount point holds

struct Shown {
    mode_t dir = 0555, file = 0444;
    long uid = -1, gid = -1;  // -1: whoever mounted
};

struct PointCase {
    const char* name;
    Before before;
    const char* options;  // the arguments after the mount point, split at spaces
    std::string err;      // datmount's line, "<point>" for the mount point; "" for none
    bool up;              // otherwise refused with status 255
    Shown shown{};
};

const std::vector<PointCase>& pointCases() {
    static const std::string notEmpty = "<point>: not empty; what it holds is hidden until unmounted";
    static const std::vector<PointCase> rows = {
        {"mount_on_a_mount_refused", mounted, "", "<point>: already a mount point", false},
        {"not_empty_said_and_mounted", occupied, "", notEmpty, true},
        {"nonempty_accepted", occupied, "-o nonempty", notEmpty, true},
        {"uid_gid_umask_shown", clear, "-o uid=1234,gid=5678,umask=027", "", true, {0750, 0640, 1234, 5678}},
        {"umask_in_its_own_option", clear, "-o ro -o umask=0", "", true, {0777, 0666}},
        {"umask_of_every_bit", clear, "-o umask=0777", "", true, {0, 0}},
        {"uid_not_a_number_refused", clear, "-o uid=12a", "uid=12a: not a numeric ID", false},
        {"gid_out_of_range_refused", clear, "-o gid=4294967296", "gid=4294967296: not a numeric ID", false},
        {"umask_not_octal_refused", clear, "-o umask=0778", "umask=0778: not an octal mask up to 0777",
         false},
        {"umask_digit_8_refused", clear, "-o umask=028", "umask=028: not an octal mask up to 0777", false},
    };
    return rows;
}

struct MountPoint : ::testing::TestWithParam<size_t> {};

TEST_P(MountPoint, RefusedSaidOrShownAsAsked) {
    SKIP_WITHOUT_FUSE();
    const PointCase& row = pointCases()[GetParam()];
    ScratchDir dir;
    writeBytes(dir / "a.dat", archiveBytes({dirNode("d", {fileNode("f.txt", "bytes")})}));
    const std::string point = dir / "mnt";
    fs::create_directories(point);
    if (row.before == occupied) writeBytes(point + "/hidden", "under the mount");
    std::unique_ptr<Mount> first;
    if (row.before == mounted) {
        first = std::make_unique<Mount>(dir / "a.dat", point);
        ASSERT_TRUE(first->up) << first->err();
    }
    std::vector<std::string> options;
    std::istringstream words(row.options);
    for (std::string w; words >> w;) options.push_back(w);
    Mount m(dir / "a.dat", point, options);
    std::string want = row.err.empty() ? "" : "datmount: " + row.err + "\n";
    for (size_t at; (at = want.find("<point>")) != std::string::npos;) want.replace(at, 7, point);
    EXPECT_EQ(m.err(), want);
    EXPECT_EQ(m.up, row.up);
    if (!row.up) {
        EXPECT_EQ(m.status, 255);
        return;
    }
    if (!m.up) return;
    struct stat st {};
    ASSERT_EQ(::stat((point + "/d").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFDIR | row.shown.dir);
    EXPECT_EQ(st.st_uid, row.shown.uid < 0 ? ::getuid() : static_cast<uid_t>(row.shown.uid));
    EXPECT_EQ(st.st_gid, row.shown.gid < 0 ? ::getgid() : static_cast<gid_t>(row.shown.gid));
    ASSERT_EQ(::stat((point + "/d/f.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | row.shown.file);
    EXPECT_EQ(st.st_uid, row.shown.uid < 0 ? ::getuid() : static_cast<uid_t>(row.shown.uid));
    EXPECT_EQ(st.st_gid, row.shown.gid < 0 ? ::getgid() : static_cast<gid_t>(row.shown.gid));
    EXPECT_EQ(readBytes(point + "/d/f.txt"), "bytes");
    EXPECT_FALSE(exists(point + "/hidden"));
}

INSTANTIATE_TEST_SUITE_P(Points, MountPoint, ::testing::Range<size_t>(0, pointCases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(pointCases()[info.param].name);
                         });

// Random small trees of names chosen to meet: repeated, nested through
// either separator, ".", "..", empty, anchored, drives, and a file and a
// directory of one path. x, the library and the mount agree on each.
TEST(Mount, XTheLibraryAndTheMountAgreeOnRandomTrees) {
    SKIP_WITHOUT_FUSE();
    const char* const pool[] = {"a",    "b",        "a",    ".",     "",     "..",     "a\\b",    "b/a",
                                "\\a",  "C:b",      "C:",   "a\\",   "./a",  "a/./b",  "a\\b\\c", "c\\.",
                                "b//a", "x\\..\\y", "../b", "D:\\a", "a\\c", "b\\a\\c"};
    std::mt19937 random(29);
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::function<std::vector<Node>(int)> tree = [&](int depth) {
        std::vector<Node> list(pick(depth == 0 ? 6 : 4));
        for (Node& n : list) {
            const std::string name = pool[pick(std::size(pool))];
            n = depth < 3 && pick(2) == 0
                    ? dirNode(name, tree(depth + 1))
                    : fileNode(name, pick(3) ? std::string(1 + pick(3), 'a' + pick(26)) : "");
        }
        return list;
    };
    ScratchDir dir;
#ifdef DATTOOL_SANITIZED
    const int rounds = 50;  // each round starts three sanitized programs
#else
    const int rounds = 300;
#endif
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        writeBytes(dir / "a.dat", archiveBytes(tree(0)));
        if (!expectThreeAgree(dir / "a.dat")) FAIL() << "the archive must be sound";
        if (::testing::Test::HasFailure()) break;
    }
}

// Bytes no two offsets of which are alike over a long stretch, so a read
// from the wrong place cannot pass.
std::string noise(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    return s;
}

TEST(Mount, RefusesEveryChangeWithEROFSAndShowsOwnerModesAndTimes) {
    SKIP_WITHOUT_FUSE();
    ScratchDir dir;
    writeBytes(dir / "a.dat", archiveBytes({dirNode("d", {fileNode("f.txt", "bytes")})}));
    struct stat archive {};
    ASSERT_EQ(::stat((dir / "a.dat").c_str(), &archive), 0);
    Mount m(dir / "a.dat", dir / "mnt");
    ASSERT_TRUE(m.up) << m.err();
    const std::string d = m.point + "/d", f = d + "/f.txt";
    const std::vector<std::pair<const char*, std::function<int()>>> changes = {
        {"open for writing", [&] { return ::open(f.c_str(), O_WRONLY); }},
        {"open for reading and writing", [&] { return ::open(f.c_str(), O_RDWR); }},
        {"create", [&] { return ::open((d + "/new").c_str(), O_WRONLY | O_CREAT, 0644); }},
        {"truncate", [&] { return ::truncate(f.c_str(), 0); }},
        {"mkdir", [&] { return ::mkdir((d + "/new").c_str(), 0755); }},
        {"rmdir", [&] { return ::rmdir(d.c_str()); }},
        {"unlink", [&] { return ::unlink(f.c_str()); }},
        {"rename", [&] { return ::rename(f.c_str(), (d + "/g.txt").c_str()); }},
        {"chmod", [&] { return ::chmod(f.c_str(), 0644); }},
        {"chown", [&] { return ::chown(f.c_str(), 1, 1); }},
        {"link", [&] { return ::link(f.c_str(), (d + "/h.txt").c_str()); }},
        {"symlink", [&] { return ::symlink("f.txt", (d + "/s").c_str()); }},
        {"utimes", [&] { return ::utimensat(AT_FDCWD, f.c_str(), nullptr, 0); }},
    };
    for (const auto& [what, change] : changes) {
        errno = 0;
        const int got = change();
        EXPECT_EQ(got, -1) << what;
        EXPECT_EQ(errno, EROFS) << what;
        if (got >= 0) ::close(got);
    }
    struct stat st {};
    ASSERT_EQ(::stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFDIR | 0555u);
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0444u);
    EXPECT_EQ(st.st_size, 5);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_EQ(st.st_gid, ::getgid());
    EXPECT_EQ(st.st_mtim.tv_sec, archive.st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, archive.st_mtim.tv_nsec);
    EXPECT_EQ(readBytes(f), "bytes");
}

TEST(Mount, TwoThreadsReadDifferentMembersAndOneMemberAtDifferentOffsets) {
    SKIP_WITHOUT_FUSE();
    ScratchDir dir;
    const std::string one = noise(3 << 20, 1), two = noise((2 << 20) + 12345, 2);
    writeBytes(dir / "a.dat", archiveBytes({fileNode("one", one), fileNode("two", two, 0)}));
    Mount m(dir / "a.dat", dir / "mnt");
    ASSERT_TRUE(m.up) << m.err();
    // Each thread reads its ranges through its own descriptor; the pairs
    // of threads read two members, then the two halves of one member in
    // opposite directions.
    auto reader = [](const std::string& path, const std::string& want, size_t from, size_t to, bool backwards,
                     std::string& failed) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        if (fd < 0) {
            failed = "cannot open " + path;
            return;
        }
        constexpr size_t chunk = 100000;  // not page-aligned, so reads straddle pages
        std::string buf(chunk, '\0');
        const size_t steps = (to - from + chunk - 1) / chunk;
        for (size_t s = 0; s < steps && failed.empty(); ++s) {
            const size_t at = from + (backwards ? steps - 1 - s : s) * chunk;
            const size_t n = std::min(chunk, to - at);
            if (::pread(fd, buf.data(), n, static_cast<off_t>(at)) != static_cast<ssize_t>(n) ||
                buf.compare(0, n, want, at, n) != 0)
                failed = path + " differs at " + std::to_string(at);
        }
        ::close(fd);
    };
    std::string failedA, failedB;
    std::thread a(reader, m.point + "/one", std::cref(one), 0, one.size(), false, std::ref(failedA));
    std::thread b(reader, m.point + "/two", std::cref(two), 0, two.size(), true, std::ref(failedB));
    a.join();
    b.join();
    EXPECT_EQ(failedA, "");
    EXPECT_EQ(failedB, "");
    // The same member from two threads, fresh pages: a second mount.
    Mount again(dir / "a.dat", dir / "mnt2");
    ASSERT_TRUE(again.up) << again.err();
    std::string failedC, failedD;
    std::thread c(reader, again.point + "/one", std::cref(one), 0, one.size() / 2, true, std::ref(failedC));
    std::thread d(reader, again.point + "/one", std::cref(one), one.size() / 2, one.size(), false,
                  std::ref(failedD));
    c.join();
    d.join();
    EXPECT_EQ(failedC, "");
    EXPECT_EQ(failedD, "");
}

TEST(Mount, MemberNotYetReadOfAnArchiveCutShortGivesEIO) {
    SKIP_WITHOUT_FUSE();
    ScratchDir dir;
    const std::string first = noise(300000, 3), second = noise(300000, 4);
    const std::string bytes = archiveBytes({fileNode("first", first), fileNode("second", second)});
    writeBytes(dir / "a.dat", bytes);
    Mount m(dir / "a.dat", dir / "mnt");
    ASSERT_TRUE(m.up) << m.err();
    EXPECT_EQ(readBytes(m.point + "/first"), first);
    // Cut inside the second member's bytes, which nothing has read yet.
    ASSERT_EQ(::truncate((dir / "a.dat").c_str(), static_cast<off_t>(bytes.size() - 200000)), 0);
    const int fd = ::open((m.point + "/second").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::string buf(second.size(), '\0');
    errno = 0;
    const ssize_t got = ::pread(fd, buf.data(), buf.size(), 150000);
    EXPECT_EQ(got, -1);
    EXPECT_EQ(errno, EIO);
    // One that begins before the cut gives at most the bytes before it, as
    // they are, never what lies past it.
    const ssize_t some = ::pread(fd, buf.data(), buf.size(), 50000);
    const size_t kept = some > 0 ? static_cast<size_t>(some) : 0;
    EXPECT_LE(some, 50000);
    EXPECT_TRUE(buf.substr(0, kept) == second.substr(50000, kept));
    ::close(fd);
    // What was read before stays as it was.
    EXPECT_EQ(readBytes(m.point + "/first"), first);
}

// An archive the library opens within the limit, but whose mounted tree
// needs more: said so, as "l" says it, and nothing mounted.
TEST(Mount, ArchiveTooLargeForItsMemoryIsSaidSo) {
    SKIP_WITHOUT_FUSE();
#ifdef DATTOOL_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
    ScratchDir dir;
    std::vector<Node> top;
    for (int d = 0; d < 300; ++d) {
        std::vector<Node> files;
        for (int f = 0; f < 1000; ++f) files.push_back(fileNode("f" + std::to_string(f), ""));
        top.push_back(dirNode("d" + std::to_string(d), std::move(files)));
    }
    writeBytes(dir / "many.dat", archiveBytes(top));
    Mount m(dir / "many.dat", dir / "mnt", {}, rlim_t(80) << 20);
    EXPECT_FALSE(m.up);
    EXPECT_EQ(m.status, 255);
    EXPECT_EQ(m.err(), "datmount: " + dir / "many.dat" + ": Archive does not fit in memory\n");
}

}  // namespace
