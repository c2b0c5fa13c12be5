#include "scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

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
    emptyDirectory(scratch.work);
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
