// The copy every platform falls back to: the bytes through a buffer of the
// program's own, for where the system has no copy that spares it them.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace dat::detail {

// fileCopy's contract, through a buffer: n bytes of from at offset at, to
// `to` at its position.
uint64_t copyThrough(const File& from, uint64_t at, File& to, uint64_t n, bool& toFailed);

}  // namespace dat::detail
