// Every archive byte moves through these operations. They keep `key`
// equal to the key of the handle's position, so callers never touch it.
// The key depends on the offset alone, so a large file may move as a run
// of chunks with exactly the bytes one whole transfer would give.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

extern uint8_t key;            // key of the next byte transferred
extern const uint8_t keyStep;  // added to key once per byte

// key <- initial key; position <- 0.
void resetFile(File& f);
// position <- target and key <- k(target); nothing at all when the handle
// already stands at target.
void seekFile(File& f, uint64_t target);
// Reads exactly n bytes into buf, descrambling them when scrambled is
// nonzero. False, with key unchanged, on a short read and for n == 0.
bool ReadData(File& f, void* buf, size_t n, uint8_t scrambled);
// Writes n bytes, scrambled when asked; bytes is never modified. The bytes
// may wait in the handle's buffer until flushData, resetFile or seekFile
// sends them on; closing a handle drops what still waits. False when the system took fewer bytes than it was
// given; key advances by n anyway.
bool WriteData(File& f, const void* bytes, size_t n, uint8_t scrambled);
// Writes out whatever WriteData left waiting; false when the system took
// fewer bytes. Call it before closing a handle that was written to.
bool flushData(File& f);

// dst[i] = src[i] ^ k(start + i), with start the offset whose key is
// startKey. dst and src may be the same buffer.
void keyBlock(uint8_t* dst, const uint8_t* src, size_t n, uint8_t startKey);

// File bytes travel in chunks of transferSize, through one buffer per walk,
// so moving many files allocates nothing. 256 KiB moves a large file as fast
// as 1 MiB did, stays in the cache while it is scrambled, and costs a
// quarter of the memory to touch.
constexpr size_t transferSize = size_t(1) << 18;
