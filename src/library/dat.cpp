// The library's C face: a thin wrapper over the C++ face that keeps every
// C++ type and exception on this side.
#include "dat/dat.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dat/archive.hpp"
#include "library/status.h"

// The header's version is the build's: a build whose project version
// differs from it stops at configure time (CMakeLists.txt).
#define DAT_TEXT(x) #x
#define DAT_VERSION_TEXT(a, b, c) DAT_TEXT(a) "." DAT_TEXT(b) "." DAT_TEXT(c)

const char* dat::version() noexcept {
    return DAT_VERSION_TEXT(DAT_VERSION_MAJOR, DAT_VERSION_MINOR, DAT_VERSION_PATCH);
}

struct dat_archive {
    dat::Archive archive;
};

namespace {

int code(dat::Status status) {
    return static_cast<int>(status);
}

}  // namespace

dat_archive* dat_open(const char* path) {
    // The C++ face catches everything itself; only the handle and the
    // path's copy may throw here. A null path names no file.
    try {
        auto a = std::make_unique<dat_archive>();
        a->archive = dat::Archive(std::string(path ? path : ""));
        return a.release();
    } catch (...) {
        dat::detail::tell(dat::Status::noMemory, "out of memory");
        return nullptr;
    }
}

int dat_status(const dat_archive* a) {
    return a ? code(a->archive.status()) : DAT_NO_MEMORY;
}

int dat_last_status(void) {
    return code(dat::lastStatus());
}

const char* dat_last_error(void) {
    return dat::lastError();
}

const char* dat_version(void) {
    return dat::version();
}

const char* dat_error(const dat_archive* a) {
    if (!a) return "out of memory";
    if (a->archive.isOpen()) return nullptr;
    return a->archive.error().empty() ? "Archive does not fit in memory" : a->archive.error().c_str();
}

size_t dat_count(const dat_archive* a) {
    return a ? a->archive.size() : 0;
}

namespace {

void fill(const dat::Entry& e, dat_entry* out) {
    // Stored names and reasons end in a zero byte where they are kept.
    out->name = e.name.data();
    out->kind = e.kind == dat::Kind::directory ? DAT_DIRECTORY : DAT_FILE;
    out->size = e.size;
    out->offset = e.offset;
    out->parent = e.parent == dat::noParent ? DAT_NONE : e.parent;
    out->refusal = e.refusal.data();
    out->replaced = e.replaced ? 1 : 0;
}

int64_t outOfRange(const char* why) {
    dat::detail::tell(dat::Status::outOfRange, why);
    return -1;
}

}  // namespace

int dat_entry_at(const dat_archive* a, size_t i, dat_entry* out) {
    if (!a || !out || i >= a->archive.size())
        return static_cast<int>(outOfRange(out ? "no such entry" : "no room given for the entry"));
    fill(a->archive.entry(i), out);
    return 0;
}

size_t dat_entries(const dat_archive* a, size_t first, dat_entry* out, size_t n) {
    if (!a) {
        // A null handle holds no entries: only first 0 is in range.
        if (first > 0 || (!out && n > 0))
            outOfRange(first > 0 ? "no such entry" : "no room given for entries");
        return 0;
    }
    // Converted in pieces, so that a few entries on the stack serve any n.
    const size_t count = a->archive.size();
    if (first > count || (!out && n > 0)) return a->archive.entries(first, nullptr, n);
    const size_t filled = std::min(n, count - first);
    dat::Entry piece[64];
    for (size_t done = 0; done < filled;) {
        const size_t got = a->archive.entries(first + done, piece, std::min<size_t>(filled - done, 64));
        for (size_t k = 0; k < got; ++k) fill(piece[k], &out[done + k]);
        done += got;
    }
    return filled;
}

int64_t dat_path(const dat_archive* a, size_t i, int written, char* buf, size_t size) {
    if (!a || i >= a->archive.size()) return outOfRange("no such entry");
    const std::string path = written ? a->archive.written(i) : a->archive.path(i);
    if (buf && size > 0) {
        const size_t kept = path.size() < size ? path.size() : size - 1;
        std::memcpy(buf, path.data(), kept);
        buf[kept] = '\0';
    }
    return static_cast<int64_t>(path.size());
}

size_t dat_find(const dat_archive* a, const char* path) {
    const size_t i = a && path ? a->archive.find(path) : dat::notFound;
    if (i != dat::notFound) return i;
    dat::detail::tell(dat::Status::notFound, "no such entry");
    return DAT_NONE;
}

int64_t dat_read(const dat_archive* a, size_t i, uint64_t offset, void* buf, size_t n) {
    if (!a) return outOfRange("no such entry");
    if (!buf && n > 0) return outOfRange("no buffer given");
    return a->archive.read(i, offset, buf, n);
}

void dat_close(dat_archive* a) {
    const std::unique_ptr<dat_archive> owned(a);
}

namespace {

// A C string as the C++ face takes it: null names nothing.
std::string text(const char* s) {
    return s ? s : "";
}

}  // namespace

int dat_extract(const dat_archive* a, const char* dir, const char* const* members, size_t count,
                dat_outcome_fn fn, void* ctx) {
    if (!a || !a->archive.isOpen()) return DAT_OUT_OF_RANGE;
    try {
        std::vector<std::string> chosen;
        for (size_t k = 0; members && k < count; ++k) chosen.push_back(text(members[k]));
        // An empty list selects nothing, as "x" would write everything.
        if (members && chosen.empty()) return DAT_OK;
        dat::Archive::Outcome told;
        if (fn)
            told = [&](size_t entry, dat::Status status, const std::string& path, const std::string& why) {
                fn(ctx, entry == dat::notFound ? DAT_NONE : entry, code(status), path.c_str(), why.c_str());
            };
        return code(a->archive.extract(text(dir), chosen, told));
    } catch (...) {
        return DAT_NO_MEMORY;
    }
}

struct dat_writer {
    dat::Writer writer;
};

namespace {

// Runs a call on a writer: the copies of its strings may need memory.
template <typename Call>
int onWriter(dat_writer* w, Call call) {
    if (!w) return DAT_NO_MEMORY;
    try {
        return code(call(w->writer));
    } catch (...) {
        return DAT_NO_MEMORY;
    }
}

}  // namespace

dat_writer* dat_create(const char* path) {
    try {
        return std::make_unique<dat_writer>(dat_writer{dat::Writer(text(path))}).release();
    } catch (...) {
        dat::detail::tell(dat::Status::noMemory, "out of memory");
        return nullptr;
    }
}

dat_writer* dat_update(const char* path) {
    try {
        return std::make_unique<dat_writer>(dat_writer{dat::Writer::update(text(path))}).release();
    } catch (...) {
        dat::detail::tell(dat::Status::noMemory, "out of memory");
        return nullptr;
    }
}

int dat_remove(dat_writer* w, const char* member) {
    return onWriter(w, [&](dat::Writer& x) { return x.remove(text(member)); });
}

int dat_add_directory(dat_writer* w, const char* arcpath, int flags) {
    return onWriter(w, [&](dat::Writer& x) { return x.addDirectory(text(arcpath), flags); });
}

int dat_add_file(dat_writer* w, const char* arcpath, const char* diskpath, int flags) {
    return onWriter(w, [&](dat::Writer& x) { return x.addFile(text(arcpath), text(diskpath), flags); });
}

int dat_add_bytes(dat_writer* w, const char* arcpath, const void* data, size_t n, int flags) {
    return onWriter(w, [&](dat::Writer& x) { return x.addBytes(text(arcpath), data, n, flags); });
}

int dat_add_tree(dat_writer* w, const char* arcpath, const char* diskpath, int flags) {
    return onWriter(w, [&](dat::Writer& x) { return x.addTree(text(arcpath), text(diskpath), flags); });
}

int dat_finish(dat_writer* w) {
    return onWriter(w, [](dat::Writer& x) { return x.finish(); });
}

void dat_abort(dat_writer* w) {
    if (w) w->writer.abort();
}

int dat_writer_status(const dat_writer* w) {
    return w ? code(w->writer.status()) : DAT_NO_MEMORY;
}

const char* dat_writer_error(const dat_writer* w) {
    if (!w) return "out of memory";
    return w->writer.status() == dat::Status::ok ? nullptr : w->writer.error().c_str();
}

void dat_writer_free(dat_writer* w) {
    const std::unique_ptr<dat_writer> owned(w);
}
