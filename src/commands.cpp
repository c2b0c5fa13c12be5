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
#include "reading/toc_reader.h"
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

int readOpened(char command, KeyedFile& f) {
    std::puts("ok\nParsing TOC...");
    // The decoded archive lives for this run only; bad_alloc frees it on
    // the way out, before anything is printed.
    const Archive archive = parseFile(f);
    if (archive.status == Toc::notArchive) {
        failure("Not a DAT file");
        return statusFailed;
    }
    if (command == 'l') printFiles(archive.root.child);
    if (archive.status == Toc::damaged) {
        // Nothing is extracted from a damaged archive: its files would be
        // read from the wrong places and still look right.
        failure("Damaged archive: %s", archive.damage.c_str());
        return statusFailed;
    }
    if (command == 'x') {
        std::puts("Extracting...");
        extractFiles(f.file, archive);
        std::printf("Extracted %u file(s)\n", archive.files);
    }
    return finalStatus();
}

}  // namespace

int readArchive(char command, const std::string& archive) {
    startReport();
    std::printf("Opening %s...", shown(archive).c_str());
    KeyedFile f(fileOpenRead(archive));
    // The format needs the archive's length before anything else, which
    // only a regular file has: a pipe or a device is refused unread.
    if (!f || !fileIsRegular(f.file)) {
        failure("failed");
        return statusFailed;
    }
    try {
        return readOpened(command, f);
    } catch (const std::bad_alloc&) {
        // The archive may well be sound. Printing this allocates nothing:
        // the tree was freed on the way here and the output buffer exists
        // by now.
        failure("Archive does not fit in memory");
        return statusFailed;
    }
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

}  // namespace

int createArchive(const std::string& archive, const std::vector<std::string>& dirs) {
    startReport();
    // Opened without truncating: its permission decides whether it may be
    // replaced, and a file that is standard output as well must be refused
    // while it still holds what it held.
    bool made = false;
    File f = fileOpenWrite(archive, &made);
    if (!f) {
        failure("Unable to open %s for writing", shown(archive).c_str());
        return statusFailed;
    }
    FileId output;
    if (outputFileId(output) && output == fileIdOf(f)) {
        // Every line printed would land in the archive, so this one goes
        // where it cannot.
        failureOnStderr("Unable to open %s for writing: it is standard output", shown(archive).c_str());
        return statusFailed;
    }
    // A regular file is replaced only by a complete archive; until then it
    // stays as it was. A device or a FIFO is written as it is.
    Staging staged;
    if (fileIsRegular(f)) {
        staged.dir = dirHolding(f, archive, staged.name);
        if (staged.dir) staged.file = tempFileIn(staged.dir, staged.name, staged.temp);
        if (staged.file)
            fileCopyMode(f, staged.file);
        else
            std::printf("Cannot make a temporary file beside %s: writing it in place\n",
                        shown(archive).c_str());
    }
    const bool staging = static_cast<bool>(staged.file);
    if (!staging && !fileTruncate(f)) {
        failure("Unable to open %s for writing", shown(archive).c_str());
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
        failure("%s", why);
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
        failure("Unable to write %s", shown(archive).c_str());
        // Written in place, the unfinished archive stays, as it always has.
        if (staging) discard();
        return finalStatus();
    }
    if (staging) {
        // Closed first: Windows replaces no file that is held open.
        fileClose(f);
        if (!renameIn(staged.dir, staged.temp, staged.name)) {
            std::printf("Cannot put the new archive in place of %s: writing it in place\n",
                        shown(archive).c_str());
            File done = fileOpenReadIn(staged.dir, staged.temp);
            if (!done || !copyInPlace(archive, done)) failure("Unable to write %s", shown(archive).c_str());
            fileClose(done);
            removeIn(staged.dir, staged.temp);
        }
        removeOnSignal(nullptr, "");
    }
    return finalStatus();
}

namespace {

int runArguments(const std::vector<std::string>& args) {
    const std::string program = args.empty() ? "dattool" : args[0];
    if (args.size() < 3) {
        usage(program);
        return statusFailed;
    }
    const char command = args[1][0];
    const std::string& archive = args[2];
    switch (command) {
        case 'x':
        case 'l':
            return readArchive(command, archive);
        case 'c':
            if (args.size() < 4) break;
            return createArchive(archive, {args.begin() + 3, args.end()});
        default:
            // Unknown commands are refused: silence would look like success.
            break;
    }
    usage(program);
    return statusFailed;
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    // Before anything is opened, so that the archive cannot become standard
    // output. Output that went nowhere fails the run like lost output.
    const bool outputClosed = reopenStandardStreams();
    catchSignals();
    startReport();
    const int status = runArguments(args);
    return outputClosed ? statusFailed : status;
}
