#include "support/expected.h"

#include <sstream>
#include <stdexcept>

uint64_t fnv1a64(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325u;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3u;
    return h;
}

Expected parseExpected(const std::string& text) {
    Expected e;
    size_t at = 0;
    auto block = [&](size_t n) {
        if (at + n >= text.size() || text[at + n] != '\n')
            throw std::runtime_error("block runs past the file");
        std::string b = text.substr(at, n);
        at += n + 1;
        return b;
    };
    while (at < text.size()) {
        const size_t nl = text.find('\n', at);
        if (nl == std::string::npos) throw std::runtime_error("last line has no line break");
        const std::string line = text.substr(at, nl - at);
        at = nl + 1;
        std::istringstream in(line);
        std::string key;
        in >> key;
        const bool errors = key.find("-errors") != std::string::npos;
        ExpectedOutput* out = key.rfind("list", 0) == 0      ? (errors ? &e.listErrors : &e.list)
                              : key.rfind("extract", 0) == 0 ? (errors ? &e.extractErrors : &e.extract)
                                                             : nullptr;
        size_t n = 0;
        if (key.empty() || key[0] == '#') {
        } else if (key == "list-status") {
            in >> e.listStatus;
        } else if (key == "extract-status") {
            in >> e.extractStatus;
        } else if (key == "list" || key == "extract" || key == "list-errors" || key == "extract-errors") {
            in >> n;
            out->whole = true;
            out->bytes = block(n);
        } else if (out && key.find("-summary") != std::string::npos) {
            in >> out->lines >> out->size >> std::hex >> out->hash;
        } else if (out && key.find("-last") != std::string::npos) {
            in >> n;
            out->last = block(n);
        } else if (key == "dir") {
            e.tree[line.substr(4)] = "<dir>";
        } else if (key == "file") {
            in >> n;
            const std::string path = line.substr(line.find(' ', 5) + 1);
            e.tree[path] = block(n);
        } else {
            throw std::runtime_error("unknown line: " + line);
        }
        if (in.fail()) throw std::runtime_error("bad line: " + line);
    }
    // Every directory a path passes through is there too.
    for (auto entry : std::map<std::string, std::string>(e.tree))
        for (size_t slash = entry.first.find('/'); slash != std::string::npos;
             slash = entry.first.find('/', slash + 1))
            e.tree[entry.first.substr(0, slash)] = "<dir>";
    return e;
}
