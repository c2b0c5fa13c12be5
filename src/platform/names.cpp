#include "platform/names.h"

namespace dat::detail {

namespace {

bool same(char16_t c, char want) {
    // ASCII letters only: Windows matches device names without caring for
    // case, but only in ASCII.
    if (want >= 'A' && want <= 'Z') return c == char16_t(want) || c == char16_t(want - 'A' + 'a');
    return c == char16_t(want);
}

bool sameName(const std::u16string& a, const char* b) {
    size_t i = 0;
    for (; b[i] != '\0'; ++i)
        if (i >= a.size() || !same(a[i], b[i])) return false;
    return i == a.size();
}

bool digit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// A digit as device names take it: 0-9 and the superscripts 1, 2 and 3.
bool deviceDigit(char16_t c) {
    return digit(c) || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';
}

bool device(const std::u16string& name) {
    // Device names are reserved whatever follows the first dot, and spaces
    // before it are dropped.
    std::u16string base = name.substr(0, name.find(u'.'));
    while (!base.empty() && base.back() == u' ') base.pop_back();
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : devices)
        if (sameName(base, d)) return true;
    return base.size() == 4 && (sameName(base.substr(0, 3), "COM") || sameName(base.substr(0, 3), "LPT")) &&
           deviceDigit(base[3]);
}

// A name Windows could find as the short name of another: it fits 8.3 (at
// most eight characters, then at most one dot and three more) and a "~" and
// a digit stand in its first part, as in every short name the system makes
// (LONGDI~1, AB12CD~3.TXT). Such a name may open a file of another name.
bool shortShape(const std::u16string& name) {
    const size_t dot = name.find(u'.');
    const std::u16string base = name.substr(0, dot);
    if (base.empty() || base.size() > 8) return false;
    if (dot != std::u16string::npos) {
        const std::u16string ext = name.substr(dot + 1);
        if (ext.size() > 3 || ext.find(u'.') != std::u16string::npos) return false;
    }
    for (size_t i = 0; i + 1 < base.size(); ++i)
        if (base[i] == u'~' && digit(base[i + 1])) return true;
    return false;
}

}  // namespace

NameFault windowsNameFault(const std::string& name, unsigned codePage) {
    // A separator byte is one to the program, which splits paths at bytes,
    // even where the code page reads it as the second half of a character.
    if (name.find_first_of("\\/") != std::string::npos) return NameFault::separator;
    std::u16string wide;
    if (!toUtf16(name, codePage, wide)) return NameFault::unconvertible;
    // The rules below run on the characters Windows will see.
    if (wide.find_first_of(u"\\/") != std::u16string::npos) return NameFault::separator;
    if (wide.find(u':') != std::u16string::npos) return NameFault::stream;
    for (char16_t c : wide)
        if (c < 0x20 || std::u16string(u"\"*<>?|").find(c) != std::u16string::npos)
            return NameFault::character;
    if (!wide.empty() && (wide.back() == u'.' || wide.back() == u' ')) return NameFault::trailing;
    if (device(wide)) return NameFault::device;
    if (shortShape(wide)) return NameFault::shortName;
    return NameFault::none;
}

}  // namespace dat::detail
