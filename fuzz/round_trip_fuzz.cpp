// Turns each input into a small tree on disk, packs it as "c" would, reads
// the archive back and extracts it as "x" would, and aborts unless the
// extracted tree equals the original byte for byte; the library's writer
// must write the same archive from the same tree named from elsewhere, and
// its extraction leave the same tree.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "dat/archive.hpp"
#include "reading/toc_reader.h"
#include "scratch.h"

using namespace dat::detail;

namespace {

constexpr int maxDepth = 4;
constexpr int maxItems = 40;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "round trip: %s\n", what);
    std::abort();
}

// A name the disk can hold and the archive can store: no "/", "\\" or zero
// byte, not "." or "..", at most 255 bytes; often with a plain-stored or a
// near-miss ending.
std::string pickName(FuzzedDataProvider& in, int index) {
    std::string name = in.ConsumeRandomLengthString(24);
    std::string clean;
    for (char c : name)
        if (c != '/' && c != '\\' && c != '\0') clean += c;
    static const char* const endings[] = {"", "", ".tex", ".msh", ".TEX", ".MSH", ".Tex", ".texture", "tex"};
    clean += endings[in.ConsumeIntegralInRange<size_t>(0, std::size(endings) - 1)];
    if (in.ConsumeIntegralInRange(0, 15) == 0) clean += std::string(in.ConsumeIntegralInRange(200, 240), 'L');
    if (clean.size() > 255) clean.resize(255);
    if (clean.empty() || clean == "." || clean == "..") clean = "n" + std::to_string(index);
    return clean;
}

struct Builder {
    FuzzedDataProvider& in;
    int items = 0;
    uint32_t fileCount = 0;

    void fill(const std::string& dir, int depth) {
        int n = in.ConsumeIntegralInRange(0, 5);
        for (int i = 0; i < n && items < maxItems && in.remaining_bytes() > 0; ++i) {
            std::string path = dir + "/" + pickName(in, items);
            ++items;
            struct stat st {};
            if (lstat(path.c_str(), &st) == 0) continue;  // a name already used here
            if (depth < maxDepth && in.ConsumeIntegralInRange(0, 2) == 0) {
                if (mkdir(path.c_str(), 0700) != 0) fail("cannot make a directory");
                fill(path, depth + 1);
            } else {
                size_t size = in.ConsumeIntegralInRange<size_t>(0, 600);
                std::string bytes = in.ConsumeBytesAsString(size);
                // A run of one byte now and then, so sizes are not bound by the input's length.
                if (in.ConsumeBool()) bytes += std::string(in.ConsumeIntegralInRange<size_t>(0, 5000), 'z');
                writeBytes(path, bytes);
                ++fileCount;
            }
        }
    }
};

void enter(const std::string& dir) {
    if (chdir(dir.c_str()) != 0) fail("cannot enter a scratch directory");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = scratchSetUp();
    const std::string src = s.work + "/src";
    const std::string out = s.work + "/out";
    if (mkdir(src.c_str(), 0700) != 0 || mkdir(out.c_str(), 0700) != 0) fail("cannot make src and out");

    // One to three top-level directories, named as an argument may be typed.
    FuzzedDataProvider in(data, size);
    Builder b{in};
    std::vector<std::string> args;
    int tops = in.ConsumeIntegralInRange(1, 3);
    for (int t = 0; t < tops; ++t) {
        const std::string name = "t" + std::to_string(t);
        const std::string top = std::string(src).append("/").append(name);
        if (mkdir(top.c_str(), 0700) != 0) fail("cannot make a top-level directory");
        static const char* const forms[] = {"", "/", "./"};
        int form = in.ConsumeIntegralInRange(0, 2);
        args.push_back(form == 2 ? std::string(forms[2]).append(name)
                                 : std::string(name).append(forms[form]));
        b.fill(top, 1);
    }

    enter(src);
    Options create;
    create.command = 'c';
    create.archive = s.archive;
    create.names = args;
    if (Printer told; createArchive(told, create) != 0) fail("creation reported a failure");

    // The library's writer, each directory taken by its full path under the
    // name "c" stored it by.
    enter(s.work);
    const std::string again = s.work + "/again.dat";
    {
        dat::Writer w(again);
        for (const std::string& arg : args)
            if (w.addTree(arg, src + "/" + arg, dat::verbatim) != dat::Status::ok)
                fail("the writer refused a tree");
        if (w.finish() != dat::Status::ok) fail("the writer failed");
    }
    if (readBytes(again) != readBytes(s.archive)) fail("the writer's archive differs from c's");
    if (std::remove(again.c_str()) != 0) fail("cannot remove the writer's archive");

    enter(out);
    Options extract;
    extract.command = 'x';
    extract.archive = s.archive;
    if (Printer told; readArchive(told, extract) != 0) fail("extraction reported a failure");
    const File made = fileOpenRead(s.archive);
    if (parseFile(made).files != b.fileCount) fail("file count differs");

    enter(s.work);
    if (treeOf(src) != treeOf(out)) fail("extracted tree differs from the original");
    // And the library's extraction, below a directory of its own.
    const std::string below = s.work + "/below";
    if (dat::Archive(s.archive).extract(below) != dat::Status::ok) fail("the library's extraction failed");
    if (treeOf(below) != treeOf(out)) fail("the library extracted another tree");
    scratchCheckOutside();
    scratchClear();
    return 0;
}
