// Preloaded into dattool by the fault tests: makes one thing go wrong at
// one exact moment, so every case is deterministic.
//
//   DATTOOL_TEST_FAULTS="ACTION PATH [ARG];ACTION PATH [ARG];..."
//
// Changes to the source tree, carried out once, between the scan and the
// writing. The scan only lists directories; the first file the tool opens
// for reading by a relative path is the first source the writer copies.
// Just before that open, every change is carried out:
//     remove P      unlink P
//     rmdir P       remove the empty directory P
//     shrink P N    truncate P to N bytes
//     grow P N      append N bytes to P
//     fifo P        replace P by a FIFO
//     dir P         replace P by an empty directory
//     link P T      replace P by a symbolic link to T
//
// Traps, in force from the start:
//     deny P        every open of P fails with EACCES (what a file without
//                   read permission gives; the tests run as root, for whom
//                   permissions do not stop a read)
//     full P N      the file opened at P takes N bytes, then every write
//                   fails with ENOSPC, as on a full disk
//     failclose P   closing the file opened at P reports EIO
//     badlist P     listing the directory P fails with EIO after its first
//                   item
//     unflushed P   every open of P ("-": of any path) fails with EIO while
//                   standard output holds bytes not yet written: a progress
//                   line must be out before the work it announces starts
//     lagging P     every open of P fails with EIO while standard output
//                   holds, not yet written, a whole line before the last
//     slow P MS     every open of P takes MS milliseconds more
//     swap P T      just before the tool creates a file named "now", P is
//                   renamed P.real and a symbolic link to T put in its
//                   place: a directory swapped while extraction runs
//     vanish P      just before the tool creates a file named "now", the
//                   directory P is removed with all it holds: a directory
//                   removed while extraction holds it
//     nostat P      looking at the item named P inside a directory being
//                   listed (fstatat) fails with EACCES, as for an item of
//                   a directory without search permission
//     notruncate P  emptying the file opened at P (ftruncate) fails with
//                   EIO, so an old archive written over in place cannot be
//                   cut to nothing first
//     norename P    every rename to P fails with EBUSY
//     badread P N   reads (read, pread) of the file opened at P stop
//                   at offset N, as at a bad sector: one that reaches past
//                   it returns the bytes before it, one that starts there
//                   fails with EIO
//     term P        the first write to the file opened at P sends SIGTERM
//     made P N      signal N comes as the file at P is created: the open
//                   that creates it has made it and not yet returned
//     closed P N    signal N comes as soon as the file opened at P is
//                   closed: between one file and the next
//     ignore N      signal N is ignored from the start, as under nohup
//                   (N stands where the path would)
//     private P     every write to the file opened at P fails with EACCES
//                   while its permission bits let anyone but its owner in
//     appear P      just before a file is moved or linked to the name P,
//                   another file, holding "appeared", is made there
//     noflag P      a rename to P with flags fails with EINVAL, as on a
//                   file system that knows none
//     nolink P      a hard link to P fails with EPERM, as on a file
//                   system that has none
//     nochown P     changing the owner of the file opened at P fails with
//                   EPERM, as for anyone but root
//     nocopy P      a kernel copy (copy_file_range) from or to the file
//                   opened at P fails with EXDEV, as between two file systems
//     copynone P    a kernel copy from or to the file opened at P copies
//                   nothing and returns 0, as some file systems do
//
// A kernel copy to a file counts as a write to it: full, term and private
// hold for it as well.
//
// P is the path as the tool passes it to open, opendir or openat ("/"
// separated, relative to its working directory, or to the directory held
// for openat).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

const std::string& keyOf(const std::string& key) {
    return key;
}
template <typename Value>
const std::string& keyOf(const std::pair<const std::string, Value>& item) {
    return item.first;
}

struct Traps {
    std::set<std::string> denied;
    std::map<std::string, size_t> full;  // path -> bytes it takes
    std::set<std::string> failClose;
    std::set<std::string> badList;
    std::string unflushed;  // a path, "-" for any
    std::string lagging;
    std::map<std::string, long> slow;  // path -> milliseconds
    std::string swap, swapTo;          // swap: the directory and the link's target
    std::string vanish;                // the directory removed
    std::set<std::string> noStat;
    std::set<std::string> noRename;
    std::set<std::string> term;
    std::map<std::string, int> made;    // path -> signal
    std::map<std::string, int> closed;  // path -> signal
    std::set<std::string> privateFiles;
    std::set<std::string> appear;
    std::set<std::string> noFlag;
    std::set<std::string> noLink;
    std::set<std::string> noChown;
    std::set<std::string> noCopy;
    std::set<std::string> copyNone;
    // What was opened under a trapped path.
    std::map<int, size_t> budget;  // descriptor -> bytes it still takes
    std::set<int> closeFails;
    std::set<int> termOnWrite;
    std::map<int, int> signalOnClose;  // descriptor -> signal
    std::set<int> mustBePrivate;
    std::set<int> ownerFixed;
    std::map<int, int> copyFails;  // descriptor -> 0 (copies nothing) or errno
    std::map<DIR*, int> listed;    // directory -> items handed out so far
    std::set<std::string> noTruncate;
    std::set<int> truncateFails;
    std::map<std::string, off_t> badRead;  // path -> first offset that fails
    std::map<int, off_t> readFailsFrom;    // descriptor -> first offset that fails
};

Traps& traps() {
    // Never destroyed: close() is still called after static destructors run.
    static Traps* const t = new Traps;
    return *t;
}

bool changed = false;

[[noreturn]] void cannot(const std::string& line) {
    std::fprintf(stderr, "fault shim: cannot carry out '%s'\n", line.c_str());
    std::abort();
}

template <typename Each>
void forEachFault(Each each) {
    const char* faults = std::getenv("DATTOOL_TEST_FAULTS");
    if (!faults) return;
    std::istringstream all(faults);
    std::string line;
    while (std::getline(all, line, ';')) {
        std::istringstream in(line);
        std::string action, path, arg;
        in >> action >> path >> arg;
        if (!action.empty()) each(line, action, path, arg);
    }
}

// Returns false for an action that is not a change.
bool change(const std::string& action, const std::string& path, const std::string& arg, int& rc) {
    const char* p = path.c_str();
    if (action == "remove") {
        rc = unlink(p);
    } else if (action == "rmdir") {
        rc = rmdir(p);
    } else if (action == "shrink") {
        rc = truncate(p, std::stol(arg));
    } else if (action == "grow") {
        FILE* f = std::fopen(p, "ab");
        rc = f && std::fputs(std::string(std::stoul(arg), 'G').c_str(), f) >= 0 ? 0 : -1;
        if (f) std::fclose(f);
    } else if (action == "fifo") {
        rc = unlink(p) == 0 ? mkfifo(p, 0600) : -1;
    } else if (action == "dir") {
        rc = unlink(p) == 0 ? mkdir(p, 0700) : -1;
    } else if (action == "link") {
        rc = unlink(p) == 0 ? symlink(arg.c_str(), p) : -1;
    } else {
        return false;
    }
    return true;
}

__attribute__((constructor)) void setUp() {
    if (!std::getenv("DATTOOL_TEST_FAULTS")) return;
    Traps& t = traps();
    forEachFault([&](const std::string& line, const std::string& action, const std::string& path,
                     const std::string& arg) {
        if (action == "deny")
            t.denied.insert(path);
        else if (action == "full")
            t.full[path] = std::stoul(arg);
        else if (action == "failclose")
            t.failClose.insert(path);
        else if (action == "badlist")
            t.badList.insert(path);
        else if (action == "unflushed")
            t.unflushed = path;
        else if (action == "lagging")
            t.lagging = path;
        else if (action == "slow")
            t.slow[path] = std::stol(arg);
        else if (action == "swap")
            t.swap = path, t.swapTo = arg;
        else if (action == "vanish")
            t.vanish = path;
        else if (action == "nostat")
            t.noStat.insert(path);
        else if (action == "norename")
            t.noRename.insert(path);
        else if (action == "term")
            t.term.insert(path);
        else if (action == "notruncate")
            t.noTruncate.insert(path);
        else if (action == "badread")
            t.badRead[path] = std::stol(arg);
        else if (action == "made")
            t.made[path] = std::stoi(arg);
        else if (action == "closed")
            t.closed[path] = std::stoi(arg);
        else if (action == "ignore")
            signal(std::stoi(path), SIG_IGN);
        else if (action == "private")
            t.privateFiles.insert(path);
        else if (action == "appear")
            t.appear.insert(path);
        else if (action == "noflag")
            t.noFlag.insert(path);
        else if (action == "nolink")
            t.noLink.insert(path);
        else if (action == "nochown")
            t.noChown.insert(path);
        else if (action == "nocopy")
            t.noCopy.insert(path);
        else if (action == "copynone")
            t.copyNone.insert(path);
        else if (action != "remove" && action != "rmdir" && action != "shrink" && action != "grow" &&
                 action != "fifo" && action != "dir" && action != "link")
            cannot(line);
    });
}

// The trap of a container (a set or a map keyed by path) that path falls
// under, exactly or by a pattern ending in "*"; end() when none.
template <typename Traps>
auto trapFor(Traps& traps, const char* path) {
    auto exact = traps.find(path);
    if (exact != traps.end()) return exact;
    const char* slash = std::strrchr(path, '/');
    const std::string name = slash ? slash + 1 : path;
    for (auto it = traps.begin(); it != traps.end(); ++it) {
        const std::string& key = keyOf(*it);
        if (!key.empty() && key.back() == '*' && name.compare(0, key.size() - 1, key, 0, key.size() - 1) == 0)
            return it;
    }
    return traps.end();
}

// Returns true when the open must fail.
bool before(const char* path, int flags) {
    if (!std::getenv("DATTOOL_TEST_FAULTS")) return false;
    bool source = (flags & O_ACCMODE) == O_RDONLY && !(flags & O_DIRECTORY) && path[0] != '/';
    if (source && !changed) {
        changed = true;
        forEachFault([](const std::string& line, const std::string& action, const std::string& path,
                        const std::string& arg) {
            int rc = 0;
            if (change(action, path, arg, rc) && rc != 0) cannot(line);
        });
    }
    Traps& t = traps();
    const char* base = std::strrchr(path, '/');
    if (!t.swap.empty() && (flags & O_CREAT) && std::strcmp(base ? base + 1 : path, "now") == 0) {
        if (rename(t.swap.c_str(), (t.swap + ".real").c_str()) != 0 ||
            symlink(t.swapTo.c_str(), t.swap.c_str()) != 0)
            cannot("swap " + t.swap + " " + t.swapTo);
        t.swap.clear();
    }
    if (!t.vanish.empty() && (flags & O_CREAT) && std::strcmp(base ? base + 1 : path, "now") == 0) {
        // Cleared first: the removal opens directories through this shim.
        const std::string gone = t.vanish;
        t.vanish.clear();
        std::error_code error;
        if (std::filesystem::remove_all(gone, error) == 0 || error) cannot("vanish " + gone);
    }
    auto slow = t.slow.find(path);
    if (slow != t.slow.end()) usleep(static_cast<useconds_t>(slow->second * 1000));
    if ((t.unflushed == "-" || t.unflushed == path) && __fpending(stdout) > 0) {
        errno = EIO;
        return true;
    }
    if (t.lagging == path) {
        const char* from = stdout->_IO_write_base;
        const char* to = stdout->_IO_write_ptr;
        if (to - from > 1 && std::memchr(from, '\n', static_cast<size_t>(to - from - 1))) {
            errno = EIO;
            return true;
        }
    }
    if (trapFor(t.denied, path) != t.denied.end()) {
        errno = EACCES;
        return true;
    }
    return false;
}

// Notes what was opened under a trapped path; a file just created there
// may get its signal.
int opened(const char* path, int flags, int fd) {
    if (fd < 0) return fd;
    Traps& t = traps();
    auto full = trapFor(t.full, path);
    if (full != t.full.end()) t.budget[fd] = full->second;
    if (trapFor(t.failClose, path) != t.failClose.end()) t.closeFails.insert(fd);
    if (trapFor(t.term, path) != t.term.end()) t.termOnWrite.insert(fd);
    if (trapFor(t.noTruncate, path) != t.noTruncate.end()) t.truncateFails.insert(fd);
    auto badRead = trapFor(t.badRead, path);
    if (badRead != t.badRead.end()) t.readFailsFrom[fd] = badRead->second;
    auto closed = trapFor(t.closed, path);
    if (closed != t.closed.end()) t.signalOnClose[fd] = closed->second;
    if (trapFor(t.privateFiles, path) != t.privateFiles.end()) t.mustBePrivate.insert(fd);
    if (trapFor(t.noChown, path) != t.noChown.end()) t.ownerFixed.insert(fd);
    if (trapFor(t.noCopy, path) != t.noCopy.end()) t.copyFails[fd] = EXDEV;
    if (trapFor(t.copyNone, path) != t.copyNone.end()) t.copyFails[fd] = 0;
    auto made = trapFor(t.made, path);
    if (made != t.made.end() && (flags & O_CREAT)) {
        const int sig = made->second;
        t.made.erase(made);
        kill(getpid(), sig);
    }
    return fd;
}

template <typename Fn>
Fn next(const char* name) {
    // The next definition after this one: the C library's, or a
    // sanitizer's wrapper of it.
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using OpenFn = int (*)(const char*, int, ...);
using OpenAtFn = int (*)(int, const char*, int, ...);

// Only these flags pass a mode as the third argument.
bool takesMode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

}  // namespace

#define MODE_ARG(flags)                                \
    mode_t mode = 0;                                   \
    if (takesMode(flags)) {                            \
        va_list args;                                  \
        va_start(args, flags);                         \
        mode = static_cast<mode_t>(va_arg(args, int)); \
        va_end(args);                                  \
    }

extern "C" int open(const char* path, int flags, ...) {
    MODE_ARG(flags)
    if (before(path, flags)) return -1;
    static OpenFn real = next<OpenFn>("open");
    return opened(path, flags, real(path, flags, mode));
}

extern "C" int open64(const char* path, int flags, ...) {
    MODE_ARG(flags)
    if (before(path, flags)) return -1;
    static OpenFn real = next<OpenFn>("open64");
    return opened(path, flags, real(path, flags, mode));
}

extern "C" int openat(int at, const char* path, int flags, ...) {
    MODE_ARG(flags)
    if (before(path, flags)) return -1;
    static OpenAtFn real = next<OpenAtFn>("openat");
    return opened(path, flags, real(at, path, flags, mode));
}

extern "C" int openat64(int at, const char* path, int flags, ...) {
    MODE_ARG(flags)
    if (before(path, flags)) return -1;
    static OpenAtFn real = next<OpenAtFn>("openat64");
    return opened(path, flags, real(at, path, flags, mode));
}

using StatAtFn = int (*)(int, const char*, struct stat*, int);

extern "C" int fstatat(int at, const char* path, struct stat* st, int flags) {
    if (traps().noStat.count(path)) {
        errno = EACCES;
        return -1;
    }
    static StatAtFn real = next<StatAtFn>("fstatat");
    return real(at, path, st, flags);
}

extern "C" int fstatat64(int at, const char* path, struct stat64* st, int flags) {
    if (traps().noStat.count(path)) {
        errno = EACCES;
        return -1;
    }
    static auto real = next<int (*)(int, const char*, struct stat64*, int)>("fstatat64");
    return real(at, path, st, flags);
}

namespace {

// A write of n bytes to fd, or a kernel copy to it, by put: the traps on
// fd first, then the bytes the disk still takes.
template <typename Put>
ssize_t written(int fd, size_t n, Put put) {
    if (traps().termOnWrite.erase(fd) > 0) kill(getpid(), SIGTERM);
    struct stat st {};
    if (traps().mustBePrivate.count(fd) && fstat(fd, &st) == 0 && (st.st_mode & 077) != 0) {
        errno = EACCES;
        return -1;
    }
    auto left = traps().budget.find(fd);
    if (left == traps().budget.end()) return put(n);
    if (left->second == 0 && n > 0) {
        errno = ENOSPC;
        return -1;
    }
    const ssize_t done = put(n < left->second ? n : left->second);
    if (done > 0) left->second -= static_cast<size_t>(done);
    return done;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
    static auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    return written(fd, n, [&](size_t k) { return real(fd, buf, k); });
}

extern "C" ssize_t copy_file_range(int in, loff_t* inAt, int out, loff_t* outAt, size_t n, unsigned flags) {
    static auto real = next<ssize_t (*)(int, loff_t*, int, loff_t*, size_t, unsigned)>("copy_file_range");
    for (int fd : {in, out}) {
        auto trap = traps().copyFails.find(fd);
        if (trap == traps().copyFails.end()) continue;
        errno = trap->second;
        return trap->second == 0 ? 0 : -1;
    }
    return written(out, n, [&](size_t k) { return real(in, inAt, out, outAt, k, flags); });
}

extern "C" int close(int fd) {
    static auto real = next<int (*)(int)>("close");
    Traps& t = traps();
    t.budget.erase(fd);
    t.termOnWrite.erase(fd);
    t.truncateFails.erase(fd);
    t.readFailsFrom.erase(fd);
    t.mustBePrivate.erase(fd);
    t.ownerFixed.erase(fd);
    t.copyFails.erase(fd);
    const bool fail = t.closeFails.erase(fd) > 0;
    auto pending = t.signalOnClose.find(fd);
    const int sig = pending == t.signalOnClose.end() ? 0 : pending->second;
    if (sig) t.signalOnClose.erase(pending);
    int rc = real(fd);
    if (sig) kill(getpid(), sig);
    if (fail && rc == 0) {
        errno = EIO;
        return -1;
    }
    return rc;
}

extern "C" int fchown(int fd, uid_t user, gid_t group) {
    static auto real = next<int (*)(int, uid_t, gid_t)>("fchown");
    if (traps().ownerFixed.count(fd)) {
        errno = EPERM;
        return -1;
    }
    return real(fd, user, group);
}

namespace {

// Makes the file an appear trap puts at to, once.
void appearAt(int at, const char* to) {
    auto trap = trapFor(traps().appear, to);
    if (trap == traps().appear.end()) return;
    traps().appear.erase(trap);
    static OpenAtFn real = next<OpenAtFn>("openat");
    const int fd = real(at, to, O_WRONLY | O_CREAT | O_EXCL, 0644);
    static auto realWrite = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (fd < 0 || realWrite(fd, "appeared", 8) != 8) cannot(std::string("appear ") + to);
    static auto realClose = next<int (*)(int)>("close");
    realClose(fd);
}

bool renameFails(const char* to) {
    if (trapFor(traps().noRename, to) == traps().noRename.end()) return false;
    errno = EBUSY;
    return true;
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
    static auto real = next<int (*)(const char*, const char*)>("rename");
    appearAt(AT_FDCWD, to);
    return renameFails(to) ? -1 : real(from, to);
}

extern "C" int renameat(int fromAt, const char* from, int toAt, const char* to) {
    static auto real = next<int (*)(int, const char*, int, const char*)>("renameat");
    appearAt(toAt, to);
    return renameFails(to) ? -1 : real(fromAt, from, toAt, to);
}

extern "C" int renameat2(int fromAt, const char* from, int toAt, const char* to, unsigned flags) {
    static auto real = next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    appearAt(toAt, to);
    if (flags != 0 && trapFor(traps().noFlag, to) != traps().noFlag.end()) {
        errno = EINVAL;
        return -1;
    }
    return renameFails(to) ? -1 : real(fromAt, from, toAt, to, flags);
}

extern "C" int linkat(int fromAt, const char* from, int toAt, const char* to, int flags) {
    static auto real = next<int (*)(int, const char*, int, const char*, int)>("linkat");
    appearAt(toAt, to);
    if (trapFor(traps().noLink, to) != traps().noLink.end()) {
        errno = EPERM;
        return -1;
    }
    return real(fromAt, from, toAt, to, flags);
}

extern "C" DIR* opendir(const char* path) {
    static auto real = next<DIR* (*)(const char*)>("opendir");
    DIR* d = real(path);
    if (d && traps().badList.count(path)) traps().listed[d] = 0;
    return d;
}

namespace {

// Hands out "." and ".." and the first real item, then fails.
template <typename Item>
Item* listed(DIR* d, Item* (*real)(DIR*)) {
    auto seen = traps().listed.find(d);
    if (seen == traps().listed.end()) return real(d);
    Item* item = real(d);
    if (!item || std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) return item;
    if (seen->second++ == 0) return item;
    errno = EIO;
    return nullptr;
}

}  // namespace

extern "C" dirent* readdir(DIR* d) {
    static auto real = next<dirent* (*)(DIR*)>("readdir");
    return listed(d, real);
}

extern "C" dirent64* readdir64(DIR* d) {
    static auto real = next<dirent64* (*)(DIR*)>("readdir64");
    return listed(d, real);
}

extern "C" int closedir(DIR* d) {
    static auto real = next<int (*)(DIR*)>("closedir");
    traps().listed.erase(d);
    return real(d);
}

namespace {

bool truncateFails(int fd) {
    if (traps().truncateFails.count(fd) == 0) return false;
    errno = EIO;
    return true;
}

}  // namespace

extern "C" int ftruncate(int fd, off_t length) {
    static auto real = next<int (*)(int, off_t)>("ftruncate");
    return truncateFails(fd) ? -1 : real(fd, length);
}

extern "C" int ftruncate64(int fd, off64_t length) {
    static auto real = next<int (*)(int, off64_t)>("ftruncate64");
    return truncateFails(fd) ? -1 : real(fd, length);
}

namespace {

// How many of n bytes at offset a read of fd may return; -1, errno set,
// when it must fail.
ssize_t readable(int fd, off_t offset, size_t n) {
    const auto from = traps().readFailsFrom.find(fd);
    if (from == traps().readFailsFrom.end() || offset + static_cast<off_t>(n) <= from->second)
        return static_cast<ssize_t>(n);
    if (offset < from->second) return from->second - offset;
    errno = EIO;
    return -1;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t n) {
    static auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    if (traps().readFailsFrom.count(fd) == 0) return real(fd, buf, n);
    const ssize_t may = readable(fd, lseek(fd, 0, SEEK_CUR), n);
    return may < 0 ? -1 : real(fd, buf, static_cast<size_t>(may));
}

extern "C" ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    static auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    const ssize_t may = readable(fd, offset, n);
    return may < 0 ? -1 : real(fd, buf, static_cast<size_t>(may), offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t n, off64_t offset) {
    static auto real = next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    const ssize_t may = readable(fd, offset, n);
    return may < 0 ? -1 : real(fd, buf, static_cast<size_t>(may), offset);
}
