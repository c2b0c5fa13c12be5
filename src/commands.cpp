#include "commands.h"

#include <cstdio>
#include <new>
#include <vector>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/planner.h"
#include "creation/scanner.h"
#include "creation/writer.h"
#include "platform/platform.h"
#include "reading/extraction.h"
#include "reading/opening.h"
#include "report.h"

namespace {

void usage(const std::string& name) {
    const std::string program = shown(name);
    std::puts("DAT archive tool");
    std::puts("Thanks to Tamrick for figuring out the unknown number");
    std::puts("To extract a DAT file use:");
    std::printf("\t%s x <DAT file location>\n", program.c_str());
    std::puts("To list the contents of a DAT file use:");
    std::printf("\t%s l <DAT file location>\n", program.c_str());
    std::puts("To create a DAT file use:");
    std::printf("\t%s c <new DAT filename> file1 file2 file3 ... filen\n", program.c_str());
}

int finalStatus() {
    return runFailed() || !outputDelivered() ? statusFailed : 0;
}

}  // namespace

int readArchive(char command, const std::string& archive) {
    startReport();
    std::printf("Opening %s...", shown(archive).c_str());
    progress();
    Opened opened = openArchive(archive);
    if (opened.failure != Failure::none) {
        failure(archive, opened.why, "failed");
        return statusFailed;
    }
    std::puts("ok\nParsing TOC...");
    progress();
    try {
        // The decoded archive lives for this run only; bad_alloc frees it
        // on the way out, before anything is printed.
        const Decoded decoded = decodeArchive(opened);
        if (decoded.failure == Failure::notArchive || decoded.failure == Failure::noMemory) {
            failure(archive, decoded.why, "%s", decoded.why.c_str());
            return statusFailed;
        }
        if (command == 'l') printFiles(decoded.archive.root.child);
        // Nothing is extracted from a damaged archive: its files would be
        // read from the wrong places and still look right.
        if (decoded.failure == Failure::damaged) {
            failure(archive, decoded.why, "%s", decoded.why.c_str());
            return statusFailed;
        }
        if (command == 'x') {
            std::puts("Extracting...");
            extractFiles(opened.file.file, decoded.archive);
            std::printf("Extracted %u file(s)\n", decoded.archive.files);
            progress();
        }
    } catch (const std::bad_alloc&) {
        // The archive may well be sound. The tree was freed on the way
        // here, so the messages have memory to be made in.
        failure(archive, "Archive does not fit in memory", "Archive does not fit in memory");
        return statusFailed;
    }
    return finalStatus();
}

namespace {

// Where an archive is written until it is complete: a temporary file
// beside the file the archive's path leads to, links resolved, so that a
// link stays a link. Empty when the archive is written in place.
struct Staging {
    Dir dir;
    std::string name;  // of the file the path leads to, in dir
    std::string temp;  // of the temporary file, in dir
    File file;
};

// Copies the complete archive in `from` over the one at path.
bool copyInPlace(const std::string& path, File& from) {
    File to = fileOpenWrite(path);
    if (!to || !fileTruncate(to)) return false;
    std::vector<uint8_t> buffer(transferSize);
    const uint64_t length = fileLength(from);
    uint64_t copied = 0;
    for (size_t got; (got = fileRead(from, buffer.data(), buffer.size())) > 0; copied += got)
        if (fileWrite(to, buffer.data(), got) != got) return false;
    return copied == length && fileClose(to);
}

// A regular file is replaced only by a complete archive; until then it
// stays as it was. A device or a FIFO is written as it is: then, or when
// no temporary file can be made, the staging's file stays closed.
Staging stagingFor(const File& f, const std::string& archive) {
    Staging staged;
    if (!fileIsRegular(f)) return staged;
    staged.dir = dirHolding(f, archive, staged.name);
    if (staged.dir) staged.file = tempFileIn(staged.dir, staged.name, staged.temp);
    if (staged.file)
        fileCopyMode(f, staged.file);
    else
        std::printf("Cannot make a temporary file beside %s: writing it in place\n", shown(archive).c_str());
    return staged;
}

// Puts the complete archive, closed in its temporary file, in place of the
// file at path; where the rename is refused, copies it over that file.
void putInPlace(Staging& staged, const std::string& archive) {
    if (!renameIn(staged.dir, staged.temp, staged.name)) {
        std::printf("Cannot put the new archive in place of %s: writing it in place\n",
                    shown(archive).c_str());
        File done = fileOpenReadIn(staged.dir, staged.temp);
        if (!done || !copyInPlace(archive, done))
            failure(archive, lastError(), "Unable to write %s", shown(archive).c_str());
        fileClose(done);
        removeIn(staged.dir, staged.temp);
    }
    removeOnSignal(nullptr, "");
}

}  // namespace

int createArchive(const std::string& archive, const std::vector<std::string>& dirs) {
    startReport();
    // Opened without truncating: its permission decides whether it may be
    // replaced, and a file that is standard output as well must be refused
    // while it still holds what it held.
    bool made = false;
    File f = fileOpenWrite(archive, &made);
    if (!f) {
        failure(archive, lastError(), "Unable to open %s for writing", shown(archive).c_str());
        return statusFailed;
    }
    if (isStandardOutput(f)) {
        // Every line printed would land in the archive, whatever standard
        // output is, so this one goes where it cannot.
        failureOnStderr(archive, "it is standard output");
        return statusFailed;
    }
    Staging staged = stagingFor(f, archive);
    const bool staging = static_cast<bool>(staged.file);
    if (!staging && !fileTruncate(f)) {
        failure(archive, lastError(), "Unable to open %s for writing", shown(archive).c_str());
        return statusFailed;
    }
    removeOnSignal(staging ? &staged.dir : nullptr, staged.temp);
    std::vector<FileId> own = {fileIdOf(f)};
    if (staging) own.push_back(fileIdOf(staged.file));
    // Written in place, the archive's own handle moves into the stream and
    // f is left closed.
    KeyedFile out(std::move(staging ? staged.file : f));
    // What an archive left unfinished leaves behind: whatever stood there
    // before, or nothing. Written in place, only a file this run created
    // or truncated is removed, never a device or whatever a link led to.
    auto discard = [&] {
        fileClose(out.file);
        fileClose(f);
        removeOnSignal(nullptr, "");
        if (staging) removeIn(staged.dir, staged.temp);
        if ((!staging || made) && pathKind(archive) == PathKind::file) removeFile(archive);
    };
    auto unwritten = [&](const char* why) {
        failure(archive, why, "%s", why);
        discard();
        return statusFailed;
    };
    bool written = false;
    try {
        // The tree lives in this block only: on bad_alloc it is freed before
        // anything prints.
        Entry root{typeDirectory, {}, 0, 0, 0, 0, {}};
        buildTree(root, dirs, own);
        root.size = fixupTree(root.child, 0);
        // Offsets are 32-bit: a longer archive could not be read back, so
        // none of it is written.
        if (archiveLength(root) > maxArchiveLength)
            return unwritten("Archive would be too large: 4 GiB or more");
        written = createFile(out, root, own);
    } catch (const std::bad_alloc&) {
        // A tree that fans out through links can outgrow memory before it
        // reaches the size limit.
        return unwritten("Archive does not fit in memory");
    }
    if (!fileClose(out.file)) written = false;
    if (!written) {
        failure(archive, lastError(), "Unable to write %s", shown(archive).c_str());
        // Written in place, the unfinished archive stays, as it always has.
        if (staging) discard();
        return finalStatus();
    }
    if (staging) {
        // Closed first: Windows replaces no file that is held open.
        fileClose(f);
        putInPlace(staged, archive);
    }
    return finalStatus();
}

namespace {

// Only directories are looked for, so only the directory arguments are
// patterns; the command and the archive are used as typed. A pattern that
// matches nothing stays as typed too.
std::vector<std::string> expanded(std::vector<std::string>::const_iterator from,
                                  std::vector<std::string>::const_iterator to) {
    std::vector<std::string> dirs;
    for (; from != to; ++from) {
        std::vector<std::string> found;
        if (isPattern(*from)) found = patternMatches(*from, nameBefore);
        if (found.empty())
            dirs.push_back(*from);
        else
            dirs.insert(dirs.end(), found.begin(), found.end());
    }
    return dirs;
}

int wrongArguments(const std::string& program, const std::string& what, const std::string& why) {
    usage(program);
    failureOnStderr(what, why);
    return statusFailed;
}

int runArguments(const std::vector<std::string>& args) {
    const std::string program = args.empty() ? "dattool" : args[0];
    if (args.size() < 2) return wrongArguments(program, "command line", "no command given");
    const char command = args[1][0];
    const bool known = command == 'x' || command == 'l' || command == 'c';
    // Unknown commands are refused: silence would look like success.
    if (!known) return wrongArguments(program, args[1], "unknown command");
    if (args.size() < 3) return wrongArguments(program, args[1], "no archive given");
    const std::string& archive = args[2];
    if (command != 'c') return readArchive(command, archive);
    if (args.size() < 4) return wrongArguments(program, args[1], "no directory given");
    return createArchive(archive, expanded(args.begin() + 3, args.end()));
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    // Before anything is opened, so that the archive cannot become standard
    // output. Output that went nowhere fails the run like lost output.
    const bool outputClosed = reopenStandardStreams();
    catchSignals();
    startReport();
    const int status = runArguments(args);
    // Lost output is told whichever way the command ended.
    const bool delivered = outputDelivered();
    if (outputClosed) failureOnStderr("standard output", "closed when the run began");
    return delivered && !outputClosed ? status : statusFailed;
}
