// Preloaded into dattool by the creation-fault tests: changes the source
// tree at one exact moment, between the scan and the writing. The scan only
// lists directories; the first file the tool opens for reading by a
// relative path is the first source the writer copies. Just before that
// open, every action in DATTOOL_TEST_FAULTS is carried out, once.
//
//   DATTOOL_TEST_FAULTS="ACTION PATH [ARG];ACTION PATH [ARG];..."
//     remove P      unlink P
//     rmdir P       remove the empty directory P
//     deny P        every later open of P fails with EACCES (what a file
//                   without read permission gives; the tests run as root,
//                   for whom permissions do not stop a read)
//     shrink P N    truncate P to N bytes
//     grow P N      append N bytes to P
//     fifo P        replace P by a FIFO
//     dir P         replace P by an empty directory
//     link P T      replace P by a symbolic link to T
//
// Paths are as the tool opens them ("/" separated, relative to its working
// directory). With the variable set, the tool is also killed after 20 s, so
// a hang shows as a failed test instead of a stuck one.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

namespace {

bool done = false;
std::set<std::string> denied;

void act(const std::string& line) {
    std::istringstream in(line);
    std::string action, path, arg;
    in >> action >> path >> arg;
    const char* p = path.c_str();
    int rc = 0;
    if (action == "remove") {
        rc = unlink(p);
    } else if (action == "rmdir") {
        rc = rmdir(p);
    } else if (action == "deny") {
        denied.insert(path);
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
    } else if (!action.empty()) {
        rc = -1;
    }
    if (rc != 0) {
        std::fprintf(stderr, "fault shim: cannot carry out '%s'\n", line.c_str());
        std::abort();
    }
}

// Returns true when the open must fail as if the file were unreadable.
bool before(const char* path, int flags) {
    const char* faults = std::getenv("DATTOOL_TEST_FAULTS");
    if (!faults) return false;
    bool source = (flags & O_ACCMODE) == O_RDONLY && !(flags & O_DIRECTORY) && path[0] != '/';
    if (source && !done) {
        done = true;
        std::istringstream all(faults);
        std::string line;
        while (std::getline(all, line, ';')) act(line);
    }
    if (denied.count(path)) {
        errno = EACCES;
        return true;
    }
    return false;
}

using OpenFn = int (*)(const char*, int, ...);

OpenFn next(const char* name) {
    // The next definition after this one: the C library's, or a
    // sanitizer's wrapper of it.
    return reinterpret_cast<OpenFn>(dlsym(RTLD_NEXT, name));
}

// Only these flags pass a mode as the third argument.
bool takesMode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

__attribute__((constructor)) void watchdog() {
    if (std::getenv("DATTOOL_TEST_FAULTS")) alarm(20);
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (before(path, flags)) return -1;
    static OpenFn real = next("open");
    return real(path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list args;
        va_start(args, flags);
        mode = static_cast<mode_t>(va_arg(args, int));
        va_end(args);
    }
    if (before(path, flags)) return -1;
    static OpenFn real = next("open64");
    return real(path, flags, mode);
}
