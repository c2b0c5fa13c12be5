// What a call of the library's faces came to, kept per thread for the calls
// that answer with a value of their own.
#pragma once

#include <string_view>

#include "dat/archive.hpp"

namespace dat::detail {

struct Opened;

// The status of an archive's opening: the code for its failure.
Status statusOf(const Opened& file);

// Keeps status and why as this thread's last failure; never throws, a text
// too long for its room is cut.
void tell(Status status, std::string_view why) noexcept;

}  // namespace dat::detail
