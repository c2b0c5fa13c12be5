// Feeds arbitrary bytes to the reader as an archive: the TOC is decoded,
// listed and extracted into the scratch directory, as "l" and "x" would.
// The sanitizers catch bad memory use; the scratch check catches any file
// or directory made outside the current directory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = scratchSetUp();
    writeBytes(s.archive, std::string(reinterpret_cast<const char*>(data), size));
    runCommand({"dattool", "l", s.archive});
    runCommand({"dattool", "x", s.archive});
    scratchCheckOutside();
    scratchClear();
    return 0;
}
