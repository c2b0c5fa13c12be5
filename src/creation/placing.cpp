#include "creation/placing.h"

#include <utility>
#include <vector>

#include "archive/keyed_stream.h"

namespace dat::detail {

namespace {

// Copies the complete archive in `from` to `to`, both from their starts.
bool copyArchive(File& from, File& to) {
    if (!from || !to || !fileSeek(from, 0)) return false;
    std::vector<uint8_t> buffer(transferSize);
    const uint64_t length = fileLength(from);
    uint64_t copied = 0;
    for (size_t got; (got = fileRead(from, buffer.data(), buffer.size())) > 0; copied += got)
        if (fileWrite(to, buffer.data(), got) != got) return false;
    return copied == length;
}

// Copies the complete archive in `from` over the old one, through the
// handle held on it since the run began: never a path, which may lead
// elsewhere by now. Closes `to`.
bool copyInPlace(File& to, File& from) {
    return to && fileTruncate(to) && copyArchive(from, to) && fileClose(to);
}

// Copies the complete archive in the temporary file to a file made at the
// new archive's name, which must still be free. The temporary file is
// removed first, its bytes kept by the handle, so that the signals'
// clean-up has one file to remove: the copy, while it is partial. (On
// Windows it goes as that handle closes.)
bool copyToNew(Reporter& report, Staging& staged) {
    File to;
    {
        const Held hold(report);
        removeIn(staged.dir, staged.temp);
        bool taken = false;
        to = fileCreateIn(staged.dir, staged.name, taken);
        report.removeOnSignal(to ? &staged.dir : nullptr, staged.name);
    }
    bool copied = to && copyArchive(staged.file, to);
    fileClose(staged.file);
    if (!to) return false;
    const Held hold(report);
    copied = copied && fileKeep(to, staged.dir, staged.name, staged.name);
    if (!copied) fileDiscard(to, staged.dir, staged.name);
    report.removeOnSignal(nullptr, "");
    return copied;
}

// Moves the complete archive, in its temporary file, to its place: over
// the file the path leads to, which held holds, or, for a new archive, at
// its name only while nothing stands there. taken: someone else's file
// took that name meanwhile.
bool keepIn(Reporter& report, Staging& staged, File& held, bool replacing, bool& taken) {
    const Held hold(report);
    taken = false;
    const bool kept = replacing ? fileKeep(staged.file, staged.dir, staged.temp, staged.name, &held)
                                : fileKeepNew(staged.file, staged.dir, staged.temp, staged.name, taken);
    if (kept) report.removeOnSignal(nullptr, "");
    return kept;
}

// Puts the complete archive, in its temporary file, in place. Where the
// system will not move the file, the archive is copied there, after a line
// saying so: over the old one through held, or to a new file. A temporary
// file whose close failed may have lost a write: it is put nowhere.
void putInPlace(Reporter& report, Staging& staged, File& held, const std::string& archive, bool replacing) {
    bool taken = false;
    if (keepIn(report, staged, held, replacing, taken)) return;
    const bool whole = static_cast<bool>(staged.file);
    if (whole && !taken) report.writtenInPlace(archive, InPlace::cannotMove);
    // Someone else's file that took the name meanwhile stays.
    if (taken || !whole || !(replacing ? copyInPlace(held, staged.file) : copyToNew(report, staged)))
        report.archiveFailed(archive, ArchiveFault::notWritten, lastError());
    fileClose(held);
    const Held hold(report);
    fileDiscard(staged.file, staged.dir, staged.temp);
    report.removeOnSignal(nullptr, "");
}

// Makes the temporary file, given to the signals' clean-up as it is made.
File tempIn(Reporter& report, Staging& staged) {
    const Held hold(report);
    File temp = tempFileIn(staged.dir, staged.name, staged.temp);
    if (temp) report.removeOnSignal(&staged.dir, staged.temp);
    return temp;
}

// A regular file is replaced only by a complete archive; until then it
// stays as it was. A device or a FIFO is written as it is: then, or when
// no temporary file can be made, the staging's file stays closed.
Staging stagingFor(Reporter& report, const File& f, const std::string& archive, bool inPlace) {
    Staging staged;
    if (!fileIsRegular(f)) return staged;
    staged.dir = dirHolding(f, archive, staged.name);
    if (staged.dir) staged.file = tempIn(report, staged);
    if (!staged.file && inPlace) report.writtenInPlace(archive, InPlace::noTemporaryFile);
    return staged;
}

// A new archive is made only once complete: nothing stands at its name
// before, so a failure or a signal has nothing there to remove, and the
// name is taken only if it is still free. Where no temporary file can be
// made, the archive is made at its name and written there, as f. Neither:
// a closed staging's file and f.
Staging stagingForNew(Reporter& report, const std::string& archive, File& f) {
    Staging staged;
    staged.dir = dirForNew(archive, staged.name);
    if (!staged.dir) return staged;
    staged.file = tempIn(report, staged);
    if (staged.file) return staged;
    {
        const Held hold(report);
        bool taken = false;
        f = fileCreateIn(staged.dir, staged.name, taken);
        if (f) report.removeOnSignal(&staged.dir, staged.name);
    }
    if (f) report.writtenInPlace(archive, InPlace::noTemporaryFile);
    return staged;
}

// Puts a complete archive, written to a temporary file, in place. The file
// gets its final owner and bits only now: until then nobody else may open
// it.
void finishStaged(Reporter& report, const std::string& archive, Target& t, File& file, bool written) {
    bool ownerKept = true;
    if (written) written = fileFinalMode(file, t.missing ? nullptr : &t.old, ownerKept);
    if (!written) {
        report.archiveFailed(archive, ArchiveFault::notWritten, lastError());
        return discard(report, archive, t, file);
    }
    if (!ownerKept) report.ownerNotKept(archive);
    t.staged.file = std::move(file);
    putInPlace(report, t.staged, t.old, archive, !t.missing);
}

}  // namespace

// Opens what the archive is written to; false, the failure told, when
// there is nothing. An existing archive is opened without truncating: its
// permission decides whether it may be replaced, and a file that is
// standard output as well must be refused while it still holds what it
// held.
bool openTarget(Reporter& report, const std::string& archive, Target& t, bool inPlace) {
    t.old = fileOpenWrite(archive, &t.missing);
    if (t.old && isStandardOutput(t.old)) {
        report.archiveFailed(archive, ArchiveFault::standardOutput, "it is standard output");
        return false;
    }
    if (t.missing)
        t.staged = stagingForNew(report, archive, t.old);
    else if (t.old)
        t.staged = stagingFor(report, t.old, archive, inPlace);
    t.staging = static_cast<bool>(t.staged.file);
    if (!t.staging && !inPlace) {
        report.archiveFailed(archive, ArchiveFault::noTemporaryFile,
                             t.missing ? "No such file or directory" : lastError());
        return false;
    }
    t.made = t.missing && t.old;
    if (t.staging || (t.old && (t.made || fileTruncate(t.old)))) return true;
    report.archiveFailed(archive, ArchiveFault::notOpened, lastError());
    return false;
}

// What an archive left unfinished leaves behind: whatever stood there
// before, or nothing. Written in place, only a file this run created or
// truncated is removed, never a device or whatever a link led to.
void discard(Reporter& report, const std::string& archive, Target& t, File& file) {
    fileClose(t.old);
    if (!t.staging && !t.made) fileClose(file);
    const Held hold(report);
    if (t.staging)
        fileDiscard(file, t.staged.dir, t.staged.temp);
    else if (t.made)
        fileDiscard(file, t.staged.dir, t.staged.name);
    else if (pathKind(archive) == PathKind::file)
        removeFile(archive);
    report.removeOnSignal(nullptr, "");
}

// Closes the archive, written whole or not, and puts a whole one in place.
void finish(Reporter& report, const std::string& archive, Target& t, File& file, bool written) {
    if (t.staging) return finishStaged(report, archive, t, file, written);
    bool closed = false;
    {
        // Kept, a new archive written in place is complete: no signal may
        // remove it then.
        const Held hold(report);
        closed =
            t.made ? written && fileKeep(file, t.staged.dir, t.staged.name, t.staged.name) : fileClose(file);
        if (closed && t.made) report.removeOnSignal(nullptr, "");
    }
    if (!closed || !written) {
        report.archiveFailed(archive, ArchiveFault::notWritten, lastError());
        // Written in place over what was there, the unfinished archive
        // stays, as it always has.
        if (t.made) discard(report, archive, t, file);
    }
}

}  // namespace dat::detail
