#include "commands.h"

#include <cstdio>
#include <functional>
#include <new>
#include <vector>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/planner.h"
#include "creation/scanner.h"
#include "creation/updater.h"
#include "creation/writer.h"
#include "platform/platform.h"
#include "reading/extraction.h"
#include "reading/members.h"
#include "reading/opening.h"
#include "reading/verdicts.h"
#include "report.h"

namespace dat::detail {

namespace {

void usage(const Printer& out, const std::string& name) {
    const std::string program = out.shown(name);
    std::puts("DAT archive tool");
    std::puts("Thanks to Tamrick for figuring out the unknown number");
    std::puts("To extract a DAT file use:");
    std::printf("\t%s x <DAT file location>\n", program.c_str());
    std::puts("To list the contents of a DAT file use:");
    std::printf("\t%s l <DAT file location>\n", program.c_str());
    std::puts("To create a DAT file use:");
    std::printf("\t%s c <new DAT filename> file1 file2 file3 ... filen\n", program.c_str());
}

int finalStatus(Printer& out) {
    return out.failed() || !out.outputDelivered() ? statusFailed : 0;
}

// "l" with members or -v: the entries selected, by path or with -v in
// columns (type, size and data offset as stored), then the totals.
void listSelected(Printer& out, const Options& o, const Archive& archive, Members& members) {
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
        if (!o.verbose) {
            out.listed(path);
        } else {
            std::printf("%c %10u %10u %s\n", dir ? 'd' : '-', e.size, e.offset, out.shown(path).c_str());
            out.progress();
        }
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
void reportMissing(Printer& out, const Members& members) {
    for (size_t k = 0; k < members.names.size(); ++k)
        if (!members.found[k]) out.failureOnStderr(members.names[k], "not in the archive");
}

// "x": the entries selected, or all, below the current directory or the
// one -C names, made first with its parents.
void extract(Printer& out, const Options& o, const File& f, const Archive& archive, Members& members) {
    Visit there;
    if (!o.directory.empty() && (!makeDirectories(o.directory) || !enterDirectory(o.directory, there))) {
        out.failure(o.directory, lastError(), "Unable to create directory %s",
                    out.shown(o.directory).c_str());
        return;
    }
    if (o.names.empty()) {
        extractFiles(f, archive, out);
    } else {
        // Judged once: the verdicts that select the members are the ones
        // extraction walks.
        const std::vector<Verdict> verdicts = judgeExtraction(archive);
        const std::vector<bool> selected = selectedBy(members, verdicts);
        extractFiles(f, archive, out, &verdicts, &selected);
    }
    if (!leaveDirectory(there)) out.failureOnStderr(".", lastError());
}

// The archive decoded: listed or extracted as o asks, then the members
// that named nothing told.
int readDecoded(Printer& out, const Options& o, const Opened& opened, const Decoded& decoded) {
    const std::string& archive = o.archive;
    if (decoded.failure == Failure::notArchive || decoded.failure == Failure::noMemory) {
        out.failure(archive, decoded.why, "%s", decoded.why.c_str());
        return statusFailed;
    }
    Members members = membersOf(o.names);
    if (o.command == 'l') {
        if (o.names.empty() && !o.verbose)
            printFiles(decoded.archive.root.child, out);
        else
            listSelected(out, o, decoded.archive, members);
    }
    // Nothing is extracted from a damaged archive: its files would be read
    // from the wrong places and still look right. Whether a member is there
    // cannot be told either.
    if (decoded.failure == Failure::damaged) {
        out.failure(archive, decoded.why, "%s", decoded.why.c_str());
        return statusFailed;
    }
    if (o.command == 'x') extract(out, o, opened.file, decoded.archive, members);
    reportMissing(out, members);
    return finalStatus(out);
}

}  // namespace

int readArchive(Printer& out, const Options& o) {
    const std::string& archive = o.archive;
    if (!o.quiet) {
        std::printf("Opening %s...", out.shown(archive).c_str());
        out.progress();
    }
    Opened opened = openArchive(archive);
    if (opened.failure != Failure::none) {
        out.failure(archive, opened.why, "failed");
        return statusFailed;
    }
    if (!o.quiet) {
        std::puts("ok\nParsing TOC...");
        out.progress();
    }
    try {
        // The decoded archive lives for this run only; bad_alloc frees it
        // on the way out, before anything is printed.
        return readDecoded(out, o, opened, decodeArchive(opened));
    } catch (const std::bad_alloc&) {
        // The archive may well be sound. The tree was freed on the way
        // here, so the messages have memory to be made in.
        out.failure(archive, "Archive does not fit in memory", "Archive does not fit in memory");
        return statusFailed;
    }
}

namespace {

// Where an archive is written until it is complete: a temporary file
// beside the file the archive's path leads to, links resolved, so that a
// link stays a link. Its file stays closed when the archive is written in
// place.
struct Staging {
    Dir dir;
    std::string name;  // of the file the path leads to, in dir
    std::string temp;  // of the temporary file, in dir
    File file;
};

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
bool copyToNew(Staging& staged) {
    File to;
    {
        const SignalHold hold;
        removeIn(staged.dir, staged.temp);
        bool taken = false;
        to = fileCreateIn(staged.dir, staged.name, taken);
        removeOnSignal(to ? &staged.dir : nullptr, staged.name);
    }
    bool copied = to && copyArchive(staged.file, to);
    fileClose(staged.file);
    if (!to) return false;
    const SignalHold hold;
    copied = copied && fileKeep(to, staged.dir, staged.name, staged.name);
    if (!copied) fileDiscard(to, staged.dir, staged.name);
    removeOnSignal(nullptr, "");
    return copied;
}

// Moves the complete archive, in its temporary file, to its place: over
// the file the path leads to, which held holds, or, for a new archive, at
// its name only while nothing stands there. taken: someone else's file
// took that name meanwhile.
bool keepIn(Staging& staged, File& held, bool replacing, bool& taken) {
    const SignalHold hold;
    taken = false;
    const bool kept = replacing ? fileKeep(staged.file, staged.dir, staged.temp, staged.name, &held)
                                : fileKeepNew(staged.file, staged.dir, staged.temp, staged.name, taken);
    if (kept) removeOnSignal(nullptr, "");
    return kept;
}

// Puts the complete archive, in its temporary file, in place. Where the
// system will not move the file, the archive is copied there, after a line
// saying so: over the old one through held, or to a new file. A temporary
// file whose close failed may have lost a write: it is put nowhere.
void putInPlace(Printer& out, Staging& staged, File& held, const std::string& archive, bool replacing) {
    bool taken = false;
    if (keepIn(staged, held, replacing, taken)) return;
    const bool whole = static_cast<bool>(staged.file);
    if (whole && !taken && !out.quiet())
        std::printf("Cannot put the new archive in place of %s: writing it in place\n",
                    out.shown(archive).c_str());
    // Someone else's file that took the name meanwhile stays.
    if (taken || !whole || !(replacing ? copyInPlace(held, staged.file) : copyToNew(staged)))
        out.failure(archive, lastError(), "Unable to write %s", out.shown(archive).c_str());
    fileClose(held);
    const SignalHold hold;
    fileDiscard(staged.file, staged.dir, staged.temp);
    removeOnSignal(nullptr, "");
}

// Makes the temporary file, given to the signals' clean-up as it is made.
File tempIn(Staging& staged) {
    const SignalHold hold;
    File temp = tempFileIn(staged.dir, staged.name, staged.temp);
    if (temp) removeOnSignal(&staged.dir, staged.temp);
    return temp;
}

// A regular file is replaced only by a complete archive; until then it
// stays as it was. A device or a FIFO is written as it is: then, or when
// no temporary file can be made, the staging's file stays closed.
Staging stagingFor(Printer& out, const File& f, const std::string& archive, bool inPlace) {
    Staging staged;
    if (!fileIsRegular(f)) return staged;
    staged.dir = dirHolding(f, archive, staged.name);
    if (staged.dir) staged.file = tempIn(staged);
    if (!staged.file && inPlace && !out.quiet())
        std::printf("Cannot make a temporary file beside %s: writing it in place\n",
                    out.shown(archive).c_str());
    return staged;
}

// A new archive is made only once complete: nothing stands at its name
// before, so a failure or a signal has nothing there to remove, and the
// name is taken only if it is still free. Where no temporary file can be
// made, the archive is made at its name and written there, as f. Neither:
// a closed staging's file and f.
Staging stagingForNew(Printer& out, const std::string& archive, File& f) {
    Staging staged;
    staged.dir = dirForNew(archive, staged.name);
    if (!staged.dir) return staged;
    staged.file = tempIn(staged);
    if (staged.file) return staged;
    {
        const SignalHold hold;
        bool taken = false;
        f = fileCreateIn(staged.dir, staged.name, taken);
        if (f) removeOnSignal(&staged.dir, staged.name);
    }
    if (f && !out.quiet())
        std::printf("Cannot make a temporary file beside %s: writing it in place\n",
                    out.shown(archive).c_str());
    return staged;
}

// What an archive is written to, and what stood at its path.
struct Target {
    File old;  // the archive there, or a new one written in place
    Staging staged;
    bool missing = false;  // nothing stood at the path
    bool made = false;     // written in place under a name this run made
    bool staging = false;  // written to staged.file
};

// Opens what the archive is written to; false, the failure told, when
// there is nothing. An existing archive is opened without truncating: its
// permission decides whether it may be replaced, and a file that is
// standard output as well must be refused while it still holds what it
// held. A changed archive (inPlace false) is read while it is written:
// it is written only beside the old one.
bool openTarget(Printer& out, const std::string& archive, Target& t, bool inPlace = true) {
    t.old = fileOpenWrite(archive, &t.missing);
    if (t.old && isStandardOutput(t.old)) {
        // Every line printed would land in the archive, whatever standard
        // output is, so this one goes where it cannot.
        out.failureOnStderr(archive, "it is standard output");
        return false;
    }
    if (t.missing)
        t.staged = stagingForNew(out, archive, t.old);
    else if (t.old)
        t.staged = stagingFor(out, t.old, archive, inPlace);
    t.staging = static_cast<bool>(t.staged.file);
    if (!t.staging && !inPlace) {
        out.failure(archive, t.missing ? "No such file or directory" : lastError(),
                    "Unable to make a temporary file beside %s", out.shown(archive).c_str());
        return false;
    }
    t.made = t.missing && t.old;
    if (t.staging || (t.old && (t.made || fileTruncate(t.old)))) return true;
    out.failure(archive, lastError(), "Unable to open %s for writing", out.shown(archive).c_str());
    return false;
}

// What an archive left unfinished leaves behind: whatever stood there
// before, or nothing. Written in place, only a file this run created or
// truncated is removed, never a device or whatever a link led to.
void discard(const std::string& archive, Target& t, File& file) {
    fileClose(t.old);
    if (!t.staging && !t.made) fileClose(file);
    const SignalHold hold;
    if (t.staging)
        fileDiscard(file, t.staged.dir, t.staged.temp);
    else if (t.made)
        fileDiscard(file, t.staged.dir, t.staged.name);
    else if (pathKind(archive) == PathKind::file)
        removeFile(archive);
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

// What building and writing an archive came to; refused: told already.
enum class Outcome { written, unwritten, tooLarge, noDirectory, refused };

// Builds the tree from the directories and writes the archive to target.
// With -C the directories are read, and their files copied, in the
// directory it names; the one the run began in, where the archive's path
// leads from, is current again on the way out, on bad_alloc too. The tree
// lives in this call only: on bad_alloc it is freed before anything
// prints.
Outcome writeTree(Printer& out, const Options& o, KeyedFile& target, const std::vector<FileId>& own) {
    Visit there;
    if (!o.directory.empty() && !enterDirectory(o.directory, there)) return Outcome::noDirectory;
    Entry root;
    root.type = typeDirectory;
    buildTree(root, expanded(o.names), own, out);
    root.size = fixupTree(root.child, 0);
    // Offsets are 32-bit: a longer archive could not be read back, so none
    // of it is written.
    if (archiveLength(root) > maxArchiveLength) return Outcome::tooLarge;
    const bool written = createFile(target, root, own, out);
    if (!leaveDirectory(there)) out.failureOnStderr(".", lastError());
    return written ? Outcome::written : Outcome::unwritten;
}

// The old archive a change copies its files from.
struct ChangeFrom {
    const File& file;
    uint32_t tocSize;
};

// Writes the changed tree a to target, its files from old or from disk.
Outcome writeChanged(Printer& out, const Options& o, Archive& a, const ChangeFrom& old, KeyedFile& target,
                     const std::vector<FileId>& own) {
    const std::vector<Source> sources = planChange(a);
    if (archiveLength(a.root) > maxArchiveLength) return Outcome::tooLarge;
    std::string why;
    if (writeChange(target, a, sources, old.file, old.tocSize, own, out, why)) return Outcome::written;
    if (why.empty()) return Outcome::unwritten;
    out.failure(o.archive, why, "Unable to copy from %s: %s", out.shown(o.archive).c_str(), why.c_str());
    return Outcome::refused;
}

// Puts a complete archive, written to a temporary file, in place. The file
// gets its final owner and bits only now: until then nobody else may open
// it.
void finishStaged(Printer& out, const std::string& archive, Target& t, File& file, bool written) {
    bool ownerKept = true;
    if (written) written = fileFinalMode(file, t.missing ? nullptr : &t.old, ownerKept);
    if (!written) {
        out.failure(archive, lastError(), "Unable to write %s", out.shown(archive).c_str());
        return discard(archive, t, file);
    }
    if (!ownerKept) out.noticeOnStderr(archive, "owner not kept");
    t.staged.file = std::move(file);
    putInPlace(out, t.staged, t.old, archive, !t.missing);
}

// Closes the archive, written whole or not, and puts a whole one in place.
void finish(Printer& out, const std::string& archive, Target& t, File& file, bool written) {
    if (t.staging) return finishStaged(out, archive, t, file, written);
    bool closed = false;
    {
        // Kept, a new archive written in place is complete: no signal may
        // remove it then.
        const SignalHold hold;
        closed =
            t.made ? written && fileKeep(file, t.staged.dir, t.staged.name, t.staged.name) : fileClose(file);
        if (closed && t.made) removeOnSignal(nullptr, "");
    }
    if (!closed || !written) {
        out.failure(archive, lastError(), "Unable to write %s", out.shown(archive).c_str());
        // Written in place over what was there, the unfinished archive
        // stays, as it always has.
        if (t.made) discard(archive, t, file);
    }
}

}  // namespace

namespace {

// Writes the archive o names, beside the old one and put in its place once
// complete where it can, with what build writes into target; with inPlace
// false only so. Reading the files below -C, it goes there first and
// back afterwards.
using Build = std::function<Outcome(KeyedFile& target, const std::vector<FileId>& own)>;
int writeArchive(Printer& out, const Options& o, const Build& build, bool inPlace) {
    const std::string& archive = o.archive;
    const std::string& from = o.directory;
    // -C: a directory that cannot be entered is found before the archive
    // is touched.
    if (!from.empty()) {
        Visit there;
        if (!enterDirectory(from, there)) {
            out.failure(from, lastError(), "Unable to open directory %s", out.shown(from).c_str());
            return statusFailed;
        }
    }
    Target t;
    if (!openTarget(out, archive, t, inPlace)) return statusFailed;
    // A new archive has no file of its own to name yet.
    std::vector<FileId> own = {t.old ? fileIdOf(t.old) : FileId{}};
    if (t.staging) own.push_back(fileIdOf(t.staged.file));
    // Written in place, the archive's own handle moves into the stream and
    // t.old is left closed.
    KeyedFile target(std::move(t.staging ? t.staged.file : t.old));
    auto unwritten = [&](const char* why) {
        out.failure(archive, why, "%s", why);
        discard(archive, t, target.file);
        return statusFailed;
    };
    Outcome made = Outcome::unwritten;
    try {
        made = build(target, own);
    } catch (const std::bad_alloc&) {
        // A tree that fans out through links can outgrow memory before it
        // reaches the size limit.
        return unwritten("Archive does not fit in memory");
    }
    switch (made) {
        case Outcome::tooLarge:
            return unwritten("Archive would be too large: 4 GiB or more");
        case Outcome::noDirectory:
            // Gone since it was entered above.
            out.failure(from, lastError(), "Unable to open directory %s", out.shown(from).c_str());
            discard(archive, t, target.file);
            return statusFailed;
        case Outcome::refused:
            discard(archive, t, target.file);
            return statusFailed;
        case Outcome::written:
        case Outcome::unwritten:
            break;
    }
    finish(out, archive, t, target.file, made == Outcome::written);
    return finalStatus(out);
}

// "u": the tree of the old archive with the paths from disk put in. The
// paths are read, and their files copied, in the directory -C names.
Outcome addPaths(Printer& out, const Options& o, Archive& a, const ChangeFrom& old, KeyedFile& target,
                 const std::vector<FileId>& own) {
    Visit there;
    if (!o.directory.empty() && !enterDirectory(o.directory, there)) return Outcome::noDirectory;
    for (const std::string& path : expanded(o.names)) {
        std::string why;
        if (addPath(a, path, own, out, why)) continue;
        out.failure(path, why, "Unable to add %s", out.shown(path).c_str());
        return Outcome::refused;
    }
    return writeChanged(out, o, a, old, target, own);
}

// "d": the entries the members select, told and removed; false when they
// select none, which leaves nothing to do.
bool removeMembers(Printer& out, const Options& o, Archive& a) {
    Members members = membersOf(o.names);
    const std::vector<Verdict> verdicts = judgeExtraction(a);
    const std::vector<bool> selected = selectedBy(members, verdicts);
    reportMissing(out, members);
    bool any = false;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        // Each entry removed once: a directory's entries go with it.
        if (!selected[i] || (verdicts[i].parent != topLevel && selected[verdicts[i].parent])) continue;
        any = true;
        if (!o.quiet) std::printf("Removing %s...\n", out.shown(storedPath(verdicts, i)).c_str());
        out.progress();
    }
    removeSelected(a, verdicts, selected);
    return any;
}

}  // namespace

int createArchive(Printer& out, const Options& o) {
    return writeArchive(
        out, o,
        [&](KeyedFile& target, const std::vector<FileId>& own) { return writeTree(out, o, target, own); },
        true);
}

int changeArchive(Printer& out, const Options& o) {
    const std::string& archive = o.archive;
    Opened opened = openArchive(archive, true);
    if (opened.failure != Failure::none) {
        out.failure(archive, opened.why, "Unable to open %s", out.shown(archive).c_str());
        return statusFailed;
    }
    // Refused before anything is written: an archive "c" could not have
    // written, or a damaged one, would not come out as "c" writes it.
    Decoded decoded = decodeArchive(opened);
    std::string why = decoded.failure == Failure::none
                          ? unchangeable(decoded.archive, fileLength(opened.file))
                          : decoded.why;
    if (!why.empty()) {
        out.failure(archive, why, "Unable to change %s: %s", out.shown(archive).c_str(), why.c_str());
        return statusFailed;
    }
    Archive& a = decoded.archive;
    const ChangeFrom old{opened.file, a.tocSize};
    if (o.command == 'd' && !removeMembers(out, o, a)) return statusFailed;
    return writeArchive(
        out, o,
        [&](KeyedFile& target, const std::vector<FileId>& own) {
            const Outcome made = o.command == 'u' ? addPaths(out, o, a, old, target, own)
                                                  : writeChanged(out, o, a, old, target, own);
            // Read no more: Windows replaces no file held open.
            fileClose(opened.file);
            return made;
        },
        false);
}

namespace {

int wrongArguments(Printer& out, const std::string& program, const std::string& what,
                   const std::string& why) {
    usage(out, program);
    out.failureOnStderr(what, why);
    return statusFailed;
}

int runArguments(Printer& out, const Options& o, const std::string& program) {
    switch (o.ask) {
        case Ask::help:
            std::fputs(helpText(), stdout);
            return 0;
        case Ask::version:
            std::puts("dattool " DATTOOL_VERSION);
            return 0;
        case Ask::wrong:
            return wrongArguments(out, program, o.what, o.why);
        case Ask::run:
            break;
    }
    if (o.command == 'u' || o.command == 'd') return changeArchive(out, o);
    return o.command == 'c' ? createArchive(out, o) : readArchive(out, o);
}

}  // namespace

int runCommand(const std::vector<std::string>& args) {
    // Before anything is opened, so that the archive cannot become standard
    // output. Output that went nowhere fails the run like lost output.
    const bool outputClosed = reopenStandardStreams();
    catchSignals();
    // Read before the printer is made: -q decides what it prints.
    const Options o = readOptions(args);
    Printer out(o.quiet);
    const int status = runArguments(out, o, args.empty() ? "dattool" : args[0]);
    // Lost output is told whichever way the command ended.
    const bool delivered = out.outputDelivered();
    if (outputClosed) out.failureOnStderr("standard output", "closed when the run began");
    return delivered && !outputClosed ? status : statusFailed;
}

}  // namespace dat::detail
