#include "support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/dattool-test-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    path = tmpl + "/work";
    fs::create_directory(path);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::path parent = fs::path(path).parent_path();
    // Tests may leave unreadable directories behind; make them removable.
    for (auto it = fs::recursive_directory_iterator(parent, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(parent, ec);
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
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string rel = fs::relative(it->path(), dir).string();
        if (it->is_symlink())
            tree[rel] = "<link>";
        else if (it->is_directory())
            tree[rel] = "<dir>";
        else
            tree[rel] = readBytes(it->path().string());
    }
    return tree;
}

std::string dataFile(const std::string& name) { return std::string(DATTOOL_TEST_DATA) + "/" + name; }
