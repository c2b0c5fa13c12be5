#include "commands.h"

#include <cstdio>
#include <functional>
#include <new>
#include <vector>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/placing.h"
#include "creation/planner.h"
#include "creation/scanner.h"
#include "creation/updater.h"
#include "library/writing.h"
#include "platform/platform.h"
#include "reading/extraction.h"
#include "reading/members.h"
#include "reading/opening.h"
#include "reading/read_through.h"
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

// "t": what "x" would meet in an empty directory, every file read through.
void test(Printer& out, const Options& o, const File& f, const Archive& archive, Members& members) {
    const std::vector<Verdict> verdicts = judgeExtraction(archive);
    std::vector<bool> selected;
    if (!o.names.empty()) selected = selectedBy(members, verdicts);
    testEntries(f, archive, verdicts, o.names.empty() ? nullptr : &selected, out);
}

// One file's bytes to standard output; false when standard output lost
// them, which stops the run at once: a reader that has gone wants no more.
bool printFile(Printer& out, const File& f, const Archive& archive, const Verdict& v, const std::string& path,
               std::vector<uint8_t>& buffer) {
    if (v.refusal == Refusal::outsideArchive) {
        out.failureOnStderr(path, reasonOf(v.refusal));
        return true;
    }
    const TakeBytes put = [](const uint8_t* bytes, size_t n) { return outputWrite(bytes, n) == n; };
    switch (readThrough(f, archive, *v.entry, buffer, put)) {
        case Through::whole:
            break;
        case Through::unreadable:
            out.failureOnStderr(path, "the archive cannot be read there");
            break;
        case Through::stopped:
            out.failureOnStderr("standard output", lastError());
            return false;
    }
    return true;
}

// Marks the members that name path, and those that name a file; whether
// any does.
bool namedBy(Members& members, std::vector<bool>& namesFile, const std::string& path, bool file) {
    bool named = false;
    for (size_t k = 0; k < members.names.size(); ++k) {
        if (!memberMatches(members.names[k], path)) continue;
        members.found[k] = true;
        if (file) namesFile[k] = true;
        named = true;
    }
    return named;
}

// "p": the bytes of every file a member names, in stored order, and nothing
// else on standard output. A member that names only directories fails, as
// one that names nothing does.
int print(Printer& out, const File& f, const Archive& archive, Members& members) {
    const std::vector<Verdict> verdicts = judgeExtraction(archive);
    std::vector<bool> namesFile(members.names.size(), false);
    std::vector<uint8_t> buffer(transferSize);
    StoredPaths paths;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const std::string& path = nextStoredPath(paths, verdicts, i);
        const bool file = verdicts[i].entry->type == typeFile;
        if (namedBy(members, namesFile, path, file) && file &&
            !printFile(out, f, archive, verdicts[i], path, buffer))
            return statusFailed;
    }
    for (size_t k = 0; k < members.names.size(); ++k)
        if (members.found[k] && !namesFile[k]) out.failureOnStderr(members.names[k], "is a directory");
    reportMissing(out, members);
    return finalStatus(out);
}

// Read from where its records end, an archive whose data region is short
// is damaged too; the files it holds whole may still be had.
void tellCut(Printer& out, const std::string& archive, uint32_t cut) {
    const std::string why = "Damaged archive: the data region ends " + std::to_string(cut) +
                            " bytes short of the size its root record gives";
    out.failure(archive, why, "%s", why.c_str());
}

// The archive decoded and found sound, or only cut: extracted, tested or
// printed as o asks, then the members that named nothing told.
int useDecoded(Printer& out, const Options& o, const Opened& opened, const Archive& archive,
               Members& members) {
    if (o.command == 'p') return print(out, opened.file, archive, members);
    if (archive.cut > 0) tellCut(out, o.archive, archive.cut);
    if (o.command == 'x') extract(out, o, opened.file, archive, members);
    if (o.command == 't') test(out, o, opened.file, archive, members);
    reportMissing(out, members);
    return finalStatus(out);
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
    return useDecoded(out, o, opened, decoded.archive, members);
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
    // Bytes printed there would land in the archive being read.
    if (o.command == 'p' && isStandardOutput(opened.file)) {
        out.failureOnStderr(archive, "it is standard output");
        return statusFailed;
    }
    if (!o.quiet) {
        std::puts("ok\nParsing TOC...");
        out.progress();
    }
    // t and --salvage find the data region where the records end, so that
    // a cut archive keeps its whole TOC and the files it holds whole.
    const Start start = o.command == 't' || o.salvage ? Start::fromRecords : Start::fromLength;
    try {
        // The decoded archive lives for this run only; bad_alloc frees it
        // on the way out, before anything is printed.
        return readDecoded(out, o, opened, decodeArchive(opened, start));
    } catch (const std::bad_alloc&) {
        // The archive may well be sound. The tree was freed on the way
        // here, so the messages have memory to be made in.
        out.failure(archive, "Archive does not fit in memory", "Archive does not fit in memory");
        return statusFailed;
    }
}

namespace {

// Only the arguments after the archive are patterns, matching files and
// directories alike, as both may be stored; the command and the archive are
// used as typed. A pattern that matches nothing stays as typed too.
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

// What building and writing an archive came to. refused: told already;
// nothingRead: not one argument could be read, so nothing is written.
enum class Outcome { written, noDirectory, refused, nothingRead };

// Builds the tree from the directories and writes the archive through the
// library's writer. With -C the directories are read, and their files
// copied, in the directory it names; the one the run began in, where the
// archive's path leads from, is current again on the way out.
Outcome writeTree(Printer& out, const Options& o, Writer& w) {
    Visit there;
    if (!o.directory.empty() && !enterDirectory(o.directory, there)) return Outcome::noDirectory;
    for (const std::string& dir : expanded(o.names)) w.addTree(dir, dir, verbatim);
    // An archive of empty directories would replace the old one with
    // nothing the user meant. A writer out of memory says so as it writes.
    const bool any = WriterAccess::argumentsRead(w) > 0 || w.status() == Status::noMemory;
    if (any) WriterAccess::write(w);
    if (!leaveDirectory(there)) out.failureOnStderr(".", lastError());
    return any ? Outcome::written : Outcome::nothingRead;
}

}  // namespace

namespace {

// -C: a directory that cannot be entered is found before the archive is
// touched. Entered and left again at once; none given is no failure.
bool canEnter(Printer& out, const std::string& from) {
    if (from.empty()) return true;
    Visit there;
    if (enterDirectory(from, there)) return true;
    out.failure(from, lastError(), "Unable to open directory %s", out.shown(from).c_str());
    return false;
}

// "u": the paths from disk put into the old archive's tree, then the
// archive written. The paths are read, and their files copied, in the
// directory -C names.
Outcome addPaths(Printer& out, const Options& o, Writer& w) {
    Visit there;
    if (!o.directory.empty() && !enterDirectory(o.directory, there)) return Outcome::noDirectory;
    for (const std::string& path : expanded(o.names)) {
        std::string why;
        if (WriterAccess::addPath(w, path, why)) continue;
        out.failure(path, why, "Unable to add %s", out.shown(path).c_str());
        return Outcome::refused;
    }
    const Status written = WriterAccess::write(w);
    if (!leaveDirectory(there)) out.failureOnStderr(".", lastError());
    if (written != Status::damaged) return Outcome::written;
    // The old archive could not be read where a file lies.
    out.failure(o.archive, w.error(), "Unable to copy from %s: %s", out.shown(o.archive).c_str(),
                w.error().c_str());
    return Outcome::refused;
}

// "d": the entries the members select, told and removed, then the archive
// written; refused when they select none, which leaves nothing to do.
Outcome removeMembers(Printer& out, const Options& o, Writer& w) {
    Members members = membersOf(o.names);
    const std::vector<std::string> gone = WriterAccess::remove(w, members);
    reportMissing(out, members);
    for (const std::string& path : gone) {
        if (!o.quiet) std::printf("Removing %s...\n", out.shown(path).c_str());
        out.progress();
    }
    if (gone.empty()) return Outcome::refused;
    if (WriterAccess::write(w) != Status::damaged) return Outcome::written;
    out.failure(o.archive, w.error(), "Unable to copy from %s: %s", out.shown(o.archive).c_str(),
                w.error().c_str());
    return Outcome::refused;
}

}  // namespace

int createArchive(Printer& out, const Options& o) {
    const std::string& archive = o.archive;
    const std::string& from = o.directory;
    if (!canEnter(out, from)) return statusFailed;
    Writer w = WriterAccess::open(archive, out);
    if (w.status() != Status::ok) return statusFailed;
    const Outcome made = writeTree(out, o, w);
    if (made == Outcome::noDirectory) {
        // Gone since it was entered above.
        out.failure(from, lastError(), "Unable to open directory %s", out.shown(from).c_str());
        WriterAccess::place(w);
        return statusFailed;
    }
    if (made == Outcome::nothingRead)
        out.failure(archive, "nothing could be read", "Nothing to store: %s not written",
                    out.shown(archive).c_str());
    WriterAccess::place(w);
    return finalStatus(out);
}

int changeArchive(Printer& out, const Options& o) {
    const std::string& archive = o.archive;
    // Refused before anything is written: an archive "c" could not have
    // written, or a damaged one, would not come out as "c" writes it.
    OldArchive old = OldArchive::unopened;
    Writer w = WriterAccess::update(archive, out, old);
    if (w.status() != Status::ok) {
        const std::string& why = w.error();
        if (old == OldArchive::unopened)
            out.failure(archive, why, "Unable to open %s", out.shown(archive).c_str());
        else if (old == OldArchive::refused)
            out.failure(archive, why, "Unable to change %s: %s", out.shown(archive).c_str(), why.c_str());
        WriterAccess::place(w);
        return statusFailed;
    }
    const Outcome made = o.command == 'd'             ? removeMembers(out, o, w)
                         : canEnter(out, o.directory) ? addPaths(out, o, w)
                                                      : Outcome::refused;
    if (made == Outcome::noDirectory)
        // Gone since it was entered above.
        out.failure(o.directory, lastError(), "Unable to open directory %s", out.shown(o.directory).c_str());
    if (made != Outcome::written) {
        WriterAccess::place(w);
        return statusFailed;
    }
    WriterAccess::place(w);
    return finalStatus(out);
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
