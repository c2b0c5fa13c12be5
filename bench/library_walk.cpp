// Opens an archive through the library's C++ face and walks every entry,
// for bench/library_memory.py to take its peak memory.
#include <cstdio>

#include "dat/archive.hpp"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const dat::Archive a(argv[1]);
    if (!a.isOpen()) {
        std::fprintf(stderr, "%s\n", a.error().c_str());
        return 1;
    }
    size_t names = 0;
    for (size_t i = 0; i < a.size(); ++i) names += a.entry(i).name.size();
    std::printf("%zu entries, %zu bytes of names\n", a.size(), names);
    return 0;
}
