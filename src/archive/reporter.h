// What listing, extraction, the scan and the writer tell of their work as
// they go: which entry they are at, what became of it and why. They print
// nothing themselves; whoever starts the work hands them a Reporter. Every
// call does nothing here, so a caller that wants nothing told (the library,
// the mount) hands a Reporter as it is; dattool hands its Printer, which
// prints the lines it has always printed (report.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dat::detail {

struct Dir;

// Why an archive is written in place of the file it replaces, or at its
// name, rather than in a temporary file moved there once complete.
enum class InPlace : uint8_t {
    noTemporaryFile,  // none could be made beside it
    cannotMove,       // the system would not move the complete one there
};

// What became of an archive that was not written.
enum class ArchiveFault : uint8_t {
    notOpened,        // its file cannot be opened or made
    notWritten,       // it could not be written or put in place
    noTemporaryFile,  // a changed archive, never written in place, has none beside it
    standardOutput,   // its file is standard output
    tooLarge,         // it would take 4 GiB or more
    noMemory,         // its tree does not fit in memory
};

// What a source file turned out to be when the writer came to copy it.
enum class SourceFault : uint8_t {
    isArchive,   // the archive being written: zeros stored in its place
    unreadable,  // not opened, or no regular file: zeros stored in its place
    shrank,      // fewer bytes than scanned: the rest stored as zeros
    grew,        // more bytes than scanned: only those stored
};

struct Reporter {
    Reporter() = default;
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;
    virtual ~Reporter() = default;

    // l: an entry's path as stored, directories ending in "\\".
    virtual void listed(const std::string& /*path*/) {}

    // x: the walk begins; it ends with the number of file records decoded.
    virtual void extractionBegins() {}
    virtual void extractionEnds(uint32_t /*files*/) {}
    // What follows is of entry i, in stored order.
    virtual void entryAt(size_t /*i*/) {}
    // Nothing can be extracted: the current directory cannot be held.
    virtual void noCurrentDirectory(const std::string& /*why*/) {}
    virtual void directoryMade(const std::string& /*path*/) {}
    virtual void directoryNotMade(const std::string& /*path*/, const std::string& /*why*/) {}
    // A file's work begins; it ends as extracted or notExtracted.
    virtual void extracting(const std::string& /*path*/, uint32_t /*size*/) {}
    virtual void extracted(const std::string& /*path*/) {}
    virtual void notExtracted(const std::string& /*path*/, const std::string& /*why*/) {}

    // An entry left alone, which fails the run: reason says why in a few
    // words, why in the system's words where it gave any.
    virtual void skipped(const std::string& /*path*/, const std::string& /*reason*/,
                         const std::string& /*why*/) {}
    // An item left alone on purpose, which does not fail the run.
    virtual void passedOver(const std::string& /*path*/, const std::string& /*reason*/) {}

    // c: a directory that cannot be listed is stored empty.
    virtual void notListed(const std::string& /*directory*/, const std::string& /*why*/) {}
    // A file's bytes are copied into the archive; size as scanned.
    virtual void writing(const std::string& /*path*/, uint32_t /*size*/) {}
    // bytes: for isArchive and unreadable the zeros stored, for shrank the
    // bytes missing, for grew the bytes stored.
    virtual void sourceFault(const std::string& /*path*/, SourceFault /*fault*/, uint32_t /*bytes*/,
                             const std::string& /*why*/) {}

    // A chunk of file bytes moved, between the lines above.
    virtual void moved() {}

    // c: the archive is written in place, said before it is.
    virtual void writtenInPlace(const std::string& /*archive*/, InPlace /*why*/) {}
    // The archive is not written, or not put in place; why in the
    // system's words where it gave any. What stood at its path stays.
    virtual void archiveFailed(const std::string& /*archive*/, ArchiveFault /*fault*/,
                               const std::string& /*why*/) {}
    // The archive replaced a file whose owner it could not take on.
    virtual void ownerNotKept(const std::string& /*archive*/) {}

    // Process-wide things, which only a program may do: the library does
    // none of them. Signals wait between holdSignals and releaseSignals
    // (nested calls pair up), so that a file is never left half made or
    // removed once complete; removeOnSignal names the file a signal is to
    // remove (in dir; a null dir names none); raiseHandleLimit lets the
    // work hold as many files open as the system allows.
    virtual void holdSignals() {}
    virtual void releaseSignals() {}
    virtual void removeOnSignal(const Dir* /*dir*/, const std::string& /*name*/) {}
    virtual void raiseHandleLimit() {}
};

// Holds signals through report while it lives.
struct Held {
    explicit Held(Reporter& r) : report(r) { report.holdSignals(); }
    ~Held() { report.releaseSignals(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    Reporter& report;
};

}  // namespace dat::detail
