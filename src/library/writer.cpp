// The library's writer: the tree "c" builds, built by adds, then planned,
// written and put in place by the same code as "c".
#include "creation/writer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "archive/paths.h"
#include "creation/placing.h"
#include "creation/planner.h"
#include "creation/scanner.h"
#include "creation/updater.h"
#include "dat/archive.hpp"
#include "library/status.h"
#include "library/writing.h"
#include "platform/platform.h"
#include "reading/members.h"
#include "reading/opening.h"
#include "reading/verdicts.h"

namespace dat {

namespace {

// Takes what the work tells on to the reporter behind it, if any, and
// keeps the worst of it as a status with its text.
struct Recorder : detail::Reporter {
    detail::Reporter* inner = nullptr;
    Status status = Status::ok;
    std::string why;

    void note(Status s, const std::string& path, const std::string& reason) {
        if (status != Status::ok && s != Status::noMemory) return;
        status = s;
        why = path.empty() ? reason : path + ": " + reason;
    }
    void take(Status& s, std::string& text) {
        if (status == Status::ok) return;
        s = status;
        text = std::move(why);
        status = Status::ok;
        why.clear();
    }

    void skipped(const std::string& path, const std::string& reason, const std::string& w) override {
        note(Status::refused, path, w);
        if (inner) inner->skipped(path, reason, w);
    }
    void passedOver(const std::string& path, const std::string& reason) override {
        if (inner) inner->passedOver(path, reason);
    }
    void notListed(const std::string& directory, const std::string& w) override {
        note(Status::systemError, directory, w);
        if (inner) inner->notListed(directory, w);
    }
    void writing(const std::string& path, uint32_t size) override {
        if (inner) inner->writing(path, size);
    }
    void sourceFault(const std::string& path, detail::SourceFault fault, uint32_t bytes,
                     const std::string& w) override {
        if (fault != detail::SourceFault::grew) note(Status::systemError, path, w);
        if (inner) inner->sourceFault(path, fault, bytes, w);
    }
    void moved() override {
        if (inner) inner->moved();
    }
    void writtenInPlace(const std::string& archive, detail::InPlace w) override {
        if (inner) inner->writtenInPlace(archive, w);
    }
    void archiveFailed(const std::string& archive, detail::ArchiveFault fault,
                       const std::string& w) override {
        const bool large = fault == detail::ArchiveFault::tooLarge,
                   memory = fault == detail::ArchiveFault::noMemory;
        const bool missing = fault == detail::ArchiveFault::notOpened && detail::lastErrorMissing();
        note(large     ? Status::tooLarge
             : memory  ? Status::noMemory
             : missing ? Status::notFound
                       : Status::systemError,
             "", w);
        if (inner) inner->archiveFailed(archive, fault, w);
    }
    void ownerNotKept(const std::string& archive) override {
        if (inner) inner->ownerNotKept(archive);
    }
    void holdSignals() override {
        if (inner) inner->holdSignals();
    }
    void releaseSignals() override {
        if (inner) inner->releaseSignals();
    }
    void removeOnSignal(const detail::Dir* dir, const std::string& name) override {
        if (inner) inner->removeOnSignal(dir, name);
    }
    void raiseHandleLimit() override {
        if (inner) inner->raiseHandleLimit();
    }
};

}  // namespace

struct Writer::State {
    explicit State(const std::string& path) : archive(path) {}
    std::string archive;
    Recorder report;
    // The library's own writer gives up an archive whose source files
    // failed at their turn; "c" keeps it, as told.
    bool strict = true;
    bool opened = false;     // its target, until put in place or discarded
    bool usable = false;     // open, and not failed as a whole or ended
    bool attempted = false;  // its bytes were written, whole (written) or not
    bool written = false;
    // Over an old archive: adds replace what stands at their paths, and
    // the old archive's files are copied from old at the finish.
    bool update = false;
    bool oldOpened = false;
    detail::File old;
    detail::Target target;
    detail::KeyedFile out;
    std::vector<detail::FileId> own;
    detail::Entry root;
    std::unique_ptr<detail::Scan> scan;
    // Where the entries' bytes come from, when not from their joined
    // path: an entry's offset, until planned, is its index here plus one.
    std::vector<detail::FileSource> sources;
    detail::HeldBytes bytes;
    Status status = Status::ok;
    std::string error;
};

namespace {

// Opens what the archive is written to; an update's only beside the old
// one, which is read while the new one is written.
void openState(Writer::State& s) {
    s.root.type = detail::typeDirectory;
    if (!detail::openTarget(s.report, s.archive, s.target, !s.update)) return;
    // A new archive has no file of its own to name yet.
    s.own = {s.target.old ? detail::fileIdOf(s.target.old) : detail::FileId{}};
    if (s.target.staging) s.own.push_back(detail::fileIdOf(s.target.staged.file));
    s.out = detail::KeyedFile(std::move(s.target.staging ? s.target.staged.file : s.target.old));
    s.opened = true;
    s.scan = std::make_unique<detail::Scan>(s.report, s.own);
    s.usable = true;
}

Status fail(Writer::State& s, Status status, std::string why) {
    s.status = status;
    s.error = std::move(why);
    return status;
}

// Opens and decodes the old archive of an update into a, its file kept in
// s; false, s's status set, when it does not open whole or "c" could not
// have written it, which would not come out as "c" writes it.
bool loadOld(Writer::State& s, detail::Archive& a) {
    detail::Opened opened = detail::openArchive(s.archive, true);
    s.oldOpened = opened.failure == detail::Failure::none;
    if (opened.failure == detail::Failure::none) {
        detail::Decoded decoded = detail::decodeArchive(opened);
        opened.failure = decoded.failure;
        opened.why = std::move(decoded.why);
        a = std::move(decoded.archive);
    }
    if (opened.failure != detail::Failure::none) return fail(s, detail::statusOf(opened), opened.why), false;
    std::string why = detail::unchangeable(a, detail::fileLength(opened.file));
    if (!why.empty()) return fail(s, Status::refused, std::move(why)), false;
    s.old = std::move(opened.file);
    return true;
}

// An update's writer: the old archive's tree, each file's bytes to come
// from where they lie in it.
void openUpdate(Writer::State& s) {
    s.update = true;
    detail::Archive a;
    if (!loadOld(s, a)) return;
    openState(s);
    if (!s.usable) return;
    s.root = std::move(a.root);
    detail::Preorder<std::vector<detail::Entry>> walk(s.root.child);
    for (detail::Entry* e = walk.next(); e; e = walk.next()) {
        detail::plan(*s.scan, *e);
        if (e->type != detail::typeFile) {
            e->offset = 0;
            continue;
        }
        detail::FileSource src;
        src.old = true;
        src.scrambled = e->scrambled;
        src.at = uint64_t(a.tocSize) + e->offset;
        s.sources.push_back(std::move(src));
        e->offset = static_cast<uint32_t>(s.sources.size());
    }
}

// Makes the file e a directory, as a path added below it needs.
void becomeDirectory(detail::Entry& e) {
    e.type = detail::typeDirectory;
    e.offset = e.size = 0;
    e.scrambled = 0;
    e.child.clear();
}

// c's order below the top level, which keeps the order of the adds.
std::vector<detail::Entry>::iterator placeFor(Writer::State& s, std::vector<detail::Entry>& list,
                                              const detail::Entry& e) {
    if (&list == &s.root.child) return list.end();
    return std::upper_bound(list.begin(), list.end(), e, [](const detail::Entry& a, const detail::Entry& b) {
        return detail::nameBefore(a.name, b.name);
    });
}

// The child list of the directory name in list, made when missing; null,
// with s's status set, when a file stands there or the name is refused.
// path is the directory's path in the archive.
std::vector<detail::Entry>* enter(Writer::State& s, std::vector<detail::Entry>& list, const std::string& name,
                                  const std::string& path) {
    auto at = std::find_if(list.begin(), list.end(), [&](const detail::Entry& e) { return e.name == name; });
    // An update takes the path as the disk now has it: the file gives way.
    if (at != list.end() && at->type != detail::typeDirectory && s.update) becomeDirectory(*at);
    if (at != list.end() && at->type != detail::typeDirectory) {
        fail(s, Status::refused, path + ": a file stands there");
        return nullptr;
    }
    if (at != list.end()) return &at->child;
    // An archive "x" could not write is never made: the name is checked as
    // the scan checks what it finds.
    if (detail::nameRefused(s.report, name, path, true)) {
        s.report.take(s.status, s.error);
        return nullptr;
    }
    detail::Entry dir;
    dir.type = detail::typeDirectory;
    dir.name = name;
    detail::plan(*s.scan, dir);
    return &list.insert(placeFor(s, list, dir), std::move(dir))->child;
}

// The directory list an arcpath's last name goes in, the directories above
// made as needed; null, with s's status set, when a name is refused or a
// file stands in the way. name is set to the last name, path to the path
// as stored.
std::vector<detail::Entry>* listFor(Writer::State& s, const std::string& arcpath, int flags,
                                    std::string& name, std::string& path) {
    if (flags & verbatim) {
        name = arcpath;
        path = arcpath;
        if (!detail::topNameRefused(s.report, arcpath)) return &s.root.child;
        s.report.take(s.status, s.error);
        return nullptr;
    }
    std::vector<std::string> names;
    detail::splitPath(arcpath, names);
    if (names.empty() || std::find(names.begin(), names.end(), "..") != names.end()) {
        fail(s, Status::refused,
             arcpath + ": " + (names.empty() ? "no name" : "path leaves the current directory"));
        return nullptr;
    }
    std::vector<detail::Entry>* list = &s.root.child;
    path.clear();
    for (size_t k = 0; list && k + 1 < names.size(); ++k) {
        path += names[k];
        list = enter(s, *list, names[k], path);
        path += '\\';
    }
    name = names.back();
    path += name;
    if (!list || !detail::nameRefused(s.report, name, path, false)) return list;
    s.report.take(s.status, s.error);
    return nullptr;
}

// Inserts e into list in "c"'s order (the top level in the order of the
// adds); refused when its name is taken, except by a directory when e is
// one and reuse says so, or in an update, which puts e in its place.
// Returns the entry in the list.
detail::Entry* insert(Writer::State& s, std::vector<detail::Entry>& list, detail::Entry e,
                      const std::string& path, bool reuse) {
    auto same =
        std::find_if(list.begin(), list.end(), [&](const detail::Entry& x) { return x.name == e.name; });
    if (same != list.end()) {
        if (reuse && same->type == detail::typeDirectory && e.type == detail::typeDirectory) return &*same;
        if (!s.update) {
            fail(s, Status::refused, path + ": already in the archive");
            return nullptr;
        }
        detail::plan(*s.scan, e);
        *same = std::move(e);
        return &*same;
    }
    if (list.size() >= detail::maxChildCount) {
        fail(s, Status::refused, path + ": directory holds more entries than an archive can");
        return nullptr;
    }
    detail::plan(*s.scan, e);
    const auto at = placeFor(s, list, e);
    return &*list.insert(at, std::move(e));
}

// Copies n bytes into s's held bytes, in memory while the total stays
// within its bound, else into the spill file, made beside the archive.
bool hold(Writer::State& s, const void* data, size_t n, detail::FileSource& src) {
    detail::HeldBytes& b = s.bytes;
    src.held = true;
    if (!b.spill && b.memory.size() + n <= detail::HeldBytes::heldInMemory) {
        src.at = b.memory.size();
        b.memory.insert(b.memory.end(), static_cast<const uint8_t*>(data),
                        static_cast<const uint8_t*>(data) + n);
        return true;
    }
    if (!b.spill) {
        std::string temp;
        const detail::Dir& dir = s.target.staged.dir;
        if (dir) b.spill = detail::tempFileIn(dir, s.target.staged.name, temp);
        // Its bytes stay with the handle: nothing is left of it at any end.
        if (b.spill) detail::removeIn(dir, temp);
    }
    src.spilled = true;
    src.at = b.spilled;
    if (!b.spill || !detail::fileSeek(b.spill, b.spilled) || detail::fileWrite(b.spill, data, n) != n)
        return false;
    b.spilled += n;
    return true;
}

// Inserts e, whose bytes (or whose files') come from src, as insert does.
detail::Entry* insertFrom(Writer::State& s, std::vector<detail::Entry>& list, detail::Entry e,
                          const std::string& path, detail::FileSource src) {
    s.sources.push_back(std::move(src));
    e.offset = static_cast<uint32_t>(s.sources.size());
    detail::Entry* added = insert(s, list, std::move(e), path, false);
    if (!added) s.sources.pop_back();
    return added;
}

// Adds a file entry of size bytes from src.
Status addFileEntry(Writer::State& s, const std::string& arcpath, int flags, uint64_t size,
                    detail::FileSource src) {
    std::string name, path;
    std::vector<detail::Entry>* list = listFor(s, arcpath, flags, name, path);
    if (!list) return s.status;
    if (size > UINT32_MAX) return fail(s, Status::tooLarge, path + ": 4 GiB or more");
    detail::Entry e;
    e.type = detail::typeFile;
    e.name = name;
    e.size = static_cast<uint32_t>(size);
    return insertFrom(s, *list, std::move(e), path, std::move(src)) ? Status::ok : s.status;
}

// Puts e at the top: in place of the entry of its name, else last.
void putTop(Writer::State& s, detail::Entry e) {
    std::vector<detail::Entry>& top = s.root.child;
    auto same =
        std::find_if(top.begin(), top.end(), [&](const detail::Entry& x) { return x.name == e.name; });
    if (same != top.end())
        *same = std::move(e);
    else
        top.push_back(std::move(e));
}

// "c"'s own top-level argument; an update's in place of the entry of its
// name.
Status addArgument(Writer::State& s, const std::string& diskpath) {
    std::vector<detail::Entry> one;
    const bool added = detail::addArgument(*s.scan, s.update ? one : s.root.child, diskpath);
    for (detail::Entry& e : one) putTop(s, std::move(e));
    s.report.take(s.status, s.error);
    return added ? s.status : Status::refused;
}

// Removes what members select, each directory with everything below it;
// the stored path of each entry removed whose directory stays goes to
// gone, in stored order.
void removeMembers(Writer::State& s, detail::Members& members, std::vector<std::string>& gone) {
    // The tree is judged as an archive's: moved there and back, its
    // entries stay where they are.
    detail::Archive a;
    a.root = std::move(s.root);
    const std::vector<detail::Verdict> verdicts = detail::judgeExtraction(a);
    const std::vector<bool> selected = detail::selectedBy(members, verdicts);
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const uint32_t parent = verdicts[i].parent;
        if (selected[i] && (parent == detail::topLevel || !selected[parent]))
            gone.push_back(detail::storedPath(verdicts, i));
    }
    detail::removeSelected(a, verdicts, selected);
    s.root = std::move(a.root);
}

// Runs an add: a writer that cannot write refuses it; memory that runs out
// ends the writer.
template <typename Add>
Status run(Writer::State* s, Add add) noexcept {
    if (!s) return Status::noMemory;
    if (!s->usable)
        return s->status == Status::ok ? fail(*s, Status::systemError, "the writer has ended") : s->status;
    s->status = Status::ok;
    s->error.clear();
    try {
        const Status got = add(*s);
        // "c" goes on to say so when it would write the archive.
        if (s->strict && s->scan && detail::tooLarge(*s->scan) && got != Status::noMemory) {
            s->usable = false;
            return fail(*s, Status::tooLarge, "Archive would be too large: 4 GiB or more");
        }
        return got;
    } catch (const std::bad_alloc&) {
        // A tree that fans out through links can outgrow memory before it
        // reaches the size limit; it is freed before anything is told.
        s->root.child.clear();
        s->usable = false;
        s->report.archiveFailed(s->archive, detail::ArchiveFault::noMemory, "Archive does not fit in memory");
        s->report.take(s->status, s->error);
        return s->status;
    } catch (const std::exception& e) {
        s->usable = false;
        return fail(*s, Status::systemError, std::string("internal error: ") + e.what());
    }
}

}  // namespace

Writer::Writer(const std::string& path) noexcept {
    try {
        state = std::make_unique<State>(path);
        openState(*state);
        state->report.take(state->status, state->error);
    } catch (...) {
        // With no state every call says noMemory.
        state.reset();
    }
}

Writer::~Writer() {
    abort();
}

Writer::Writer(Writer&& other) noexcept = default;

Writer& Writer::operator=(Writer&& other) noexcept {
    if (this != &other) {
        abort();
        state = std::move(other.state);
    }
    return *this;
}

Writer Writer::update(const std::string& path) noexcept {
    Writer w;
    try {
        w.state = std::make_unique<State>(path);
        openUpdate(*w.state);
        w.state->report.take(w.state->status, w.state->error);
    } catch (...) {
        w.state.reset();
    }
    return w;
}

Status Writer::remove(const std::string& member) noexcept {
    return run(state.get(), [&](State& s) {
        detail::Members members = detail::membersOf({member});
        std::vector<std::string> gone;
        removeMembers(s, members, gone);
        return gone.empty() ? fail(s, Status::notFound, member + ": not in the archive") : Status::ok;
    });
}

Status Writer::addDirectory(const std::string& arcpath, int flags) noexcept {
    return run(state.get(), [&](State& s) {
        std::string name, path;
        std::vector<detail::Entry>* list = listFor(s, arcpath, flags, name, path);
        if (!list) return s.status;
        detail::Entry e;
        e.type = detail::typeDirectory;
        e.name = name;
        return insert(s, *list, std::move(e), path, true) ? Status::ok : s.status;
    });
}

Status Writer::addFile(const std::string& arcpath, const std::string& diskpath, int flags) noexcept {
    return run(state.get(), [&](State& s) {
        detail::File in = detail::fileOpenRead(diskpath);
        detail::FileId id;
        if (!in)
            return fail(s, detail::lastErrorMissing() ? Status::notFound : Status::systemError,
                        diskpath + ": " + detail::lastError());
        if (!detail::regularFileId(in, id))
            return fail(s, Status::refused, diskpath + ": not a regular file");
        if (std::find(s.own.begin(), s.own.end(), id) != s.own.end())
            return fail(s, Status::refused, diskpath + ": it is the archive being written");
        detail::FileSource src;
        src.path = diskpath;
        return addFileEntry(s, arcpath, flags, detail::fileLength(in), std::move(src));
    });
}

Status Writer::addBytes(const std::string& arcpath, const void* data, size_t n, int flags) noexcept {
    return run(state.get(), [&](State& s) {
        if (!data && n > 0) return fail(s, Status::outOfRange, "no bytes given");
        if (n > UINT32_MAX) return fail(s, Status::tooLarge, arcpath + ": 4 GiB or more");
        detail::FileSource src;
        if (!hold(s, data, n, src))
            return fail(s, Status::systemError, "cannot hold the bytes: " + detail::lastError());
        return addFileEntry(s, arcpath, flags, n, std::move(src));
    });
}

Status Writer::addTree(const std::string& arcpath, const std::string& diskpath, int flags) noexcept {
    return run(state.get(), [&](State& s) {
        // "c"'s own: a top-level name as typed, scanned where it is named;
        // one that cannot be listed is stored empty, as told.
        if ((flags & verbatim) && arcpath == diskpath) return addArgument(s, diskpath);
        detail::FileId id;
        if (!detail::directoryId(diskpath, id))
            return fail(s, detail::lastErrorMissing() ? Status::notFound : Status::refused,
                        diskpath + ": not a directory");
        std::string name, path;
        std::vector<detail::Entry>* list = listFor(s, arcpath, flags, name, path);
        if (!list) return s.status;
        detail::Entry e;
        e.type = detail::typeDirectory;
        e.name = name;
        detail::FileSource src;
        src.path = diskpath;
        detail::Entry* added = insertFrom(s, *list, std::move(e), path, std::move(src));
        if (!added) return s.status;
        detail::scanInto(*s.scan, *added, diskpath);
        s.report.take(s.status, s.error);
        return s.status;
    });
}

namespace {

// The sources by entry in preorder, each directory's count set, as the
// tree stands before it is planned.
detail::Sources sourcesOf(Writer::State& s) {
    detail::Sources out;
    size_t index = 0;
    detail::Preorder<std::vector<detail::Entry>> walk(s.root.child);
    for (detail::Entry* e = walk.next(); e; e = walk.next(), ++index) {
        if (e->type == detail::typeDirectory) e->count = static_cast<uint32_t>(e->child.size());
        if (e->offset == 0) continue;
        out.list.push_back(std::move(s.sources[e->offset - 1]));
        out.list.back().entry = index;
    }
    s.root.count = static_cast<uint32_t>(s.root.child.size());
    out.bytes = std::move(s.bytes);
    return out;
}

}  // namespace

Writer detail::WriterAccess::update(const std::string& path, Reporter& report, OldArchive& old) {
    Writer w;
    w.state = std::make_unique<Writer::State>(path);
    w.state->report.inner = &report;
    w.state->strict = false;
    openUpdate(*w.state);
    w.state->report.take(w.state->status, w.state->error);
    old = !w.state->oldOpened ? OldArchive::unopened : w.state->old ? OldArchive::taken : OldArchive::refused;
    return w;
}

bool detail::WriterAccess::addPath(Writer& w, const std::string& path, std::string& why) {
    Writer::State& s = *w.state;
    return s.usable && detail::addPath(s.root, path, s.own, s.report, why);
}

std::vector<std::string> detail::WriterAccess::remove(Writer& w, Members& members) {
    std::vector<std::string> gone;
    if (w.state->usable) removeMembers(*w.state, members, gone);
    return gone;
}

Status detail::WriterAccess::write(Writer& w) {
    return run(w.state.get(), [](Writer::State& s) {
        s.usable = false;
        Sources sources = sourcesOf(s);
        sources.old = &s.old;
        s.root.size = fixupTree(s.root.child, 0);
        // Offsets are 32-bit: a longer archive could not be read back, so
        // none of it is written.
        if (archiveLength(s.root) > maxArchiveLength) {
            s.report.archiveFailed(s.archive, ArchiveFault::tooLarge,
                                   "Archive would be too large: 4 GiB or more");
            s.report.take(s.status, s.error);
            return s.status;
        }
        // An old archive written in place is emptied only now.
        if (s.target.emptyFirst) {
            if (!fileTruncate(s.out.file)) {
                s.report.archiveFailed(s.archive, ArchiveFault::notOpened, lastError());
                s.report.take(s.status, s.error);
                return s.status;
            }
            s.target.emptyFirst = false;
        }
        s.attempted = true;
        std::string unread;
        s.written = createFile(s.out, s.root, s.own, s.report, &sources, &unread);
        if (!unread.empty()) {
            // Nothing is put in place from an old archive that fails.
            s.attempted = false;
            return fail(s, Status::damaged, std::move(unread));
        }
        Status faults = Status::ok;
        std::string why;
        s.report.take(faults, why);
        if (s.strict && faults != Status::ok) {
            s.written = false;
            return fail(s, faults, std::move(why));
        }
        return s.written ? Status::ok
                         : fail(s, Status::systemError, "cannot write the archive: " + lastError());
    });
}

size_t detail::WriterAccess::argumentsRead(const Writer& w) {
    return w.state && w.state->scan ? w.state->scan->read : 0;
}

Status detail::WriterAccess::place(Writer& w) {
    Writer::State* s = w.state.get();
    if (!s) return Status::noMemory;
    if (!s->opened) return s->status;
    s->opened = false;
    // Read no more: Windows replaces no file held open.
    detail::fileClose(s->old);
    if (s->attempted) {
        finish(s->report, s->archive, s->target, s->out.file, s->written);
        s->written = s->attempted = false;
    } else {
        discard(s->report, s->archive, s->target, s->out.file);
    }
    s->usable = false;
    // A failure of the writing is what went wrong first: it stays told.
    Status placed = Status::ok;
    std::string why;
    s->report.take(placed, why);
    if (placed != Status::ok && s->status == Status::ok) fail(*s, placed, std::move(why));
    return s->status;
}

Writer::Writer() noexcept = default;

Writer detail::WriterAccess::open(const std::string& path, Reporter& report) {
    Writer w;
    w.state = std::make_unique<Writer::State>(path);
    w.state->report.inner = &report;
    w.state->strict = false;
    openState(*w.state);
    w.state->report.take(w.state->status, w.state->error);
    return w;
}

Status Writer::finish() noexcept {
    if (!state) return Status::noMemory;
    if (!state->usable) {
        detail::WriterAccess::place(*this);
        return state->status == Status::ok ? fail(*state, Status::systemError, "the writer has ended")
                                           : state->status;
    }
    const Status written = detail::WriterAccess::write(*this);
    const Status placed = detail::WriterAccess::place(*this);
    return written != Status::ok ? written : placed;
}

void Writer::abort() noexcept {
    if (!state || !state->opened) return;
    state->written = state->attempted = false;
    try {
        detail::WriterAccess::place(*this);
    } catch (...) {
    }
}

Status Writer::status() const noexcept {
    return state ? state->status : Status::noMemory;
}

const std::string& Writer::error() const noexcept {
    static const std::string noMemory = "out of memory";
    return state ? state->error : noMemory;
}

}  // namespace dat
