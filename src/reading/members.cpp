#include "reading/members.h"

#include "archive/entry.h"
#include "archive/paths.h"

namespace dat::detail {

namespace {

// Bytes compared with both separators taken as one.
unsigned char folded(char c) {
    return static_cast<unsigned char>(isSeparator(c) ? '/' : c);
}

// The length of s without its trailing separators.
size_t trimmed(const std::string& s) {
    size_t n = s.size();
    while (n > 0 && isSeparator(s[n - 1])) --n;
    return n;
}

// Whether the "[...]" at p of pattern (n bytes in all) holds c; next is
// set past its "]". False with next at p when no "]" closes it, so the
// "[" is taken as itself.
bool inSet(const std::string& pattern, size_t n, size_t p, unsigned char c, size_t& next) {
    size_t q = p + 1;
    const bool negated = q < n && (pattern[q] == '!' || pattern[q] == '^');
    if (negated) ++q;
    // A "]" first is one of the set.
    size_t close = q < n ? q + 1 : n;
    while (close < n && pattern[close] != ']') ++close;
    if (close >= n) {
        next = p;
        return false;
    }
    bool in = false;
    for (size_t k = q; k < close; ++k) {
        const unsigned char low = folded(pattern[k]);
        if (k + 2 < close && pattern[k + 1] == '-') {
            in = in || (c >= low && c <= folded(pattern[k + 2]));
            k += 2;
        } else {
            in = in || c == low;
        }
    }
    next = close + 1;
    return in != negated;
}

// Whether the byte at p of pattern matches c; next is set past what it took.
bool matchesOne(const std::string& pattern, size_t n, size_t p, unsigned char c, size_t& next) {
    next = p + 1;
    if (pattern[p] == '?') return true;
    if (pattern[p] == '[') {
        const bool in = inSet(pattern, n, p, c, next);
        if (next != p) return in;
        next = p + 1;
    }
    return folded(pattern[p]) == c;
}

// The pattern's first n bytes against the path's first m. A "*" that
// fails is retried one byte further on, and only the last "*" met is ever
// retried: time grows with the product of the lengths at worst, never
// exponentially.
bool globMatches(const std::string& pattern, size_t n, const std::string& path, size_t m) {
    size_t p = 0, s = 0;
    size_t starP = std::string::npos, starS = 0;
    while (s < m) {
        if (p < n && pattern[p] == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        size_t next = p;
        if (p < n && matchesOne(pattern, n, p, folded(path[s]), next)) {
            p = next;
            ++s;
            continue;
        }
        if (starP == std::string::npos) return false;
        p = starP;
        s = ++starS;
    }
    while (p < n && pattern[p] == '*') ++p;
    return p == n;
}

bool sameBytes(const std::string& a, size_t n, const std::string& b, size_t m) {
    if (n != m) return false;
    for (size_t i = 0; i < n; ++i)
        if (folded(a[i]) != folded(b[i])) return false;
    return true;
}

}  // namespace

Members membersOf(const std::vector<std::string>& names) {
    return Members{names, std::vector<bool>(names.size(), false)};
}

bool memberMatches(const std::string& member, const std::string& path) {
    const size_t n = trimmed(member), m = trimmed(path);
    // Typed as listed, a name holding "[" is found too.
    return sameBytes(member, n, path, m) || globMatches(member, n, path, m);
}

const std::string& nextStoredPath(StoredPaths& walk, const std::vector<Verdict>& verdicts, size_t i) {
    const Verdict& v = verdicts[i];
    while (!walk.above.empty() && walk.above.back().first != v.parent) walk.above.pop_back();
    walk.path.resize(walk.above.empty() ? 0 : walk.above.back().second);
    walk.path += v.entry->name;
    if (v.entry->type == typeDirectory) {
        walk.path += '\\';
        walk.above.emplace_back(static_cast<uint32_t>(i), walk.path.size());
    }
    return walk.path;
}

std::vector<bool> selectedBy(Members& members, const std::vector<Verdict>& verdicts) {
    std::vector<bool> selected(verdicts.size(), false);
    StoredPaths paths;
    for (size_t i = 0; i < verdicts.size(); ++i) {
        const std::string& path = nextStoredPath(paths, verdicts, i);
        const uint32_t parent = verdicts[i].parent;
        const bool inherited = parent != topLevel && selected[parent];
        bool hit = inherited;
        // Below a selected directory, only members not yet found are tried:
        // each must be told whether it named anything.
        for (size_t k = 0; k < members.names.size(); ++k) {
            if (inherited && members.found[k]) continue;
            if (!memberMatches(members.names[k], path)) continue;
            members.found[k] = true;
            hit = true;
        }
        selected[i] = hit;
    }
    return selected;
}

}  // namespace dat::detail
