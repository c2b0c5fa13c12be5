// The adapter over libdat's C++ face: datmount reads archives through the
// library alone.
#include "mount/source.h"

#include "dat/archive.hpp"

namespace dat::detail {

struct SourceState {
    dat::Archive archive;
};

bool openSource(const std::string& path, Source& source, std::string& why) {
    auto state = std::make_shared<SourceState>();
    state->archive = dat::Archive(path);
    if (!state->archive.isOpen()) {
        why = state->archive.error();
        return false;
    }
    const dat::Archive& a = state->archive;
    source.members.clear();
    source.members.reserve(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
        const dat::Entry e = a.entry(i);
        Member m;
        m.parent = e.parent;
        m.stored = a.path(i);
        m.written = a.written(i);
        m.directory = e.kind == dat::Kind::directory;
        m.size = m.directory ? 0 : e.size;
        m.refused = std::string(e.refusal);
        source.members.push_back(std::move(m));
    }
    source.state = std::move(state);
    return true;
}

bool readMember(const Source& source, size_t member, uint64_t offset, void* buf, size_t n) {
    const int64_t got = source.state->archive.read(member, offset, buf, n);
    return got >= 0 && static_cast<uint64_t>(got) == n;
}

}  // namespace dat::detail
