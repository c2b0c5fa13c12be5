// POSIX backend of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#include <glob.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/names.h"
#include "platform/platform.h"

namespace {

// The program separates names with "\\"; this system with "/".
std::string diskPath(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

int descriptorOf(const File& f) {
    return static_cast<int>(f.handle);
}

int openRetry(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(diskPath(path).c_str(), flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

// Non-blocking, so a file that became a FIFO after it was scanned cannot
// hang the run; regular files read the same either way.
File fileOpenRead(const std::string& path) {
    return File(openRetry(path, O_RDONLY | O_NONBLOCK));
}

size_t fileRead(File& f, void* buf, size_t n) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t got = ::read(descriptorOf(f), p + done, n - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<size_t>(got);
    }
    f.pos += done;
    return done;
}

size_t fileWrite(File& f, const void* buf, size_t n) {
    size_t done = 0;
    const auto* p = static_cast<const char*>(buf);
    while (done < n) {
        ssize_t put = ::write(descriptorOf(f), p + done, n - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) break;
        done += static_cast<size_t>(put);
    }
    f.pos += done;
    return done;
}

uint64_t filePosition(const File& f) {
    return f.pos;
}

bool fileSeek(File& f, uint64_t pos) {
    if (pos > static_cast<uint64_t>(INT64_MAX)) return false;
    if (::lseek(descriptorOf(f), static_cast<off_t>(pos), SEEK_SET) < 0) return false;
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
    return rc == 0;
}

FileId fileIdOf(const File& f) {
    struct stat st {};
    if (::fstat(descriptorOf(f), &st) != 0) return {};
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
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
    d.handle = openRetry(path, O_RDONLY | O_DIRECTORY);
    return d;
}

void dirClose(Dir& d) {
    if (d.handle != -1) ::close(static_cast<int>(d.handle));
    d.handle = -1;
}

Step dirOpen(const Dir& parent, const std::string& name, Dir& out) {
    const int at = static_cast<int>(parent.handle);
    int fd;
    do fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
        out = Dir();
        out.handle = fd;
        return Step::opened;
    }
    const int error = errno;
    if (error == EMFILE || error == ENFILE) return Step::exhausted;
    if (error == ENOENT) return Step::missing;
    // O_NOFOLLOW fails with ELOOP on a link, O_DIRECTORY with ENOTDIR on
    // anything else; one look tells the two apart for certain.
    struct stat st {};
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Step::failed;
    if (S_ISLNK(st.st_mode)) return Step::link;
    if (!S_ISDIR(st.st_mode)) return Step::notDirectory;
    return Step::failed;
}

bool dirMake(const Dir& parent, const std::string& name) {
    return ::mkdirat(static_cast<int>(parent.handle), name.c_str(), 0777) == 0;
}

File fileReplaceIn(const Dir& parent, const std::string& name) {
    const int at = static_cast<int>(parent.handle);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    auto create = [&] {
        int fd;
        do fd = ::openat(at, name.c_str(), flags, 0666);
        while (fd < 0 && errno == EINTR);
        return fd;
    };
    int fd = create();
    // Whatever stands there, a link included, is removed through the same
    // handle (a directory is not: unlinkat refuses it) and the create tried
    // once more.
    if (fd < 0 && errno == EEXIST && ::unlinkat(at, name.c_str(), 0) == 0) fd = create();
    return File(fd);
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

}  // namespace

// Only the tests of the Windows name rules convert here, for the code pages
// they use: 1252 whole; of 932 and 949 what the rules need. The C
// library's iconv would load its tables as modules, which valgrind's
// checks of the dynamic loader trip over.
bool toUtf16(const std::string& name, unsigned codePage, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned b = static_cast<unsigned char>(name[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
        } else if (codePage == 1252) {
            out.push_back(b < 0xA0 ? cp1252High[b - 0x80] : static_cast<char16_t>(b));
        } else if (codePage == 932 && (b == 0x80 || within(b, 0xA0, 0xDF) || b >= 0xFD)) {
            // Single bytes: half-width katakana, and four Windows keeps apart.
            char16_t c = static_cast<char16_t>(0xFF61 + (b - 0xA1));
            if (b == 0x80) c = 0x80;
            if (b == 0xA0) c = 0xF8F0;
            if (b >= 0xFD) c = static_cast<char16_t>(0xF8F1 + (b - 0xFD));
            out.push_back(c);
        } else if (codePage == 932 || codePage == 949) {
            char16_t c = 0;
            if (i + 1 == name.size() || !doubleByte(codePage, b, static_cast<unsigned char>(name[i + 1]), c))
                return false;
            out.push_back(c);
            ++i;
        } else {
            return false;
        }
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
    return ::unlink(diskPath(path).c_str()) == 0;
}

bool listDirectory(const std::string& path, std::vector<DirItem>& items) {
    items.clear();
    DIR* dir = ::opendir(diskPath(path).c_str());
    if (!dir) return false;
    int dfd = ::dirfd(dir);
    // readdir says "no more" and "failed" alike, told apart only by errno.
    // A failure reports the directory as not listed rather than storing
    // part of it as if it were whole.
    for (;;) {
        errno = 0;
        dirent* d = ::readdir(dir);
        if (!d) break;
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
        DirItem item;
        item.name = d->d_name;
        struct stat st {};
        bool followed;
        if (d->d_type != DT_LNK && d->d_type != DT_UNKNOWN &&
            ::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISLNK(st.st_mode)) {
            // No link, as the directory says and one look confirms: following
            // would find the same, so one call per item is enough.
            followed = true;
            item.link = false;
        } else {
            struct stat lst {};
            followed = ::fstatat(dfd, d->d_name, &st, 0) == 0;
            bool here = ::fstatat(dfd, d->d_name, &lst, AT_SYMLINK_NOFOLLOW) == 0;
            item.link = here && S_ISLNK(lst.st_mode);
        }
        if (!followed) {
            item.kind = item.link ? ItemKind::dangling : ItemKind::unreadable;
        } else {
            item.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
            if (S_ISDIR(st.st_mode)) {
                item.kind = ItemKind::directory;
            } else if (S_ISREG(st.st_mode)) {
                item.kind = ItemKind::file;
                item.size = static_cast<uint64_t>(st.st_size);
            }
        }
        items.push_back(std::move(item));
    }
    const bool whole = errno == 0;
    ::closedir(dir);
    if (!whole) items.clear();
    return whole;
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

std::vector<std::string> expandArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (i == 0 || arg.find_first_of("*?") == std::string::npos) {
            args.push_back(arg);
            continue;
        }
        glob_t g{};
        if (::glob(arg.c_str(), 0, nullptr, &g) == 0) {
            for (size_t k = 0; k < g.gl_pathc; ++k) args.emplace_back(g.gl_pathv[k]);
        } else {
            args.push_back(arg);
        }
        ::globfree(&g);
    }
    return args;
}

File fileOpenWrite(const std::string& path) {
    return File(openRetry(path, O_WRONLY | O_CREAT, 0666));
}

bool fileTruncate(File& f) {
    if (!fileIsRegular(f)) return true;
    int rc;
    do rc = ::ftruncate(descriptorOf(f), 0);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
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

bool outputFileId(FileId& id) {
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}
