#include "support/scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dattool-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path = tmpl + "/work";
    fs::create_directory(path);
}

namespace {

// Walks below an open directory by handles, never by path, so trees deeper
// than a path can name are walked as fast as shallow ones. visit gets each
// item's relative path, the directory's handle, its name and its kind.
template <typename Visit>
void walkAt(int dirFd, const std::string& rel, Visit&& visit, bool removeAfter) {
    DIR* d = fdopendir(dirFd);
    if (!d) {
        close(dirFd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        const std::string path = rel.empty() ? name : rel + "/" + name;
        const bool dir = S_ISDIR(st.st_mode);
        visit(dirfd(d), name, path, st);
        if (dir) {
            // Tests may leave unreadable directories behind; make them removable.
            if (removeAfter) fchmodat(dirfd(d), name.c_str(), 0700, 0);
            int sub = openat(dirfd(d), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) walkAt(sub, path, visit, removeAfter);
        }
        if (removeAfter) unlinkat(dirfd(d), name.c_str(), dir ? AT_REMOVEDIR : 0);
    }
    closedir(d);
}

std::string readAt(int dirFd, const std::string& name) {
    int fd = openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<unreadable>";
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
    close(fd);
    return s;
}

}  // namespace

ScratchDir::~ScratchDir() {
    const std::string parent = fs::path(path).parent_path().string();
    int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
        walkAt(
            fd, "", [](int, const std::string&, const std::string&, const struct stat&) {}, true);
    rmdir(parent.c_str());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

bool isLink(const std::string& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

std::map<std::string, std::string> treeOf(const std::string& dir) {
    std::map<std::string, std::string> tree;
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return tree;
    walkAt(
        fd, "",
        [&](int at, const std::string& name, const std::string& path, const struct stat& st) {
            if (S_ISLNK(st.st_mode))
                tree[path] = "<link>";
            else if (S_ISDIR(st.st_mode))
                tree[path] = "<dir>";
            else if (S_ISREG(st.st_mode))
                tree[path] = readAt(at, name);
            else
                tree[path] = "<other>";  // a FIFO would block a read
        },
        false);
    return tree;
}

std::vector<std::string> besideScratch(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(fs::path(dir.path).parent_path()))
        names.push_back(item.path().filename().string());
    return names;
}

void emptyDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + dir);
    walkAt(
        fd, "", [](int, const std::string&, const std::string&, const struct stat&) {}, true);
    std::error_code ec;
    if (!fs::is_empty(dir, ec) || ec) throw std::runtime_error("cannot empty " + dir);
}

std::string dataFile(const std::string& name) {
    return std::string(DATTOOL_TEST_DATA) + "/" + name;
}

std::string testNameFor(std::string name) {
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::vector<std::string> sampleStems() {
    std::vector<std::string> stems;
    for (const auto& item : std::filesystem::directory_iterator(dataFile("")))
        if (item.path().extension() == ".dat") stems.push_back(item.path().stem().string());
    std::sort(stems.begin(), stems.end());
    return stems;
}
