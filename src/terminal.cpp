#include "terminal.h"

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace dat::detail {

namespace {

// The length of the UTF-8 sequence that lead starts, with code set to the
// bits lead gives of its value; 0 when lead starts none.
size_t sequenceLength(unsigned char lead, uint32_t& code) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        code = lead & 0x1Fu;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        code = lead & 0x0Fu;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        code = lead & 0x07u;
        return 4;
    }
    return 0;
}

// Bytes of the UTF-8 sequence at s[i] that stands for a printable
// character, or 0 when there is none: a C0 or C1 control, DEL, or a
// sequence that is cut short, overlong, a surrogate or past U+10FFFF.
size_t printableSequence(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    uint32_t code = 0;
    const size_t n = sequenceLength(lead, code);
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return code <= 0x9F ? 0 : n;
}

}  // namespace

std::string escaped(const std::string& name) {
    std::string s;
    s.reserve(name.size());
    if (!terminalTakesUtf8()) {
        for (char c : name) s += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        return s;
    }
    for (size_t i = 0; i < name.size();) {
        const size_t n = printableSequence(name, i);
        if (n == 0) {
            // A C1 control is one "?", whatever its length; any other
            // byte that is no character is one "?" of its own.
            const bool c1 = static_cast<unsigned char>(name[i]) == 0xC2 && i + 1 < name.size() &&
                            static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                            static_cast<unsigned char>(name[i + 1]) <= 0x9F;
            s += '?';
            i += c1 ? 2 : 1;
            continue;
        }
        s.append(name, i, n);
        i += n;
    }
    return s;
}

}  // namespace dat::detail
