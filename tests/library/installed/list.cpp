// The same as list.c through the installed C++ face, built with CMake's
// find_package(dat).
#include <dat/archive.hpp>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    const dat::Archive a(argc > 1 ? argv[1] : "");
    if (!a.isOpen()) {
        std::cerr << a.error() << '\n';
        return 1;
    }
    for (size_t i = 0; i < a.size(); ++i) std::cout << a.path(i) << '\n';
    char bytes[64];
    const int64_t n = a.read(a.find(argc > 2 ? argv[2] : ""), 0, bytes, sizeof bytes);
    if (n >= 0) std::cout << std::string(bytes, static_cast<size_t>(n)) << '\n';
    return n >= 0 ? 0 : 1;
}
