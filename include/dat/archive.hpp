// The C++ face of libdat: open a DAT archive, walk its entries in stored
// order, find one by path and read any byte range of a file, without
// extracting anything. Nothing crosses this face as an exception: every
// failure is a value with the text dattool prints for it.
//
// An open Archive keeps no position and no key: any number of threads may
// call its const members at once, and any number of archives may be open.
// Opening, moving and closing one archive are not to race with its reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dat/export.h"

namespace dat {

enum class Kind : uint8_t { file, directory };

// What a call came to; the values are the C face's DAT_OK and on.
enum class Status : int {
    ok,
    notFound,     // no such file, directory or entry
    notADat,      // the file is no DAT archive
    damaged,      // the archive contradicts itself or was cut short
    outOfRange,   // an index, offset or argument outside what is there
    refused,      // a name, path or kind of file that is not taken
    systemError,  // the system failed a call; the text is its reason
    noMemory,     // memory ran out
    tooLarge,     // the archive would be 4 GiB or more
};

// The library's version ("1.2.0"), that of the build.
DAT_API const char* version() noexcept;

// This thread's last failure of a call that answers with a value of its
// own (Archive::read, entries, find): its status and text. A call that
// succeeds leaves both as they were; Status::ok and "" before any failed.
// The text stays valid until this thread's next failure.
DAT_API Status lastStatus() noexcept;
DAT_API const char* lastError() noexcept;

// One entry of the archive's tree, by index in stored (preorder) order.
// The string views stay valid while the archive stays open.
struct Entry {
    std::string_view name;  // as stored, without its parents' names
    Kind kind = Kind::file;
    uint32_t size = 0;    // file: its bytes; directory: bytes of all files below
    uint64_t offset = 0;  // file: absolute offset of its first byte in the archive
    size_t parent = 0;    // index of the directory holding it; noParent at the top
    // Why "x" would not write it ("path leaves the current directory", ...);
    // empty when "x" writes it.
    std::string_view refusal;
    bool replaced = false;  // a later file of the same path is written over it by "x"
};

constexpr size_t noParent = SIZE_MAX;
constexpr size_t notFound = SIZE_MAX;

// One directory or file of the tree "x" makes in an empty current
// directory, by its number: node 0 is that directory, and every other node
// comes after the directory holding it, in the order "x" makes them.
struct Node {
    std::string_view name;  // one name, no separator; empty for node 0
    Kind kind = Kind::directory;
    size_t parent = 0;  // node of the directory holding it; 0 for node 0
    // A file: the entry whose bytes it holds, the last of repeated paths.
    // A directory: the entry whose stored name holds its name. noParent
    // for node 0.
    size_t entry = noParent;
};

// What an open archive keeps besides its entries.
enum class With : uint8_t {
    entries,  // nothing more
    tree,     // the tree "x" makes, as nodes
};

class DAT_API Archive {
   public:
    Archive() noexcept;  // closed, with no error
    // Opens the archive at path and checks its whole table of contents.
    // On failure the archive is closed and error() says why, as dattool
    // does: the system's text ("No such file or directory"), "not a regular
    // file", "Not a DAT file", "Damaged archive: <what>" or "Archive does
    // not fit in memory"; "internal error: <what>" is a fault of the
    // library's own.
    explicit Archive(const std::string& path) noexcept;
    Archive(const std::string& path, With with) noexcept;
    ~Archive();
    Archive(Archive&& other) noexcept;
    Archive& operator=(Archive&& other) noexcept;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    bool isOpen() const noexcept;
    // Why the last open failed; empty when it did not.
    const std::string& error() const noexcept;
    // The status that goes with error(): ok when open or never opened;
    // notFound, refused (not a regular file), notADat, damaged, noMemory
    // or systemError when opening failed.
    Status status() const noexcept;

    // Entries, in stored order; 0 when closed.
    size_t size() const noexcept;
    // Entry i; i < size().
    Entry entry(size_t i) const noexcept;
    // Fills out[0] to out[n-1] with the entries from first on, stopping at
    // the last; returns how many. 0 when first == size(); 0 with
    // outOfRange told (lastStatus) when first is past it.
    size_t entries(size_t first, Entry* out, size_t n) const noexcept;
    // The path of entry i as "l" lists it, and where "x" writes it below
    // the current directory (empty when refused, or for a directory that
    // stands for the current one); names are joined with
    // "\\" and directories end in "\\". Empty when memory runs out.
    std::string path(size_t i) const noexcept;
    std::string written(size_t i) const noexcept;
    // The path dattool names entry i by when it says what became of it:
    // where "x" writes it, or would have, or as listed when it leaves the
    // current directory. Empty when memory runs out.
    std::string named(size_t i) const noexcept;

    // The tree "x" makes, when opened With::tree: the number of its nodes
    // (0 otherwise), and node i, i < nodes(). It is what the entries say
    // "x" does, numbered: a file node's bytes are read as its entry's.
    size_t nodes() const noexcept;
    Node node(size_t i) const noexcept;
    // Entry whose stored path is path, either separator taken for the
    // other and a directory's trailing one optional; notFound when there
    // is none. The last of repeated paths wins, as it does on disk.
    size_t find(std::string_view path) const noexcept;

    // Reads up to n bytes of file entry i, starting offset bytes into the
    // file, into buf, descrambled, with one positioned read of the archive
    // and nothing else; returns the number read: fewer at the file's end, 0
    // at or past it. -1, the reason told (lastStatus), when i is out of
    // range or buf null (outOfRange), a directory (refused), its bytes lie
    // outside the archive or the archive was cut since it was opened
    // (damaged), or the system's read failed (systemError).
    int64_t read(size_t i, uint64_t offset, void* buf, size_t n) const noexcept;

    // What became of one entry in an extraction: its index (notFound for
    // a member that selected nothing), ok (written), refused or
    // systemError (failed), notFound (a member), the path it was written
    // to or would have been (the member, for one that selected nothing)
    // and why, empty when written.
    using Outcome =
        std::function<void(size_t entry, Status status, const std::string& path, const std::string& why)>;

    // Extracts below the directory dir (made first, with its parents, when
    // missing) everything, or with members the entries they select as "x"
    // takes them (stored paths or patterns, a directory with everything
    // below it), by the same rules and with the same guarantees as "x":
    // nothing is written outside dir, no link is followed, a file that
    // fails leaves what stood there. Each entry's outcome goes to told, if
    // given, in stored order; nothing is printed. Returns ok, or the worst
    // that happened: systemError, else notFound, else refused.
    Status extract(const std::string& dir, const std::vector<std::string>& members = {},
                   const Outcome& told = nullptr) const noexcept;

    void close() noexcept;

   private:
    struct State;
    std::unique_ptr<State> state;
    std::string failure;
};

namespace detail {
struct Reporter;
struct WriterAccess;
}  // namespace detail

// Flag of the Writer's adds: the path in the archive is one top-level name,
// taken as it stands, "/" and "\\" kept in it, as "c" stores the
// directories it is given.
constexpr int verbatim = 1;

// Writes a new archive at a path: the same archive "c" writes from the same
// directories, byte for byte. Entries are added by a path in the archive,
// "/" and "\\" alike between names, the directories above made as needed;
// the top level keeps the order of the adds, every directory below it the
// order "c" gives (names compared with a-z as A-Z, then bytewise). Names
// that "x" would refuse are refused here.
//
// Nothing stands at the path, and whatever stood there stays as it was,
// until finish() has written the whole archive to a temporary file beside
// it and moved that into place. Files on disk are read at finish(), from
// the current directory then; bytes from memory are copied at once (up to
// 16 MiB in all in memory, the rest in a temporary file beside the
// archive). Every call gives a status and leaves error() saying why it
// failed; a writer that failed as a whole (its archive cannot be made, too
// large, out of memory) fails every call after. Not to be shared between
// threads.
class DAT_API Writer {
   public:
    // Opens the place the archive at path is written to.
    explicit Writer(const std::string& path) noexcept;
    // A writer over the archive at path as it stands: its entries are kept,
    // their bytes copied from it at finish(), an add replaces an entry of
    // the same path (a file standing where a directory is needed gives way
    // to it) and remove() takes entries out. The result is what "c" writes
    // of the tree that makes. An archive "c" could not have written is
    // refused (refused, error() saying why), as is one that does not open
    // whole (damaged, notADat, notFound, ...): then every call fails.
    static Writer update(const std::string& path) noexcept;
    // Aborts what is not finished.
    ~Writer();
    Writer(Writer&& other) noexcept;
    Writer& operator=(Writer&& other) noexcept;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // An empty directory, or one already there. refused: a file stands
    // there, or a name "x" would refuse.
    Status addDirectory(const std::string& arcpath, int flags = 0) noexcept;
    // The regular file at diskpath, its bytes as they are at finish().
    // notFound: nothing at diskpath; refused: no regular file, or a name
    // already taken or refused.
    Status addFile(const std::string& arcpath, const std::string& diskpath, int flags = 0) noexcept;
    // A file of the n bytes at data, copied now.
    Status addBytes(const std::string& arcpath, const void* data, size_t n, int flags = 0) noexcept;
    // The directory at diskpath and everything below it, as "c" scans it:
    // links followed, items "x" would refuse and the archive itself left
    // out. refused (error() naming the first) when anything was left out,
    // systemError when a directory could not be listed; what could be
    // added stays added either way.
    Status addTree(const std::string& arcpath, const std::string& diskpath, int flags = 0) noexcept;
    // Removes the entries member selects as "x" takes its members: a
    // stored path or a pattern, a directory with everything below it.
    // notFound when it selects nothing.
    Status remove(const std::string& member) noexcept;

    // Writes the archive and moves it into place: ok, or the failure, with
    // nothing left of the archive. A source file that cannot be read whole
    // at its turn fails it too. Ends the writer either way.
    Status finish() noexcept;
    // Ends the writer, leaving nothing of the archive.
    void abort() noexcept;

    Status status() const noexcept;             // of the last call
    const std::string& error() const noexcept;  // why it failed; empty when it did not

    struct State;  // the library's own

   private:
    friend struct detail::WriterAccess;
    Writer() noexcept;
    std::unique_ptr<State> state;
};

}  // namespace dat
