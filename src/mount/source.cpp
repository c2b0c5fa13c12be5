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
    state->archive = dat::Archive(path, dat::With::tree);
    if (!state->archive.isOpen()) {
        why = state->archive.error();
        return false;
    }
    const dat::Archive& a = state->archive;
    source.shown.clear();
    source.shown.reserve(a.nodes());
    for (size_t i = 0; i < a.nodes(); ++i) {
        const dat::Node n = a.node(i);
        Shown s;
        s.name = std::string(n.name);
        s.directory = n.kind == dat::Kind::directory;
        s.parent = n.parent;
        s.member = n.entry;
        s.size = s.directory ? 0 : a.entry(n.entry).size;
        source.shown.push_back(std::move(s));
    }
    source.leftOut.clear();
    for (size_t i = 0; i < a.size(); ++i) {
        const dat::Entry e = a.entry(i);
        if (!e.refusal.empty()) source.leftOut.push_back({a.named(i), std::string(e.refusal)});
    }
    source.state = std::move(state);
    return true;
}

bool readMember(const Source& source, size_t member, uint64_t offset, void* buf, size_t n) {
    const int64_t got = source.state->archive.read(member, offset, buf, n);
    return got >= 0 && static_cast<uint64_t>(got) == n;
}

}  // namespace dat::detail
