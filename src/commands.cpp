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
#include "reading/members.h"
#include "reading/toc_reader.h"
#include "reading/verdicts.h"
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

// "l" with members or -v: the entries selected, by path or with -v in
// columns (type, size and data offset as stored), then the totals.
void listSelected(const Options& o, const Archive& archive, Members& members) {
    const std::vector<Verdict> verdicts = judgeExtraction(archive);
    const std::vector<bool> selected =
        o.names.empty() ? std::vector<bool>(verdicts.size(), true) : selectedBy(members, verdicts);
    StoredPaths paths;
    unsigned long long files = 0, dirs = 0, bytes = 0;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const std::string& path = nextStoredPath(paths, verdicts, i);
        if (!selected[i]) continue;
        const Entry& e = *verdicts[i].entry;
        const bool dir = e.type == typeDirectory;
        if (o.verbose)
            std::printf("%c %10u %10u %s\n", dir ? 'd' : '-', e.size, e.offset, shown(path).c_str());
        else
            std::puts(shown(path).c_str());
        progress();
        if (dir) {
            ++dirs;
        } else {
            ++files;
            bytes += e.size;
        }
    }
    if (o.verbose && !o.quiet) std::printf("%llu files, %llu directories, %llu bytes\n", files, dirs, bytes);
}

// Says of each member that named nothing that it is not there, once the
// rest is done.
void reportMissing(const Members& members) {
    for (size_t k = 0; k < members.names.size(); ++k)
        if (!members.found[k]) failureOnStderr(members.names[k], "not in the archive");
}

// "x": the entries selected, or all, below the current directory or the
// one -C names, made first with its parents.
void extract(const Options& o, const File& f, const Archive& archive, Members& members) {
    std::vector<bool> selected;
    uint32_t files = archive.files;
    if (!o.names.empty()) {
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        selected = selectedBy(members, verdicts);
        files = 0;
        for (size_t i = 0; i < verdicts.size(); ++i)
            if (selected[i] && verdicts[i].entry->type == typeFile) ++files;
    }
    Visit there;
    if (!o.directory.empty() && (!makeDirectories(o.directory) || !enterDirectory(o.directory, there))) {
        failure(o.directory, lastError(), "Unable to create directory %s", shown(o.directory).c_str());
        return;
    }
    if (!o.quiet) std::puts("Extracting...");
    extractFiles(f, archive, o.names.empty() ? nullptr : &selected);
    if (!o.quiet) std::printf("Extracted %u file(s)\n", files);
    progress();
    if (!leaveDirectory(there)) failureOnStderr(".", lastError());
}

int readOpened(const Options& o, KeyedFile& f) {
    const std::string& path = o.archive;
    if (!o.quiet) {
        std::puts("ok\nParsing TOC...");
        progress();
    }
    // The decoded archive lives for this run only; bad_alloc frees it on
    // the way out, before anything is printed.
    const Archive archive = parseFile(f);
    if (archive.status == Toc::notArchive) {
        failure(path, "Not a DAT file", "Not a DAT file");
        return statusFailed;
    }
    Members members = membersOf(o.names);
    if (o.command == 'l') {
        if (o.names.empty() && !o.verbose)
            printFiles(archive.root.child);
        else
            listSelected(o, archive, members);
    }
    if (archive.status == Toc::damaged) {
        // Nothing is extracted from a damaged archive: its files would be
        // read from the wrong places and still look right. Whether a
        // member is there cannot be told either.
        const std::string why = "Damaged archive: " + archive.damage;
        failure(path, why, "%s", why.c_str());
        return statusFailed;
    }
    if (o.command == 'x') extract(o, f.file, archive, members);
    reportMissing(members);
    return finalStatus();
}

}  // namespace

int readArchive(const Options& o) {
    startReport(o.quiet);
    const std::string& archive = o.archive;
    if (!o.quiet) {
        std::printf("Opening %s...", shown(archive).c_str());
        progress();
    }
    KeyedFile f(fileOpenRead(archive));
    if (!f) {
        failure(archive, lastError(), "failed");
        return statusFailed;
    }
    // The format needs the archive's length before anything else, which
    // only a regular file has: a pipe or a device is refused unread.
    if (!fileIsRegular(f.file)) {
        failure(archive, "not a regular file", "failed");
        return statusFailed;
    }
    try {
        return readOpened(o, f);
    } catch (const std::bad_alloc&) {
        // The archive may well be sound. The tree was freed on the way
        // here, so the messages have memory to be made in.
        failure(archive, "Archive does not fit in memory", "Archive does not fit in memory");
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
    else if (!quietRun())
        std::printf("Cannot make a temporary file beside %s: writing it in place\n", shown(archive).c_str());
    return staged;
}

// Puts the complete archive, closed in its temporary file, in place of the
// file at path; where the rename is refused, copies it over that file.
void putInPlace(Staging& staged, const std::string& archive) {
    if (!renameIn(staged.dir, staged.temp, staged.name)) {
        if (!quietRun())
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

// Only directories are looked for, so only the directory arguments are
// patterns; the command and the archive are used as typed. A pattern that
// matches nothing stays as typed too.
std::vector<std::string> expanded(const std::vector<std::string>& args) {
    std::vector<std::string> dirs;
    for (const std::string& arg : args) {
        std::vector<std::string> found;
        if (isPattern(arg)) found = patternMatches(arg, nameBefore);
        if (found.empty())
            dirs.push_back(arg);
        else
            dirs.insert(dirs.end(), found.begin(), found.end());
    }
    return dirs;
}

}  // namespace

int createArchive(const Options& o) {
    startReport(o.quiet);
    const std::string& archive = o.archive;
    const std::string& from = o.directory;
    // -C: a directory that cannot be entered is found before the archive
    // is touched.
    if (!from.empty()) {
        Visit there;
        if (!enterDirectory(from, there)) {
            failure(from, lastError(), "Unable to open directory %s", shown(from).c_str());
            return statusFailed;
        }
    }
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
        const char* refused = nullptr;
        {
            // With -C the directories are read, and their files copied, in
            // that directory; the archive was opened from the one the run
            // began in, which is current again after this block.
            Visit there;
            if (!from.empty() && !enterDirectory(from, there)) {
                failure(from, lastError(), "Unable to open directory %s", shown(from).c_str());
                discard();
                return statusFailed;
            }
            buildTree(root, expanded(o.names), own);
            root.size = fixupTree(root.child, 0);
            // Offsets are 32-bit: a longer archive could not be read back, so
            // none of it is written.
            if (archiveLength(root) > maxArchiveLength)
                refused = "Archive would be too large: 4 GiB or more";
            else
                written = createFile(out, root, own);
            if (!leaveDirectory(there)) failureOnStderr(".", lastError());
        }
        if (refused) return unwritten(refused);
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

int wrongArguments(const std::string& program, const std::string& what, const std::string& why) {
    usage(program);
    failureOnStderr(what, why);
    return statusFailed;
}

int runArguments(const std::vector<std::string>& args) {
    const std::string program = args.empty() ? "dattool" : args[0];
    const Options o = readOptions(args);
    switch (o.ask) {
        case Ask::help:
            std::fputs(helpText(), stdout);
            return 0;
        case Ask::version:
            std::puts("dattool " DATTOOL_VERSION);
            return 0;
        case Ask::wrong:
            return wrongArguments(program, o.what, o.why);
        case Ask::run:
            break;
    }
    return o.command == 'c' ? createArchive(o) : readArchive(o);
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
