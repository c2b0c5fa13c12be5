// Every archive byte moves through these operations. The key depends on the
// offset alone, so a large file may move as a run of chunks with exactly
// the bytes one whole transfer would give. Reading goes by absolute offset
// (readAt), which needs no key at all and moves nothing; the sequential
// mode, a KeyedFile whose key follows its handle's position so that
// callers never touch it, serves the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/format.h"
#include "platform/platform.h"

namespace dat::detail {

constexpr uint8_t keyStep = keyStepValue;  // added to the key once per byte

// An archive handle with its key and its write-behind buffer: one value, so
// two archives open at once never share either.
struct KeyedFile {
    File file;
    uint8_t key = initialKey;  // key of the next byte transferred
    // Bytes handed to WriteData wait here until a whole buffer can go out.
    // Only handles written through the stream ever allocate it.
    std::vector<uint8_t> pending;
    size_t pendingSize = 0;

    KeyedFile() = default;
    explicit KeyedFile(File f) : file(std::move(f)) {}
    explicit operator bool() const { return static_cast<bool>(file); }
};

// Sends what waits, then key <- initial key and position <- 0, seeking only
// when the handle stands elsewhere. False when the waiting bytes or the
// seek failed; the key then stays as it was.
bool resetFile(KeyedFile& f);
// Sends what waits, then position <- target and key <- k(target); nothing
// more when the handle already stands at target. False when the waiting
// bytes or the seek failed; the key then stays as it was, so it never
// disagrees with the position.
bool seekFile(KeyedFile& f, uint64_t target);
// Reads exactly n bytes into buf, descrambling them when scrambled is
// nonzero. False, with key unchanged, on a short read and for n == 0.
bool ReadData(KeyedFile& f, void* buf, size_t n, uint8_t scrambled);
// Writes n bytes, scrambled when asked; bytes is never modified. The bytes
// may wait in the buffer until flushData, resetFile or seekFile sends them
// on; closing the handle drops what still waits. False when the system
// took fewer bytes than it was given; key advances by n anyway.
bool WriteData(KeyedFile& f, const void* bytes, size_t n, uint8_t scrambled);
// Writes out whatever WriteData left waiting; false when the system took
// fewer bytes. Call it before closing a handle that was written to.
bool flushData(KeyedFile& f);

// Copies up to n bytes of from, read at offset at, into the archive
// unscrambled, after what waits: the kernel moves them where it can. The
// key advances by the bytes copied. Returns their number; toFailed says
// whether the archive took fewer than it was given, as fileCopy does.
uint64_t copyPlain(KeyedFile& f, const File& from, uint64_t at, uint64_t n, bool& toFailed);

// Writes n bytes read as stored at offset from of another archive, keyed
// there when wasScrambled, as this archive stores them at its position,
// keyed when scrambled. buf is changed on the way.
bool WriteMoved(KeyedFile& f, uint8_t* buf, size_t n, uint64_t from, uint8_t wasScrambled, uint8_t scrambled);

// Reads exactly n bytes at absolute offset into buf, descrambling them by
// that offset when scrambled is nonzero. It keeps no state and moves no
// position, so any number of threads may read one open archive at once.
// False on a short read and for n == 0.
bool readAt(const File& f, uint64_t offset, void* buf, size_t n, uint8_t scrambled);

// dst[i] = src[i] ^ k(start + i), with start the offset whose key is
// startKey. dst and src may be the same buffer.
void keyBlock(uint8_t* dst, const uint8_t* src, size_t n, uint8_t startKey);

// File bytes travel in chunks of transferSize, through one buffer per walk,
// so moving many files allocates nothing. A chunk stays in the cache while
// it is scrambled; larger ones move a large file no faster (bench/README.md).
constexpr size_t transferSize = size_t(1) << 18;

}  // namespace dat::detail
