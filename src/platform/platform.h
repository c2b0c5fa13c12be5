// The program's only door to the operating system: files, directories and
// the command line's wildcards. Paths come in the program's own form, with
// "\\" between names; each backend maps that to its platform's separator.
// Positions are 64-bit here; the archive's 32-bit limits are the callers'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dat::detail {

// An open file. Closes itself; fileClose closes early and reports errors.
struct File {
    intptr_t handle = -1;  // the backend's descriptor or handle; -1 when closed
    uint64_t pos = 0;      // kept here so asking for the position costs nothing

    File() = default;
    explicit File(intptr_t h) : handle(h) {}
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();
    explicit operator bool() const { return handle != -1; }
};

// Opens an existing file for reading; others may read it meanwhile.
File fileOpenRead(const std::string& path);
// The same for a file that this program replaces while it reads it (an
// archive changed by "u" or "d"): on Windows others may also write, rename
// or remove it meanwhile, as fileOpenWrite and fileKeep need.
File fileOpenReadShared(const std::string& path);

// Reads up to n bytes, stopping early only at the end of the file or on an
// error; returns the number read.
size_t fileRead(File& f, void* buf, size_t n);
// Writes n bytes; returns the number written (fewer on an error).
size_t fileWrite(File& f, const void* buf, size_t n);
// Reads up to n bytes at offset without using or moving the handle's
// position as filePosition tells it, so threads may share one handle;
// returns the number read. On Windows the system's own position moves
// anyway: a handle read this way is not read with fileRead as well.
size_t fileReadAt(const File& f, uint64_t offset, void* buf, size_t n);
uint64_t filePosition(const File& f);
// Copies up to n bytes of from, read at offset at, to `to` at its
// position, which moves past them; from's position is neither used nor
// moved. The kernel copies where it can, so the bytes never pass through
// the program; where it cannot (another file system, an older kernel,
// Windows) they go through a buffer instead, and nobody is told. Returns
// the number copied: fewer at the end of from or on an error, and then
// toFailed says whether it was `to` that took fewer than it was given.
uint64_t fileCopy(const File& from, uint64_t at, File& to, uint64_t n, bool& toFailed);
bool fileSeek(File& f, uint64_t pos);
// Current length, or 0 when it cannot be had.
uint64_t fileLength(const File& f);
// Whether the handle is a regular file (not a pipe, device or directory):
// only such a file has a length to be trusted.
bool fileIsRegular(const File& f);
// Closes now; false when the system reports an error, such as a lost write.
bool fileClose(File& f);

// The handle's lifetime is the same on every backend: moving hands it on,
// destruction closes it.
inline File::File(File&& other) noexcept : handle(other.handle), pos(other.pos) {
    other.handle = -1;
}

inline File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        fileClose(*this);
        handle = other.handle;
        pos = other.pos;
        other.handle = -1;
    }
    return *this;
}

inline File::~File() {
    fileClose(*this);
}

// Identity of a file on this machine, to recognise one file under two names.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};
FileId fileIdOf(const File& f);
// Whether f is a regular file, with id set to its identity, in one look.
bool regularFileId(const File& f, FileId& id);

// What stands at a path, without following a link there.
enum class PathKind { missing, file, directory, link, other };
PathKind pathKind(const std::string& path);

bool removeFile(const std::string& path);

// A directory held open. Extraction makes everything relative to such
// handles and never resolves a path below the current directory by name
// again, so a directory swapped for a link while it runs is not followed.
// On Windows the handle is also held without delete sharing, so the
// directory can be neither renamed nor replaced while held, and path keeps
// the full path the system gives it, against which each child opened is
// checked to be found under its own name.
struct Dir {
    intptr_t handle = -1;
    std::wstring path;  // Windows only

    Dir() = default;
    Dir(Dir&& other) noexcept : handle(other.handle), path(std::move(other.path)) { other.handle = -1; }
    Dir& operator=(Dir&& other) noexcept;
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    ~Dir();
    explicit operator bool() const { return handle != -1; }
};

// Opens the directory at path, links followed: "." for the current one.
// A directory is held only to reach what lies below it, so one that may be
// searched and written but not read (a drop box) can be held too.
Dir dirAt(const std::string& path);
// Closes the handle now (a held Dir is given back to save handles).
void dirClose(Dir& d);

inline Dir& Dir::operator=(Dir&& other) noexcept {
    if (this != &other) {
        dirClose(*this);
        handle = other.handle;
        path = std::move(other.path);
        other.handle = -1;
    }
    return *this;
}

inline Dir::~Dir() {
    dirClose(*this);
}

// Makes the directory at path and each missing one above it, as mkdir -p
// does. False when one could not be made; one that is there already is
// no failure, and whether path is a directory tells enterDirectory.
bool makeDirectories(const std::string& path);

// The current directory, left for another while c reads its directories
// there or x extracts there (-C), and gone back to when this ends. The
// current directory belongs to the whole process: while one is left,
// nothing else may use relative paths but the work done there.
struct Visit {
    Dir home;               // POSIX: the directory left, held
    std::wstring homePath;  // Windows: its path
    bool away = false;

    Visit() = default;
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;
    Visit(Visit&&) = delete;
    Visit& operator=(Visit&&) = delete;
    ~Visit();
};
// Makes the directory at path the current one, links followed, keeping in
// visit the one left; false, and nothing changed, when it cannot.
bool enterDirectory(const std::string& path, Visit& visit);
// Goes back to the directory enterDirectory left, if it left one; false
// when the system refused (it was held, so it is still there).
bool leaveDirectory(Visit& visit);
inline Visit::~Visit() {
    leaveDirectory(*this);
}

// What dirOpen found.
enum class DirOpened {
    opened,
    missing,       // nothing of that name
    link,          // a symbolic link (or other reparse point) stands there
    notDirectory,  // something else stands there
    exhausted,     // no handle left to open it with
    failed,        // anything else
};
// Opens the directory name inside parent without following a link there.
// On Windows a directory found under another name (name being a short
// name of it) fails.
DirOpened dirOpen(const Dir& parent, const std::string& name, Dir& out);
// Creates the directory name inside parent and holds it, so that what is
// made in it goes into the very directory made; closed when it was not made
// (it may already exist).
Dir dirMake(const Dir& parent, const std::string& name);
// Creates the file name inside parent only when nothing stands there, a
// link included, which is never followed; taken says that something did.
// On Windows the new file may not be found under a name other than name.
File fileCreateIn(const Dir& parent, const std::string& name, bool& taken);
// Whether a directory, not a link to one, stands at name inside parent.
bool isDirectoryIn(const Dir& parent, const std::string& name);
// Creates a new file beside name inside parent, under a temporary name
// made by tempNameFor, exclusively and without following a link; temp
// receives that name. Opened for reading as well as writing, and private
// to its owner (0600) until fileFinalMode: nobody else may open it while it
// is written.
File tempFileIn(const Dir& parent, const std::string& name, std::string& temp);
// Gives to, a temporary file now complete, its final permission bits: like's,
// after like's owner and group where this user may give them (ownerKept
// says whether both could be), or without like those of any new file, 0666
// less the umask. Nothing to do on Windows, where a file takes its
// directory's access list.
bool fileFinalMode(File& to, const File* like, bool& ownerKept);
// Opens the file name inside parent for reading, without following a link.
File fileOpenReadIn(const Dir& parent, const std::string& name);
// Puts from in place of to, both inside parent, in one step: whatever
// non-directory stands at to, a link itself included, is replaced, and
// other names of the file it was keep it.
bool renameIn(const Dir& parent, const std::string& from, const std::string& to);
bool removeIn(const Dir& parent, const std::string& name);
// Puts from at to, both inside parent, only while nothing stands at to, a
// link included: what appeared there meanwhile stays, and taken says so.
bool renameNewIn(const Dir& parent, const std::string& from, const std::string& to, bool& taken);

// A file that fileCreateIn or tempFileIn made stays only once kept, and
// goes by fileDiscard otherwise. On Windows it is renamed or removed
// through its own handle, which nobody else may open for deletion, and it
// is marked at creation to go when that handle closes: a run ended in any
// way (a closed console window, CTRL_BREAK, a logoff, a kill) leaves none
// of it. Elsewhere f is closed first, which may report a lost write, and
// the names are used in parent.
//
// Keeps the file f made as `made` inside parent, under `to` there (nothing
// moves where to is made), replacing what stands there as renameIn does,
// and closes f. held, when given, is the caller's own handle on the file
// at to, closed once f took its place: on Windows it must share deletion,
// and it is closed for the rename where the system replaces no file held
// open. False when the file could not be kept: f is then closed if the
// close failed, or else left open on the whole file, and held open on the
// file at to where it still is that file, for the caller to copy one into
// the other; fileDiscard ends f either way.
bool fileKeep(File& f, const Dir& parent, const std::string& made, const std::string& to,
              File* held = nullptr);
// Keeps it as fileKeep does, but only while nothing stands at to, a link
// included, as renameNewIn puts it there: what appeared there meanwhile
// stays, and taken says so. f is left as fileKeep leaves it.
bool fileKeepNew(File& f, const Dir& parent, const std::string& made, const std::string& to, bool& taken);
// Removes the file f made as `made` inside parent, and closes f.
void fileDiscard(File& f, const Dir& parent, const std::string& made);
// The directory that holds the regular file f, opened at path with links
// resolved, and the file's own name there; closed when it cannot be had
// or no longer holds f under that name.
Dir dirHolding(const File& f, const std::string& path, std::string& name);
// The same for a path where nothing stands yet: the directory a file
// created at path would go to, opened, and its name there; a dangling link
// leads to its target, as creating through it would (not on Windows).
Dir dirForNew(const std::string& path, std::string& name);

// The name a file is written under beside name until it is whole:
// ".<name>.dattool-" and six letters or digits drawn from random, the name
// cut so that the whole stays within 255 bytes. Such a file seen after a
// run was killed or the power failed is a leftover and may be removed.
inline std::string tempNameFor(const std::string& name, uint32_t random) {
    static const char symbols[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string temp = "." + name.substr(0, 255 - 16) + ".dattool-";
    for (int i = 0; i < 6; ++i) {
        temp += symbols[random % 36];
        random /= 36;
    }
    return temp;
}

// Sets up the run's signals, once, before anything is written: a pipe
// that closes early is lost output, told by the failing write rather than
// by SIGPIPE; SIGINT, SIGTERM and SIGHUP remove the file removeOnSignal
// names, then end the program as they would have. Windows needs neither:
// a file made there goes with the run whichever way it ends (fileKeep).
void catchSignals();
// Names the file to be removed inside dir if one of those signals comes;
// a null dir names none. Keeps a copy, so costs no system call.
void removeOnSignal(const Dir* dir, const std::string& name);
// Hold those signals back, and let them come, as SignalHold does.
void holdSignals();
void releaseSignals();
// While it lives, SIGINT, SIGTERM and SIGHUP wait: one that comes is handled
// when it ends. Made before a file is created and ended once the file is
// named to removeOnSignal, a signal can neither leave the file behind nor
// find it unnamed; made around giving up the name, it cannot remove a file
// already complete.
struct SignalHold {
    SignalHold() { holdSignals(); }
    ~SignalHold() { releaseSignals(); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;
};

// Whether this system can hold name as one component of a path as it is.
// On Windows the name is read in the program's ANSI code page and must be
// text there, with no separator, ":", trailing dot or space, device name
// (CON, com1.txt) or short-name shape (LONGDI~1); see platform/names.h.
// Everywhere else every name is.
bool nameAllowed(const std::string& name);
// Lets the program hold as many handles as the system allows it.
void raiseHandleLimit();

// An item of a directory, links followed.
// unreadable: the item is there but could not be examined.
// denied: a regular file this user may not read (never as root).
// unnamed: its name has characters the code page lacks (Windows); name
// shows each of them as "?".
enum class ItemKind { file, directory, other, dangling, unreadable, denied, unnamed };
struct DirItem {
    std::string name;
    ItemKind kind = ItemKind::other;
    bool link = false;   // the name itself is a symbolic link
    uint64_t size = 0;   // files only
    FileId id;           // of what the name leads to
    std::string reason;  // unreadable and denied: the system's text
};

// Lists a directory's items, without "." and "..", in the order the system
// gives them. False when the directory cannot be enumerated.
bool listDirectory(const std::string& path, std::vector<DirItem>& items);
// Identity of the directory at path (links followed); false when none.
bool directoryId(const std::string& path, FileId& id);

// The longest path, in bytes, that the platform accepts.
size_t maxPathLength();

// Whether "\\" separates names in a path given to this system, as on
// Windows; elsewhere it is a byte of a name.
bool backslashSeparates();

// Whether an argument holds "*" or "?".
bool isPattern(const std::string& arg);
// The paths that pattern matches, as the system matches names: in byte order
// on POSIX (glob, where "\\" is no escape character), case-insensitively
// on Windows, sorted there with before. Empty when nothing matches.
using NameOrder = bool (*)(const std::string&, const std::string&);
std::vector<std::string> patternMatches(const std::string& pattern, NameOrder before);

// The system's text for the last call of this layer that failed, taken when
// it failed ("Permission denied"); calls that succeed leave it as it is.
std::string lastError();
// Whether that call failed because nothing stood at the path, or at a
// directory on the way to it.
bool lastErrorMissing();

// Writing an archive in place of an existing file, and what the program
// needs to know of its standard streams.

// Opens a file for writing, creating it when missing; an existing file
// keeps its contents until fileTruncate. With missing, creates nothing:
// *missing then says that nothing stands at path (a dangling link counts
// as nothing). On Windows others may rename or remove it meanwhile (it
// shares deletion), so that fileKeep can put a new file in its place while
// it is held.
File fileOpenWrite(const std::string& path, bool* missing = nullptr);
// Empties a file just opened by fileOpenWrite. Devices and FIFOs are left
// as they are, as opening with truncation would leave them.
bool fileTruncate(File& f);

// Makes sure that no file the program opens later takes the place of a
// closed standard stream: where the system would hand out the descriptor
// of one (0-2), the null device is put there first. True when standard
// output was closed.
bool reopenStandardStreams();
// Whether standard output, or standard error, is a terminal (a console
// window on Windows).
bool outputIsTerminal();
bool errorIsTerminal();
// Bytes waiting in standard output's buffer; 0 where that cannot be told
// (Windows). A drop means the buffer went out by itself, being full.
size_t outputPending();
// Whether a terminal shows UTF-8: names are then checked sequence by
// sequence (POSIX), else byte by byte (Windows, whose console has a code page).
bool terminalTakesUtf8();
// Whether f is the very file, pipe, socket or terminal that standard output
// goes to. The null device never is: nothing written there lands anywhere.
bool isStandardOutput(const File& f);

}  // namespace dat::detail
