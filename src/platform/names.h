// How Windows reads one name of a path, and which names it cannot hold as
// they are stored. The rules are plain functions of a name's bytes and an
// ANSI code page, so that every build can test them; only the Windows
// backend applies them, to names read in the code page the program runs in.
#pragma once

#include <string>

namespace dat::detail {

enum class NameFault {
    none,
    unconvertible,  // a byte sequence that is no character in the code page
    separator,      // "\\" or "/", as a byte or as a character
    stream,         // ":" would name a stream of a file
    character,      // a control character or one of "*<>?| that no name may hold
    trailing,       // a trailing dot or space, which Windows drops
    device,         // CON, com1.txt, LPT¹ and the rest
    shortName,      // the shape of a short (8.3) name Windows makes for another name
};

// The name's characters as Windows reads them in codePage (1252, 932...),
// converted the way the system does; false when some bytes are no character
// there. Each backend has its own conversion.
bool toUtf16(const std::string& name, unsigned codePage, std::u16string& out);

// What keeps Windows from holding name, read in codePage, as one name of a
// path as it is stored; NameFault::none when nothing does. "." and ".." are
// the caller's to judge.
NameFault windowsNameFault(const std::string& name, unsigned codePage);

}  // namespace dat::detail
