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
#include <memory>
#include <string>
#include <string_view>

#include "dat/export.h"

namespace dat {

enum class Kind : uint8_t { file, directory };

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

    // Entries, in stored order; 0 when closed.
    size_t size() const noexcept;
    // Entry i; i < size().
    Entry entry(size_t i) const noexcept;
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
    // at or past it. -1 when i is no file, its bytes lie outside the
    // archive, the archive is closed or the system's read fell short.
    int64_t read(size_t i, uint64_t offset, void* buf, size_t n) const noexcept;

    void close() noexcept;

   private:
    struct State;
    std::unique_ptr<State> state;
    std::string failure;
};

}  // namespace dat
