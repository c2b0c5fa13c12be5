// The library's C face: a thin wrapper over the C++ face that keeps every
// C++ type and exception on this side.
#include "dat/dat.h"

#include <cstring>
#include <memory>
#include <string>

#include "dat/archive.hpp"

struct dat_archive {
    dat::Archive archive;
};

dat_archive* dat_open(const char* path) {
    // The C++ face catches everything itself; only the handle and the
    // path's copy may throw here. A null path names no file.
    try {
        auto a = std::make_unique<dat_archive>();
        a->archive = dat::Archive(std::string(path ? path : ""));
        return a.release();
    } catch (...) {
        return nullptr;
    }
}

const char* dat_error(const dat_archive* a) {
    if (!a) return "out of memory";
    if (a->archive.isOpen()) return nullptr;
    return a->archive.error().empty() ? "Archive does not fit in memory" : a->archive.error().c_str();
}

size_t dat_count(const dat_archive* a) {
    return a ? a->archive.size() : 0;
}

int dat_entry_at(const dat_archive* a, size_t i, dat_entry* out) {
    if (!a || !out || i >= a->archive.size()) return -1;
    const dat::Entry e = a->archive.entry(i);
    // Stored names and reasons end in a zero byte where they are kept.
    out->name = e.name.data();
    out->kind = e.kind == dat::Kind::directory ? DAT_DIRECTORY : DAT_FILE;
    out->size = e.size;
    out->offset = e.offset;
    out->parent = e.parent == dat::noParent ? DAT_NONE : e.parent;
    out->refusal = e.refusal.data();
    out->replaced = e.replaced ? 1 : 0;
    return 0;
}

int64_t dat_path(const dat_archive* a, size_t i, int written, char* buf, size_t size) {
    if (!a || i >= a->archive.size()) return -1;
    const std::string path = written ? a->archive.written(i) : a->archive.path(i);
    if (buf && size > 0) {
        const size_t kept = path.size() < size ? path.size() : size - 1;
        std::memcpy(buf, path.data(), kept);
        buf[kept] = '\0';
    }
    return static_cast<int64_t>(path.size());
}

size_t dat_find(const dat_archive* a, const char* path) {
    if (!a || !path) return DAT_NONE;
    const size_t i = a->archive.find(path);
    return i == dat::notFound ? DAT_NONE : i;
}

int64_t dat_read(const dat_archive* a, size_t i, uint64_t offset, void* buf, size_t n) {
    if (!a || (!buf && n > 0)) return -1;
    return a->archive.read(i, offset, buf, n);
}

void dat_close(dat_archive* a) {
    const std::unique_ptr<dat_archive> owned(a);
}
