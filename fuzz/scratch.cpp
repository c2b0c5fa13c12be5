#include "scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "reading/toc_reader.h"

namespace {

Scratch scratch;
std::set<std::string> rootNames;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "fuzz scratch: %s\n", what.c_str());
    std::abort();
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) die("cannot list " + dir);
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    closedir(d);
    return names;
}

// Removes everything below the directory open as fd, by descriptor, so
// nesting deeper than a path can spell is no obstacle.
void emptyAt(int fd) {
    DIR* d = fdopendir(fd);
    if (!d) die("cannot list a scratch directory");
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            int sub = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) die("cannot open " + name);
            emptyAt(sub);
            if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) die("cannot remove directory " + name);
        } else if (unlinkat(fd, name.c_str(), 0) != 0) {
            die("cannot remove " + name);
        }
    }
    closedir(d);  // closes fd
}

void walk(const std::string& dir, const std::string& rel, std::map<std::string, std::string>& tree) {
    for (const std::string& name : namesIn(dir)) {
        const std::string path = std::string(dir).append("/").append(name);
        const std::string key = rel.empty() ? name : std::string(rel).append("/").append(name);
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) die("cannot examine " + path);
        if (S_ISDIR(st.st_mode)) {
            tree[key] = "<dir>";
            walk(path, key, tree);
        } else if (S_ISREG(st.st_mode)) {
            std::string bytes;
            int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) die("cannot read " + path);
            char buf[65536];
            ssize_t n;
            while ((n = read(fd, buf, sizeof buf)) > 0) bytes.append(buf, static_cast<size_t>(n));
            close(fd);
            tree[key] = bytes;
        } else {
            tree[key] = "<other>";
        }
    }
}

// At a normal exit only: after a finding the scratch stays for a look.
void removeScratch() {
    scratchClear();
    for (const char* sub : {"/a/b/work", "/a/b", "/a"}) rmdir((scratch.base + sub).c_str());
    unlink(scratch.archive.c_str());
    rmdir(scratch.base.c_str());
}

}  // namespace

const Scratch& scratchSetUp() {
    if (!scratch.work.empty()) return scratch;
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/dattool-fuzz-XXXXXX";
    if (!mkdtemp(tmpl.data())) die("mkdtemp");
    scratch.base = tmpl;
    scratch.archive = tmpl + "/in.dat";
    scratch.work = tmpl + "/a/b/work";
    for (const char* sub : {"/a", "/a/b", "/a/b/work"})
        if (mkdir((tmpl + sub).c_str(), 0700) != 0) die("mkdir");
    if (chdir(scratch.work.c_str()) != 0) die("chdir");
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || dup2(null, 1) < 0) die("cannot silence stdout");
    close(null);
    rootNames = namesIn("/");
    std::atexit(removeScratch);
    return scratch;
}

void scratchClear() {
    int fd = open(scratch.work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) die("cannot open the scratch directory");
    emptyAt(fd);
}

void scratchCheckOutside() {
    const std::pair<std::string, std::set<std::string>> expected[] = {
        {scratch.base, {"in.dat", "a"}}, {scratch.base + "/a", {"b"}}, {scratch.base + "/a/b", {"work"}}};
    for (const auto& [dir, names] : expected) {
        std::set<std::string> found = namesIn(dir);
        for (const std::string& n : found)
            if (!names.count(n))
                die("written outside the scratch directory: " + std::string(dir).append("/").append(n));
    }
    for (const std::string& n : namesIn("/"))
        if (!rootNames.count(n)) die("written outside the scratch directory: /" + n);
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> tree;
    walk(dir, "", tree);
    return tree;
}

void putFile(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) die("cannot create " + path);
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        die("cannot write " + path);
    close(fd);
}
