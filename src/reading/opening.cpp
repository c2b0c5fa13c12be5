#include "reading/opening.h"

#include <new>
#include <utility>

#include "platform/platform.h"

namespace dat::detail {

Opened openArchive(const std::string& path, bool shared) {
    Opened opened{shared ? fileOpenReadShared(path) : fileOpenRead(path), Failure::none, {}, false};
    if (!opened.file) {
        opened.failure = Failure::cannotOpen;
        opened.why = lastError();
        opened.missing = lastErrorMissing();
    } else if (!fileIsRegular(opened.file)) {
        // The format needs the archive's length before anything else, which
        // only a regular file has: a pipe or a device is refused unread.
        opened.failure = Failure::notRegular;
        opened.why = "not a regular file";
    }
    return opened;
}

Decoded decodeArchive(Opened& opened) {
    Decoded decoded;
    try {
        decoded.archive = parseFile(opened.file);
        switch (decoded.archive.status) {
            case Toc::ok:
                break;
            case Toc::notArchive:
                decoded.failure = Failure::notArchive;
                decoded.why = "Not a DAT file";
                break;
            case Toc::damaged:
                decoded.failure = Failure::damaged;
                decoded.why = "Damaged archive: " + decoded.archive.damage;
                break;
        }
    } catch (const std::bad_alloc&) {
        // The archive may well be sound: what was built of it is freed
        // first, so the text has room.
        decoded.archive = Archive();
        decoded.failure = Failure::noMemory;
        decoded.why = "Archive does not fit in memory";
    }
    return decoded;
}

}  // namespace dat::detail
