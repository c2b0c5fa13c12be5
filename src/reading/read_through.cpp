#include "reading/read_through.h"

#include <algorithm>

#include "archive/format.h"
#include "archive/keyed_stream.h"

namespace dat::detail {

Through readThrough(const File& f, const Archive& archive, const Entry& e, std::vector<uint8_t>& buffer,
                    const TakeBytes& take) {
    uint64_t from = uint64_t(archive.tocSize) + e.offset;
    for (uint32_t left = e.size; left > 0;) {
        const size_t n = std::min<size_t>(left, buffer.size());
        if (!readAt(f, from, buffer.data(), n, e.scrambled)) return Through::unreadable;
        if (!take(buffer.data(), n)) return Through::stopped;
        from += n;
        left -= static_cast<uint32_t>(n);
    }
    return Through::whole;
}

namespace {

// The paths of each verdict in turn, as listed and as "x" writes them,
// built as a walk in stored order goes down and up.
struct Paths {
    std::string stored, written;
    struct Above {
        uint32_t verdict;
        size_t stored, written;
    };
    std::vector<Above> above;  // the directories from the top down to the entry at hand
};

void nextPaths(Paths& p, const std::vector<Verdict>& verdicts, size_t i) {
    const Verdict& v = verdicts[i];
    while (!p.above.empty() && p.above.back().verdict != v.parent) p.above.pop_back();
    p.stored.resize(p.above.empty() ? 0 : p.above.back().stored);
    p.written.resize(p.above.empty() ? 0 : p.above.back().written);
    const bool dir = v.entry->type == typeDirectory;
    p.stored += v.entry->name;
    if (dir) p.stored += '\\';
    appendWritten(p.written, v);
    if (dir) p.above.push_back({static_cast<uint32_t>(i), p.stored.size(), p.written.size()});
}

// Whether "x" would fail on a directory: one it skips or cannot make.
bool refusesDirectory(Refusal r) {
    switch (r) {
        case Refusal::leavesDirectory:
        case Refusal::reservedName:
        case Refusal::fileInTheWay:
        case Refusal::nameTooLong:
            return true;
        case Refusal::none:
        case Refusal::namesNoFile:
        case Refusal::outsideArchive:
        case Refusal::cutShort:
        case Refusal::directoryInTheWay:
            break;
    }
    return false;
}

// Tests one file: refused, or read through to its end. True when sound.
bool testFile(const File& f, const Archive& archive, const Verdict& v, const std::string& path,
              std::vector<uint8_t>& buffer, Reporter& report) {
    report.testing(path, v.entry->size);
    if (v.refusal != Refusal::none) {
        report.notTested(path, reasonOf(v.refusal));
        return false;
    }
    const TakeBytes moved = [&report](const uint8_t*, size_t) {
        report.moved();
        return true;
    };
    if (readThrough(f, archive, *v.entry, buffer, moved) != Through::whole) {
        report.notTested(path, "the archive cannot be read there");
        return false;
    }
    report.tested(path);
    return true;
}

}  // namespace

uint32_t testEntries(const File& f, const Archive& archive, const std::vector<Verdict>& verdicts,
                     const std::vector<bool>* selected, Reporter& report) {
    std::vector<uint8_t> buffer(transferSize);
    Paths paths;
    uint32_t files = 0, problems = 0;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        nextPaths(paths, verdicts, i);
        if (selected && !(*selected)[i]) continue;
        const Verdict& v = verdicts[i];
        // Named as "x" names it: by its stored path when it climbs out.
        const std::string& path = v.refusal == Refusal::leavesDirectory ? paths.stored : paths.written;
        if (v.entry->type == typeFile) {
            ++files;
            if (!testFile(f, archive, v, path, buffer, report)) ++problems;
        } else if (refusesDirectory(v.refusal)) {
            report.testing(path, 0);
            report.notTested(path, reasonOf(v.refusal));
            ++problems;
        }
    }
    report.testEnds(files, problems);
    return problems;
}

}  // namespace dat::detail
