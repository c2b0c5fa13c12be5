// Feeds arbitrary bytes to the reader as an archive: the TOC is decoded,
// listed and extracted into the scratch directory, as "l" and "x" would,
// and opened through the library, which judges every entry as "x" does and
// must find each by the path it lists. The sanitizers catch bad memory use;
// the scratch check catches any file or directory made outside the current
// directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "dat/archive.hpp"
#include "scratch.h"

using namespace dat::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = scratchSetUp();
    writeBytes(s.archive, std::string(reinterpret_cast<const char*>(data), size));
    runCommand({"dattool", "l", s.archive});
    runCommand({"dattool", "x", s.archive});
    const dat::Archive a(s.archive);
    char buf[64];
    for (size_t i = 0; i < a.size(); ++i) {
        if (a.find(a.path(i)) == dat::notFound) std::abort();
        (void)a.written(i);
        (void)a.read(i, 0, buf, sizeof buf);
    }
    scratchCheckOutside();
    scratchClear();
    return 0;
}
