#include "commands.h"

#include <cstdio>
#include <new>
#include <vector>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "creation/scanner.h"
#include "library/writing.h"
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

// What building and writing an archive came to.
enum class Outcome { written, noDirectory };

// Builds the tree from the directories and writes the archive. With -C the
// directories are read, and their files copied, in the directory it names;
// the one the run began in, where the archive's path leads from, is current
// again on the way out.
Outcome writeTree(Printer& out, const Options& o, Writer& w) {
    Visit there;
    if (!o.directory.empty() && !enterDirectory(o.directory, there)) return Outcome::noDirectory;
    for (const std::string& dir : expanded(o.names)) w.addTree(dir, dir, verbatim);
    WriterAccess::write(w);
    if (!leaveDirectory(there)) out.failureOnStderr(".", lastError());
    return Outcome::written;
}

}  // namespace

int createArchive(Printer& out, const Options& o) {
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
    Writer w = WriterAccess::open(archive, out);
    if (w.status() != Status::ok) return statusFailed;
    if (writeTree(out, o, w) == Outcome::noDirectory) {
        // Gone since it was entered above.
        out.failure(from, lastError(), "Unable to open directory %s", out.shown(from).c_str());
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
