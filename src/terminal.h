// Names as a terminal may show them, for dattool and datmount alike and
// for standard output and standard error alike: a name out of an archive
// or off a disk must not drive the terminal it is shown on.
#pragma once

#include <string>

namespace dat::detail {

// A name as a terminal may show it. Where the terminal takes UTF-8, each
// valid sequence passes but the C1 controls (U+0080-U+009F); C0 controls,
// DEL and every byte outside a valid sequence show as "?". Elsewhere
// (Windows) bytes 0x00-0x1F and 0x7F show as "?".
std::string escaped(const std::string& name);

// A name as it may go to a stream: escaped on a terminal; to a pipe or a
// file the bytes go unchanged, for scripts.
inline std::string shownOn(bool terminal, const std::string& name) {
    return terminal ? escaped(name) : name;
}

}  // namespace dat::detail
