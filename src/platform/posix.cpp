// POSIX backend of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <stdio_ext.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/copying.h"
#include "platform/names.h"
#include "platform/platform.h"

namespace dat::detail {

namespace {

// The program separates names with "\\"; this system with "/".
std::string diskPath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

// errno of the last call that failed, kept before anything else runs.
// Per thread, as errno is: a library user may open archives on several.
thread_local int lastErrno = 0;

// Notes errno and passes result through, for one-line failure paths.
template <typename T>
T noted(T result) {
    lastErrno = errno;
    return result;
}

int descriptorOf(const File& f) {
    return static_cast<int>(f.handle);
}

// Repeats a system call that a signal interrupted before it did anything,
// and returns its last result; the one place that knows of EINTR.
template <typename Call>
auto retried(Call call) -> decltype(call()) {
    decltype(call()) rc;
    do rc = call();
    while (rc < 0 && errno == EINTR);
    return rc;
}

int openRetry(const std::string& path, int flags, mode_t mode = 0) {
    const int fd = retried([&] { return ::open(diskPath(path).c_str(), flags | O_CLOEXEC, mode); });
    return fd < 0 ? noted(fd) : fd;
}

// Whether the permission bits alone may keep this user from reading a file.
// Root reads everything; the owner's bits are the owner's answer; anyone
// else may be let in or kept out by groups and access lists.
bool bitsDenyReading(const struct stat& st) {
    static const uid_t user = ::geteuid();
    if (user == 0) return false;
    if (st.st_uid == user) return (st.st_mode & S_IRUSR) == 0;
    return (st.st_mode & (S_IRGRP | S_IROTH)) != (S_IRGRP | S_IROTH);
}

// Flags of a held directory. On Linux a handle that only reaches what lies
// below needs search permission alone; O_DIRECTORY and O_NOFOLLOW still
// refuse anything else, a link included.
#ifdef O_PATH
constexpr int dirFlags = O_PATH | O_DIRECTORY;
#else
constexpr int dirFlags = O_RDONLY | O_DIRECTORY;
#endif

int openAtRetry(int at, const std::string& name, int flags, mode_t mode = 0) {
    const int fd = retried([&] { return ::openat(at, name.c_str(), flags | O_CLOEXEC, mode); });
    return fd < 0 ? noted(fd) : fd;
}

}  // namespace

// Non-blocking, so a file that became a FIFO after it was scanned cannot
// hang the run; regular files read the same either way.
File fileOpenRead(const std::string& path) {
    return File(openRetry(path, O_RDONLY | O_NONBLOCK));
}

File fileOpenReadShared(const std::string& path) {
    return fileOpenRead(path);
}

size_t fileRead(File& f, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        const ssize_t got = retried([&] { return ::read(descriptorOf(f), p + done, n - done); });
        if (got < 0) noted(0);
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    f.pos += done;
    return done;
}

size_t fileReadAt(const File& f, uint64_t offset, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        if (offset + done > static_cast<uint64_t>(INT64_MAX)) break;
        const ssize_t got = retried(
            [&] { return ::pread(descriptorOf(f), p + done, n - done, static_cast<off_t>(offset + done)); });
        if (got < 0) noted(0);
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

size_t fileWrite(File& f, const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        const ssize_t put = retried([&] { return ::write(descriptorOf(f), p + done, n - done); });
        if (put < 0) noted(0);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    f.pos += done;
    return done;
}

uint64_t fileCopy(const File& from, uint64_t at, File& to, uint64_t n, bool& toFailed) {
    toFailed = false;
    uint64_t done = 0;
    // The kernel copies whole pages, or shares blocks, only where both
    // sides stand at the same place in a page; elsewhere it moves the bytes
    // slower than a buffer does (bench/README.md). Any error, and 0 from a
    // file system that copies nothing this way, leaves the rest to the
    // buffer, which tells a real end or failure.
    const bool sameInPage = (at - to.pos) % 4096 == 0;
    while (sameInPage && done < n && at + done <= static_cast<uint64_t>(INT64_MAX)) {
        auto in = static_cast<loff_t>(at + done);
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, uint64_t(1) << 30));
        const ssize_t put = retried(
            [&] { return ::copy_file_range(descriptorOf(from), &in, descriptorOf(to), nullptr, want, 0); });
        if (put <= 0) break;
        done += static_cast<uint64_t>(put);
    }
    to.pos += done;
    return done < n ? done + copyThrough(from, at + done, to, n - done, toFailed) : done;
}

uint64_t filePosition(const File& f) {
    return f.pos;
}

bool fileSeek(File& f, uint64_t pos) {
    if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
    if (::lseek(descriptorOf(f), static_cast<off_t>(pos), SEEK_SET) < 0) return noted(false);
    f.pos = pos;
    return true;
}

uint64_t fileLength(const File& f) {
    struct stat st {};
    if (::fstat(descriptorOf(f), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool fileIsRegular(const File& f) {
    struct stat st {};
    return ::fstat(descriptorOf(f), &st) == 0 && S_ISREG(st.st_mode);
}

bool fileClose(File& f) {
    if (f.handle == -1) return true;
    int rc = ::close(descriptorOf(f));
    f.handle = -1;
    return rc == 0 || noted(false);
}

FileId fileIdOf(const File& f) {
    struct stat st {};
    if (::fstat(descriptorOf(f), &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool regularFileId(const File& f, FileId& id) {
    struct stat st {};
    if (::fstat(descriptorOf(f), &st) != 0) return false;
    id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return S_ISREG(st.st_mode);
}

PathKind pathKind(const std::string& path) {
    struct stat st {};
    if (::lstat(diskPath(path).c_str(), &st) != 0) return PathKind::missing;
    if (S_ISLNK(st.st_mode)) return PathKind::link;
    if (S_ISDIR(st.st_mode)) return PathKind::directory;
    if (S_ISREG(st.st_mode)) return PathKind::file;
    return PathKind::other;
}

Dir dirAt(const std::string& path) {
    Dir d;
    d.handle = openRetry(path, dirFlags);
    return d;
}

void dirClose(Dir& d) {
    if (d.handle != -1) ::close(static_cast<int>(d.handle));
    d.handle = -1;
}

DirOpened dirOpen(const Dir& parent, const std::string& name, Dir& out) {
    const int at = static_cast<int>(parent.handle);
    const int fd = retried([&] { return ::openat(at, name.c_str(), dirFlags | O_NOFOLLOW | O_CLOEXEC); });
    if (fd >= 0) {
        out = Dir();
        out.handle = fd;
        return DirOpened::opened;
    }
    const int error = noted(errno);
    if (error == EMFILE || error == ENFILE) return DirOpened::exhausted;
    if (error == ENOENT) return DirOpened::missing;
    // O_NOFOLLOW fails with ELOOP on a link, O_DIRECTORY with ENOTDIR on
    // anything else; one look tells the two apart for certain.
    struct stat st {};
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return DirOpened::failed;
    if (S_ISLNK(st.st_mode)) return DirOpened::link;
    if (!S_ISDIR(st.st_mode)) return DirOpened::notDirectory;
    return DirOpened::failed;
}

// 0777 less the umask, as every program makes directories: the user's
// umask, not the archive, decides who may enter what is extracted. The
// system gives no handle with the new directory: it is opened as dirOpen
// opens one, never through a link that took its place.
Dir dirMake(const Dir& parent, const std::string& name) {
    Dir d;
    const int at = static_cast<int>(parent.handle);
    if (::mkdirat(at, name.c_str(), 0777) != 0) return noted(std::move(d));
    d.handle = openAtRetry(at, name, dirFlags | O_NOFOLLOW);
    return d;
}

// O_EXCL is what refuses a planted link: an exclusive create fails on any
// name that exists, a link included whatever it leads to, so the file
// written is always one this call made, never what someone put there.
// taken tells that case apart. 0666 less the umask, as for directories.
File fileCreateIn(const Dir& parent, const std::string& name, bool& taken) {
    const int fd =
        openAtRetry(static_cast<int>(parent.handle), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
    taken = fd < 0 && errno == EEXIST;
    return File(fd);
}

bool isDirectoryIn(const Dir& parent, const std::string& name) {
    struct stat st {};
    return ::fstatat(static_cast<int>(parent.handle), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

File tempFileIn(const Dir& parent, const std::string& name, std::string& temp) {
    // Only the replacing of a file comes here, so drawing each name from
    // the system's random source costs a fresh extraction nothing. O_EXCL
    // again: a name someone else took meanwhile, a link included, is never
    // opened; another name is tried.
    std::random_device random;
    for (int tries = 0; tries < 100; ++tries) {
        temp = tempNameFor(name, static_cast<uint32_t>(random()));
        const int fd =
            openAtRetry(static_cast<int>(parent.handle), temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
        if (fd >= 0) return File(fd);
        if (errno != EEXIST) break;
    }
    temp.clear();
    return File();
}

namespace {

// The umask can only be read by setting it, which another thread creating
// a file meanwhile would feel: it is read once, on the first file finished,
// when the program runs on one thread.
mode_t currentUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(077);
        ::umask(m);
        return m;
    }();
    return mask;
}

}  // namespace

// The owner first: a change of owner clears the set-ID bits, and the bits
// then make the file readable to others only once it has its owner.
bool fileFinalMode(File& to, const File* like, bool& ownerKept) {
    ownerKept = true;
    const int fd = descriptorOf(to);
    if (!like) return ::fchmod(fd, 0666 & ~currentUmask()) == 0 || noted(false);
    struct stat old {};
    struct stat now {};
    if (::fstat(descriptorOf(*like), &old) != 0 || ::fstat(fd, &now) != 0) return noted(false);
    ownerKept =
        (old.st_uid == now.st_uid && old.st_gid == now.st_gid) || ::fchown(fd, old.st_uid, old.st_gid) == 0;
    // Where another user's file cannot be, the group, whose members may
    // share the archive, may still be kept; where it cannot either, the
    // group's bits are not handed to another group.
    const bool groupKept =
        ownerKept || old.st_gid == now.st_gid || ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0;
    return ::fchmod(fd, old.st_mode & (groupKept ? 0777 : 0707)) == 0 || noted(false);
}

File fileOpenReadIn(const Dir& parent, const std::string& name) {
    return File(openAtRetry(static_cast<int>(parent.handle), name, O_RDONLY | O_NOFOLLOW));
}

bool renameIn(const Dir& parent, const std::string& from, const std::string& to) {
    const int at = static_cast<int>(parent.handle);
    return ::renameat(at, from.c_str(), at, to.c_str()) == 0 || noted(false);
}

bool removeIn(const Dir& parent, const std::string& name) {
    return ::unlinkat(static_cast<int>(parent.handle), name.c_str(), 0) == 0;
}

// Closed first, so that a write the close reports lost is never kept; the
// rename goes by name, as nothing else can here.
bool fileKeep(File& f, const Dir& parent, const std::string& made, const std::string& to, File* held) {
    if (!fileClose(f)) return false;
    if (made == to || renameIn(parent, made, to)) {
        if (held) fileClose(*held);
        return true;
    }
    // The whole file, opened again for the caller to copy from.
    const int error = lastErrno;
    f = fileOpenReadIn(parent, made);
    lastErrno = error;
    return false;
}

bool fileKeepNew(File& f, const Dir& parent, const std::string& made, const std::string& to, bool& taken) {
    taken = false;
    if (!fileClose(f)) return false;
    if (made == to || renameNewIn(parent, made, to, taken)) return true;
    // The whole file, opened again for the caller to copy from.
    const int error = lastErrno;
    f = fileOpenReadIn(parent, made);
    lastErrno = error;
    return false;
}

void fileDiscard(File& f, const Dir& parent, const std::string& made) {
    const int error = lastErrno;
    fileClose(f);
    removeIn(parent, made);
    lastErrno = error;
}

// Where the file system refuses the flag (EINVAL), a second name is made
// for the file and the first removed: a link, too, fails on any name that
// exists. Between the two the file has both names; a signal then removes
// the temporary one.
bool renameNewIn(const Dir& parent, const std::string& from, const std::string& to, bool& taken) {
    const int at = static_cast<int>(parent.handle);
    int rc = ::renameat2(at, from.c_str(), at, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        rc = ::linkat(at, from.c_str(), at, to.c_str(), 0);
        if (rc == 0) ::unlinkat(at, from.c_str(), 0);
    }
    taken = rc != 0 && errno == EEXIST;
    return rc == 0 || noted(false);
}

namespace {

// Follows the links at `at`, as the system would, to the name that is
// missing; false, errno set, where something stands at the end or the
// links do not end.
bool followToMissing(std::string& at) {
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) return errno == ENOENT;
        errno = links == 40 ? ELOOP : EEXIST;
        if (!S_ISLNK(st.st_mode) || links == 40) return false;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(at.c_str(), &target[0], target.size());
        if (n < 0) return false;
        target.resize(static_cast<size_t>(n));
        const size_t slash = at.rfind('/');
        if (target[0] == '/' || slash == std::string::npos)
            at = target;
        else
            at.replace(slash + 1, std::string::npos, target);
    }
}

}  // namespace

Dir dirForNew(const std::string& path, std::string& name) {
    Dir d;
    std::string at = diskPath(path);
    if (!followToMissing(at)) return noted(std::move(d));
    const size_t slash = at.rfind('/');
    name = slash == std::string::npos ? at : at.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        errno = EISDIR;
        return noted(std::move(d));
    }
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : at.substr(0, slash);
    const int fd = retried([&] { return ::open(dir.c_str(), dirFlags | O_CLOEXEC); });
    if (fd < 0) return noted(std::move(d));
    d.handle = fd;
    return d;
}

Dir dirHolding(const File& f, const std::string& path, std::string& name) {
    Dir d;
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(diskPath(path).c_str(), nullptr),
                                                           &std::free);
    if (!real) return d;
    const std::string full = real.get();
    const size_t cut = full.rfind('/');
    if (cut == std::string::npos || cut + 1 == full.size()) return d;
    name = full.substr(cut + 1);
    const int fd =
        retried([&] { return ::open(cut == 0 ? "/" : full.substr(0, cut).c_str(), dirFlags | O_CLOEXEC); });
    d.handle = fd;
    // The path may have changed since f was opened through it.
    struct stat st {};
    if (fd >= 0 &&
        (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
         !(FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} == fileIdOf(f))))
        dirClose(d);
    return d;
}

namespace {

// What a caught signal removes. The program's only state kept outside a
// value, since a signal handler can reach nothing else; only a handler's
// safe calls touch it.
volatile sig_atomic_t cleanupArmed = 0;
int cleanupAt = -1;
char cleanupName[4096];
// While a hold lasts, a signal is only noted, and acted on when it ends.
// Blocking the signals instead would cost two system calls a hold, as
// many again as extracting a small file takes.
volatile sig_atomic_t holding = 0;
volatile sig_atomic_t deferred = 0;
int holds = 0;

// Removes what is named, then lets the signal end the program with the
// status the shell expects of it. Inside the handler the signal stays
// blocked until the handler returns, and then takes its default action;
// outside, it takes it at once.
void removeAndRaise(int sig) {
    if (cleanupArmed) ::unlinkat(cleanupAt, cleanupName, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
}

// C linkage, as the system calls it; static, as a C name in a namespace
// would still be global.
extern "C" {
static void removeAndDie(int sig) {
    if (holding)
        deferred = sig;
    else
        removeAndRaise(sig);
}
}

}  // namespace

void catchSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    struct sigaction act {};
    act.sa_handler = removeAndDie;
    // A signal noted during a hold lets the call it came in go on.
    act.sa_flags = SA_RESTART;
    sigemptyset(&act.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&act.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal ignored on purpose (nohup) stays ignored, and a handler
        // of a program that runs the commands in-process stays its own.
        if (::sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
        ::sigaction(sig, &act, nullptr);
    }
}

void removeOnSignal(const Dir* dir, const std::string& name) {
    cleanupArmed = 0;
    if (!dir || name.size() >= sizeof cleanupName) return;
    cleanupAt = static_cast<int>(dir->handle);
    std::memcpy(cleanupName, name.c_str(), name.size() + 1);
    cleanupArmed = 1;
}

void holdSignals() {
    ++holds;
    holding = 1;
}

// A signal that comes between the two lines below finds no hold and acts
// itself.
void releaseSignals() {
    if (holds == 0 || --holds > 0) return;
    holding = 0;
    if (deferred) removeAndRaise(deferred);
}

bool nameAllowed(const std::string&) {
    return true;
}

namespace {

// Code page 1252's bytes 0x80-0x9F; the rest of its upper half is Latin-1.
const char16_t cp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool within(unsigned b, unsigned low, unsigned high) {
    return b >= low && b <= high;
}

// One character of a double-byte code page from its two bytes, or false
// when they make none: which bytes lead and which may follow, and the
// characters a name rule looks at. Every other one reads as a character
// no rule looks at.
bool doubleByte(unsigned codePage, unsigned lead, unsigned trail, char16_t& c) {
    c = u'\u4E00';
    if (codePage == 932)
        return (within(lead, 0x81, 0x9F) || within(lead, 0xE0, 0xFC)) &&
               (within(trail, 0x40, 0x7E) || within(trail, 0x80, 0xFC));
    // 949: the superscripts 1, 2 and 3 are device digits to Windows.
    if (lead == 0xA9 && within(trail, 0xF6, 0xF8)) {
        const char16_t superscripts[] = {u'\u00B9', u'\u00B2', u'\u00B3'};
        c = superscripts[trail - 0xF6];
    }
    return within(lead, 0x81, 0xFE) &&
           (within(trail, 0x41, 0x5A) || within(trail, 0x61, 0x7A) || within(trail, 0x81, 0xFE));
}

// Code page 932's single bytes above 0x7F: half-width katakana, and four
// Windows keeps apart.
char16_t singleByte932(unsigned b) {
    if (b == 0x80) return 0x80;
    if (b == 0xA0) return 0xF8F0;
    if (b >= 0xFD) return static_cast<char16_t>(0xF8F1 + (b - 0xFD));
    return static_cast<char16_t>(0xFF61 + (b - 0xA1));
}

// Appends the character at name[i], read in codePage, to out; returns the
// bytes it took, 0 when they are no character there.
size_t takeCharacter(const std::string& name, size_t i, unsigned codePage, std::u16string& out) {
    const unsigned b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
        out.push_back(static_cast<char16_t>(b));
        return 1;
    }
    if (codePage == 1252) {
        out.push_back(b < 0xA0 ? cp1252High[b - 0x80] : static_cast<char16_t>(b));
        return 1;
    }
    if (codePage == 932 && (b == 0x80 || within(b, 0xA0, 0xDF) || b >= 0xFD)) {
        out.push_back(singleByte932(b));
        return 1;
    }
    if (codePage != 932 && codePage != 949) return 0;
    char16_t c = 0;
    if (i + 1 == name.size() || !doubleByte(codePage, b, static_cast<unsigned char>(name[i + 1]), c))
        return 0;
    out.push_back(c);
    return 2;
}

}  // namespace

// Only the tests of the Windows name rules convert here, for the code pages
// they use: 1252 whole; of 932 and 949 what the rules need. The C
// library's iconv would load its tables as modules, which valgrind's
// checks of the dynamic loader trip over.
bool toUtf16(const std::string& name, unsigned codePage, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < name.size();) {
        const size_t taken = takeCharacter(name, i, codePage, out);
        if (taken == 0) return false;
        i += taken;
    }
    return true;
}

void raiseHandleLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool removeFile(const std::string& path) {
    return ::unlink(diskPath(path).c_str()) == 0 || noted(false);
}

bool makeDirectories(const std::string& path) {
    const std::string p = diskPath(path);
    // Each prefix that ends before a "/", then the whole; a root "/" is
    // no name to make.
    for (size_t at = p.find('/', 1);; at = p.find('/', at + 1)) {
        const std::string above = p.substr(0, at);
        if (!above.empty() && above.back() != '/' && ::mkdir(above.c_str(), 0777) != 0 && errno != EEXIST)
            return noted(false);
        if (at == std::string::npos) return true;
    }
}

bool enterDirectory(const std::string& path, Visit& visit) {
    Dir home = dirAt(".");
    if (!home) return false;
    if (retried([&] { return ::chdir(diskPath(path).c_str()); }) != 0) return noted(false);
    leaveDirectory(visit);
    visit.home = std::move(home);
    visit.away = true;
    return true;
}

bool leaveDirectory(Visit& visit) {
    if (!visit.away) return true;
    visit.away = false;
    // Held since it was left, so it is found whatever became of its name.
    const bool back = ::fchdir(static_cast<int>(visit.home.handle)) == 0 || noted(false);
    dirClose(visit.home);
    return back;
}

namespace {

// Looks at name in the directory dfd, whose type the directory says, into
// st, a link followed; link says whether name itself is one. False when
// what name leads to cannot be looked at, errno saying why.
bool lookAt(int dfd, const char* name, unsigned char type, struct stat& st, bool& link) {
    if (type != DT_LNK && type != DT_UNKNOWN && ::fstatat(dfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISLNK(st.st_mode)) {
        // No link, as the directory says and one look confirms: following
        // would find the same, so one call per item is enough.
        link = false;
        return true;
    }
    struct stat lst {};
    const bool followed = ::fstatat(dfd, name, &st, 0) == 0;
    const bool here = ::fstatat(dfd, name, &lst, AT_SYMLINK_NOFOLLOW) == 0;
    link = here && S_ISLNK(lst.st_mode);
    return followed;
}

// What one item of a listed directory is, looked at through the
// directory's descriptor; type is what the directory says of it.
DirItem itemIn(int dfd, const char* name, unsigned char type) {
    DirItem item;
    item.name = name;
    struct stat st {};
    if (!lookAt(dfd, name, type, st, item.link)) {
        item.kind = item.link ? ItemKind::dangling : ItemKind::unreadable;
        if (!item.link) item.reason = std::strerror(errno);
        return item;
    }
    item.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    if (S_ISDIR(st.st_mode)) {
        item.kind = ItemKind::directory;
    } else if (S_ISREG(st.st_mode)) {
        item.kind = ItemKind::file;
        item.size = static_cast<uint64_t>(st.st_size);
        // Only a file whose bits deny reading costs a call: the
        // system then decides, groups and access lists included.
        if (bitsDenyReading(st) && ::faccessat(dfd, name, R_OK, AT_EACCESS) != 0) {
            item.kind = ItemKind::denied;
            item.reason = std::strerror(errno);
        }
    }
    return item;
}

}  // namespace

bool listDirectory(const std::string& path, std::vector<DirItem>& items) {
    items.clear();
    DIR* dir = ::opendir(diskPath(path).c_str());
    if (!dir) return noted(false);
    int dfd = ::dirfd(dir);
    // readdir says "no more" and "failed" alike, told apart only by errno.
    // A failure reports the directory as not listed rather than storing
    // part of it as if it were whole.
    for (;;) {
        errno = 0;
        dirent* d = ::readdir(dir);
        if (!d) break;
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        items.push_back(itemIn(dfd, d->d_name, d->d_type));
    }
    const bool whole = errno == 0;
    if (!whole) noted(false);
    ::closedir(dir);
    if (!whole) items.clear();
    return whole;
}

bool regularFileAt(const std::string& path, DirItem& item) {
    item = itemIn(AT_FDCWD, diskPath(path).c_str(), DT_UNKNOWN);
    item.name = path;
    return item.kind == ItemKind::file || item.kind == ItemKind::denied;
}

bool directoryId(const std::string& path, FileId& id) {
    struct stat st {};
    if (::stat(diskPath(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

size_t maxPathLength() {
    return PATH_MAX - 1;
}

bool backslashSeparates() {
    return false;
}

bool isPattern(const std::string& arg) {
    return arg.find_first_of("*?") != std::string::npos;
}

// glob sorts in the C locale's order, bytes, as the program never sets
// another; "\\" is a separator here, so it escapes nothing.
std::vector<std::string> patternMatches(const std::string& pattern, NameOrder) {
    std::vector<std::string> found;
    glob_t g{};
    if (::glob(pattern.c_str(), GLOB_NOESCAPE, nullptr, &g) == 0)
        for (size_t k = 0; k < g.gl_pathc; ++k) found.emplace_back(g.gl_pathv[k]);
    ::globfree(&g);
    return found;
}

std::string lastError() {
    return std::strerror(lastErrno);
}

bool lastErrorMissing() {
    return lastErrno == ENOENT || lastErrno == ENOTDIR;
}

File fileOpenWrite(const std::string& path, bool* missing) {
    if (!missing) return File(openRetry(path, O_WRONLY | O_CREAT, 0666));
    const int fd = openRetry(path, O_WRONLY);
    *missing = fd < 0 && errno == ENOENT;
    return File(fd);
}

bool fileTruncate(File& f) {
    if (!fileIsRegular(f)) return true;
    const int rc = retried([&] { return ::ftruncate(descriptorOf(f), 0); });
    return rc == 0 || noted(false);
}

bool reopenStandardStreams() {
    bool outputClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) outputClosed = true;
        // The lowest free descriptor is this one, as those below it are open.
        int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
    }
    return outputClosed;
}

bool outputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

size_t outputPending() {
    return __fpending(stdout);
}

bool errorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

bool terminalTakesUtf8() {
    return true;
}

size_t outputWrite(const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        const ssize_t put = retried([&] { return ::write(STDOUT_FILENO, p + done, n - done); });
        if (put < 0) noted(0);
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    return done;
}

bool isStandardOutput(const File& f) {
    struct stat out {
    }, st{}, null{};
    if (::fstat(STDOUT_FILENO, &out) != 0 || ::fstat(descriptorOf(f), &st) != 0) return false;
    if (!S_ISCHR(out.st_mode) || !S_ISCHR(st.st_mode))
        return out.st_dev == st.st_dev && out.st_ino == st.st_ino;
    // A device is known by its number: /dev/stdout and /dev/pts/3 are two
    // inodes of one terminal. /dev/tty has a number of its own, so two
    // terminals are one when they lead the same session.
    if (::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) && out.st_rdev == null.st_rdev) return false;
    if (out.st_rdev == st.st_rdev) return true;
    const pid_t session = ::tcgetsid(descriptorOf(f));
    return session != -1 && session == ::tcgetsid(STDOUT_FILENO);
}

}  // namespace dat::detail
