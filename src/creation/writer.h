// Writes a planned tree as an archive, strictly front to back: magic, every
// record from root down, then the bytes of every file in the same order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/entry.h"
#include "archive/keyed_stream.h"
#include "archive/reporter.h"
#include "platform/platform.h"

namespace dat::detail {

// Bytes handed over from memory, held until the archive is written: in
// memory up to heldInMemory in all, the rest in a temporary file.
struct HeldBytes {
    static constexpr uint64_t heldInMemory = uint64_t(16) << 20;
    std::vector<uint8_t> memory;
    File spill;            // made when first needed, gone when closed
    uint64_t spilled = 0;  // bytes in spill
};

// Where a file's bytes come from, or a directory's files, when not from
// the path joined from the stored names: for the library's writer.
struct FileSource {
    size_t entry = 0;   // in preorder below root, from 0
    bool held = false;  // the bytes are held: at `at`, memory or spill as `spilled`
    bool spilled = false;
    // The bytes are the old archive's, as stored there from absolute
    // offset `at`, scrambled there or not.
    bool old = false;
    uint8_t scrambled = 0;
    uint64_t at = 0;
    std::string path;  // else the disk path of the file, or of the directory whose files join to it
};
struct Sources {
    std::vector<FileSource> list;  // by entry
    HeldBytes bytes;
    const File* old = nullptr;  // the archive an update copies from
};

// Writes the whole archive for root to f from offset 0 on. False
// as soon as the archive takes fewer bytes than handed to it; problems with
// a source file are told and written around instead. A source that turns
// out to be one of the files in `own` (the archive, its temporary file) is
// never read.
// With sources, the entries they name take their bytes from there. A
// file from the old archive that keeps its place in the key's 256-byte
// cycle is copied as stored, by the kernel where it can; one that moves by
// another amount is keyed again in blocks. When the old archive cannot be
// read where such a file lies, false with unread set.
bool createFile(KeyedFile& f, const Entry& root, const std::vector<FileId>& own, Reporter& report,
                const Sources* sources = nullptr, std::string* unread = nullptr);

// Copies the file e from path, exactly e.size bytes, whatever has become of
// it since the scan: the record already promises that many at e.offset.
// buf holds transferSize bytes. False when the archive took fewer bytes;
// a source that fell short or is one of `own` is told and filled with zeros.
bool storeFile(KeyedFile& f, uint8_t* buf, const Entry& e, const std::string& path,
               const std::vector<FileId>& own, Reporter& report);

}  // namespace dat::detail
