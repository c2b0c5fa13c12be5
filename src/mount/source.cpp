#include "mount/source.h"

#include <new>

#include "archive/keyed_stream.h"
#include "platform/platform.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"

struct SourceState {
    KeyedFile file;
    uint32_t tocSize = 0;
    // Of each member: its entry's data offset and scrambled flag.
    std::vector<uint32_t> offsets;
    std::vector<uint8_t> scrambled;
};

bool openSource(const std::string& path, Source& source, std::string& why) {
    auto state = std::make_shared<SourceState>();
    state->file = KeyedFile(fileOpenRead(path));
    if (!state->file) {
        why = lastError();
        return false;
    }
    if (!fileIsRegular(state->file.file)) {
        why = "not a regular file";
        return false;
    }
    try {
        const Archive archive = parseFile(state->file);
        if (archive.status == Toc::notArchive) {
            why = "Not a DAT file";
            return false;
        }
        if (archive.status == Toc::damaged) {
            why = "Damaged archive: " + archive.damage;
            return false;
        }
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        state->tocSize = archive.tocSize;
        source.members.clear();
        source.members.reserve(verdicts.size());
        for (size_t i = 0; i < verdicts.size(); ++i) {
            const Verdict& v = verdicts[i];
            Member m;
            m.stored = storedPath(verdicts, i);
            m.written = writtenPath(verdicts, i);
            m.directory = v.entry->type == typeDirectory;
            m.size = m.directory ? 0 : v.entry->size;
            m.refused = reasonOf(v.refusal);
            source.members.push_back(std::move(m));
            state->offsets.push_back(v.entry->offset);
            state->scrambled.push_back(v.entry->scrambled);
        }
    } catch (const std::bad_alloc&) {
        source.members.clear();
        why = "Archive does not fit in memory";
        return false;
    }
    source.state = std::move(state);
    return true;
}

bool readMember(const Source& source, size_t member, uint64_t offset, void* buf, size_t n) {
    const SourceState& s = *source.state;
    return readAt(s.file.file, uint64_t(s.tocSize) + s.offsets[member] + offset, buf, n, s.scrambled[member]);
}

int sourceDescriptor(const Source& source) {
    return static_cast<int>(source.state->file.file.handle);
}
