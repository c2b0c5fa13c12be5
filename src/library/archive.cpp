// The library's C++ face over the reader: an open archive is the decoded
// tree, what "x" would do with each entry and a plain handle read by
// absolute offset, so reads share nothing that moves.
#include "dat/archive.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "archive/paths.h"
#include "library/status.h"
#include "platform/platform.h"
#include "reading/extraction.h"
#include "reading/members.h"
#include "reading/opening.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"

namespace dat {

Status detail::statusOf(const detail::Opened& file) {
    switch (file.failure) {
        case detail::Failure::none:
            return Status::ok;
        case detail::Failure::cannotOpen:
            return file.missing ? Status::notFound : Status::systemError;
        case detail::Failure::notRegular:
            return Status::refused;
        case detail::Failure::notArchive:
            return Status::notADat;
        case detail::Failure::damaged:
            return Status::damaged;
        case detail::Failure::noMemory:
            return Status::noMemory;
    }
    return Status::systemError;
}

namespace {

// What an open archive holds.
struct Loaded {
    detail::File file;
    detail::Archive archive;
    std::vector<detail::Verdict> verdicts;
    std::vector<uint32_t> end;       // of each entry: the index past everything below it
    std::vector<detail::Made> made;  // with With::tree only
};

// Decodes the archive at path; on failure returns null with why set to
// the text dattool prints and status to its code.
std::unique_ptr<Loaded> load(const std::string& path, With with, std::string& why, Status& status) {
    detail::Opened file = detail::openArchive(path);
    if (file.failure != detail::Failure::none) {
        why = file.why;
        status = detail::statusOf(file);
        return nullptr;
    }
    auto state = std::make_unique<Loaded>();
    detail::Decoded decoded = detail::decodeArchive(file);
    if (decoded.failure != detail::Failure::none) {
        why = decoded.why;
        file.failure = decoded.failure;
        status = detail::statusOf(file);
        return nullptr;
    }
    state->archive = std::move(decoded.archive);
    state->verdicts = detail::judgeExtraction(state->archive, with == With::tree ? &state->made : nullptr);
    const size_t count = state->verdicts.size();
    state->end.resize(count);
    // Preorder: an entry's children come after it, so walking backwards
    // settles every subtree before the directory holding it.
    for (size_t i = count; i-- > 0;) {
        state->end[i] = std::max(state->end[i], static_cast<uint32_t>(i + 1));
        const size_t parent = state->verdicts[i].parent;
        if (parent != detail::topLevel) state->end[parent] = std::max(state->end[parent], state->end[i]);
    }
    state->file = std::move(file.file);
    return state;
}

// "internal error: <what>", or as much of it as memory allows.
std::string internalError(const char* what) noexcept {
    try {
        return std::string("internal error: ") + what;
    } catch (...) {
        return {};
    }
}

// The directories a lookup has entered: the index past each one's last
// entry, and the length of the path before its name.
using Entered = std::vector<std::pair<uint32_t, size_t>>;

// Leaves every directory entered that ends before entry i, cutting at back
// to the path of the directory i lies in.
void leaveBefore(size_t i, Entered& open, std::string& at) {
    while (!open.empty() && i >= open.back().first) {
        at.resize(open.back().second);
        open.pop_back();
    }
}

// Appends e's name, and a directory's "\\", to at, setting found to i
// where that is path. Names may hold separators themselves, so a directory
// matches with its trailing separator or without it, never by stripping
// path. The directories entered lead towards path, so at agrees with it up
// to e's own name, and only the rest is compared. True when path lies below
// the directory e, at then ending in its separator; otherwise at is left as
// it was.
bool stepTowards(std::string_view path, std::string& at, const detail::Entry& e, size_t i, size_t& found) {
    auto leadsTo = [&](size_t from) {
        return path.size() >= at.size() &&
               detail::startsWithPath(path.substr(from), std::string_view(at).substr(from));
    };
    const size_t mark = at.size();
    at += e.name;
    const bool towards = leadsTo(mark);
    if (towards && at.size() == path.size()) found = i;
    if (e.type == detail::typeDirectory && towards) {
        at += '\\';
        if (leadsTo(at.size() - 1)) {
            if (at.size() != path.size()) return true;
            found = i;
        }
    }
    at.resize(mark);
    return false;
}

// The last failure of a call on this thread. Fixed room, so that telling
// it never needs memory.
thread_local Status lastCode = Status::ok;
thread_local char lastText[256] = "";

}  // namespace

namespace detail {

void tell(Status status, std::string_view why) noexcept {
    lastCode = status;
    const size_t n = std::min(why.size(), sizeof lastText - 1);
    std::memcpy(lastText, why.data(), n);
    lastText[n] = '\0';
}

}  // namespace detail

Status lastStatus() noexcept {
    return lastCode;
}

const char* lastError() noexcept {
    return lastText;
}

// An archive that failed to open keeps only its status: its entries are
// empty.
struct Archive::State : Loaded {
    Status status = Status::ok;
};

Archive::Archive() noexcept = default;
Archive::~Archive() = default;
Archive::Archive(Archive&& other) noexcept = default;
Archive& Archive::operator=(Archive&& other) noexcept = default;

Archive::Archive(const std::string& path) noexcept : Archive(path, With::entries) {}

Archive::Archive(const std::string& path, With with) noexcept {
    // Closes the archive, keeping why as the error of a failed open.
    auto failed = [this](std::string why) noexcept {
        state.reset();
        failure = std::move(why);
        try {
            state = std::make_unique<State>();
            state->status = Status::systemError;
        } catch (...) {
            failure = "Archive does not fit in memory";
        }
    };
    try {
        Status status = Status::ok;
        std::unique_ptr<Loaded> opened = load(path, with, failure, status);
        state = std::make_unique<State>();
        if (opened) static_cast<Loaded&>(*state) = std::move(*opened);
        state->status = status;
    } catch (const std::bad_alloc&) {
        // With no state, status() says noMemory.
        // The tree was freed on the way here, so the text has room.
        state.reset();
        failure = "Archive does not fit in memory";
    } catch (const std::exception& e) {
        // A fault of the library's own: said as such, never as memory.
        failed(internalError(e.what()));
    } catch (...) {
        failed(internalError("an exception of no known kind"));
    }
}

bool Archive::isOpen() const noexcept {
    return state && state->status == Status::ok;
}

Status Archive::status() const noexcept {
    if (state) return state->status;
    return failure.empty() ? Status::ok : Status::noMemory;
}

const std::string& Archive::error() const noexcept {
    return failure;
}

size_t Archive::size() const noexcept {
    return state ? state->verdicts.size() : 0;
}

Entry Archive::entry(size_t i) const noexcept {
    Entry out;
    if (i >= size()) return out;
    const detail::Verdict& v = state->verdicts[i];
    const detail::Entry& e = *v.entry;
    out.name = e.name;
    out.kind = e.type == detail::typeDirectory ? Kind::directory : Kind::file;
    out.size = e.size;
    out.offset = out.kind == Kind::file ? uint64_t(state->archive.tocSize) + e.offset : 0;
    out.parent = v.parent == detail::topLevel ? noParent : v.parent;
    out.refusal = detail::reasonOf(v.refusal);
    out.replaced = v.replaced;
    return out;
}

std::string Archive::path(size_t i) const noexcept {
    if (i >= size()) return {};
    try {
        return detail::storedPath(state->verdicts, i);
    } catch (...) {
        return {};
    }
}

std::string Archive::named(size_t i) const noexcept {
    if (i >= size()) return {};
    try {
        return state->verdicts[i].refusal == detail::Refusal::leavesDirectory
                   ? detail::storedPath(state->verdicts, i)
                   : detail::writtenPath(state->verdicts, i);
    } catch (...) {
        return {};
    }
}

size_t Archive::nodes() const noexcept {
    return state ? state->made.size() : 0;
}

Node Archive::node(size_t i) const noexcept {
    Node out;
    if (i >= nodes()) return out;
    const detail::Made& m = state->made[i];
    out.name = detail::madeName(state->verdicts, state->made, i);
    out.kind = m.directory ? Kind::directory : Kind::file;
    out.parent = m.parent;
    out.entry = i == 0 ? noParent : m.verdict;
    return out;
}

std::string Archive::written(size_t i) const noexcept {
    if (i >= size() || state->verdicts[i].refusal != detail::Refusal::none) return {};
    try {
        return detail::writtenPath(state->verdicts, i);
    } catch (...) {
        return {};
    }
}

size_t Archive::find(std::string_view path) const noexcept {
    try {
        size_t found = notFound;
        // One buffer holds the path of the entry at hand; a directory whose
        // path does not lead towards the one wanted is passed over whole.
        std::string at;
        Entered open;
        const size_t count = size();
        for (size_t i = 0; i < count;) {
            leaveBefore(i, open, at);
            const detail::Entry& e = *state->verdicts[i].entry;
            const size_t mark = at.size();
            if (stepTowards(path, at, e, i, found)) {
                open.emplace_back(state->end[i], mark);
                ++i;
            } else {
                i = e.type == detail::typeDirectory ? state->end[i] : i + 1;
            }
        }
        return found;
    } catch (...) {
        return notFound;
    }
}

size_t Archive::entries(size_t first, Entry* out, size_t n) const noexcept {
    const size_t count = size();
    if (first > count || (!out && n > 0)) {
        detail::tell(Status::outOfRange, first > count ? "no such entry" : "no room given for entries");
        return 0;
    }
    const size_t filled = std::min(n, count - first);
    for (size_t k = 0; k < filled; ++k) out[k] = entry(first + k);
    return filled;
}

int64_t Archive::read(size_t i, uint64_t offset, void* buf, size_t n) const noexcept {
    auto refuse = [](Status status, std::string_view why) {
        detail::tell(status, why);
        return int64_t{-1};
    };
    if (i >= size()) return refuse(Status::outOfRange, "no such entry");
    const detail::Verdict& v = state->verdicts[i];
    const detail::Entry& e = *v.entry;
    if (e.type != detail::typeFile) return refuse(Status::refused, "not a file");
    if (v.refusal == detail::Refusal::outsideArchive)
        return refuse(Status::damaged, detail::reasonOf(v.refusal));
    if (offset >= e.size || n == 0) return 0;
    if (!buf) return refuse(Status::outOfRange, "no buffer given");
    const size_t want = static_cast<size_t>(std::min<uint64_t>(n, e.size - offset));
    const uint64_t start = uint64_t(state->archive.tocSize) + e.offset + offset;
    if (!detail::readAt(state->file, start, buf, want, e.scrambled)) {
        // A read that falls short without the system saying why met the
        // archive's end: it was cut since it was opened.
        if (detail::fileLength(state->file) < start + want)
            return refuse(Status::damaged, "archive was cut short since it was opened");
        return refuse(Status::systemError, detail::lastError());
    }
    return static_cast<int64_t>(want);
}

namespace {

// The worse of two outcomes: a failure, then a member that selected
// nothing, then a refusal.
Status worse(Status a, Status b) {
    auto rank = [](Status s) {
        switch (s) {
            case Status::ok:
                return 0;
            case Status::refused:
                return 1;
            case Status::notFound:
                return 2;
            default:
                return 3;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

// Hands each entry's outcome on, as the extraction tells it.
struct Teller : detail::Reporter {
    Teller(const std::vector<detail::Verdict>& v, const Archive::Outcome& t) : verdicts(v), told(t) {}
    const std::vector<detail::Verdict>& verdicts;
    const Archive::Outcome& told;
    size_t at = notFound;
    Status worst = Status::ok;

    void tell(Status s, const std::string& path, const std::string& why) {
        worst = worse(worst, s);
        if (told) told(at, s, path, why);
    }
    // A refused entry is told as refused; any other failure is the system's.
    Status failed() const {
        return at < verdicts.size() && verdicts[at].refusal != detail::Refusal::none ? Status::refused
                                                                                     : Status::systemError;
    }
    void entryAt(size_t i) override { at = i; }
    void noCurrentDirectory(const std::string& why) override { tell(Status::systemError, ".", why); }
    void directoryMade(const std::string& path) override { tell(Status::ok, path, ""); }
    void directoryNotMade(const std::string& path, const std::string& why) override {
        tell(failed(), path, why);
    }
    void extracted(const std::string& path) override { tell(Status::ok, path, ""); }
    void notExtracted(const std::string& path, const std::string& why) override { tell(failed(), path, why); }
    void skipped(const std::string& path, const std::string& /*reason*/, const std::string& why) override {
        tell(Status::refused, path, why);
    }
};

}  // namespace

Status Archive::extract(const std::string& dir, const std::vector<std::string>& members,
                        const Outcome& told) const noexcept {
    try {
        if (!isOpen()) {
            detail::tell(Status::outOfRange, "the archive is not open");
            return Status::outOfRange;
        }
        Teller teller(state->verdicts, told);
        if (!detail::makeDirectories(dir)) {
            teller.tell(detail::lastErrorMissing() ? Status::notFound : Status::systemError, dir,
                        detail::lastError());
            return teller.worst;
        }
        detail::Members chosen = detail::membersOf(members);
        const std::vector<bool> selected =
            members.empty() ? std::vector<bool>() : detail::selectedBy(chosen, state->verdicts);
        detail::extractFiles(state->file, state->archive, teller, &state->verdicts,
                             members.empty() ? nullptr : &selected, dir);
        teller.at = notFound;
        for (size_t k = 0; k < chosen.names.size(); ++k)
            if (!chosen.found[k]) teller.tell(Status::notFound, chosen.names[k], "not in the archive");
        return teller.worst;
    } catch (const std::bad_alloc&) {
        return Status::noMemory;
    } catch (...) {
        return Status::systemError;
    }
}

void Archive::close() noexcept {
    state.reset();
    failure.clear();
}

}  // namespace dat
