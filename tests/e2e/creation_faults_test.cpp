// Sources that change between the scan and the writing. The fault shim
// (fault_shim.cpp) is preloaded into the tool and changes the tree at that
// exact moment, so every case is deterministic. Whatever happens to a
// source, the archive must hold exactly the sizes its TOC promises, read
// back cleanly, and the run must name each path and end with 255.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "e2e/harness.h"
#include "support/dat_codec.h"

namespace fs = std::filesystem;

namespace {

// Sets a variable for the tool's runs while it lives.
struct EnvVar {
    std::string name;
    std::string old;
    bool had;
    EnvVar(const std::string& n, const std::string& value) : name(n) {
        const char* v = std::getenv(n.c_str());
        had = v != nullptr;
        if (had) old = v;
        setenv(n.c_str(), value.c_str(), 1);
    }
    ~EnvVar() {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;
};

// Runs "c out.dat d" in dir with the faults carried out after the scan.
ToolRun createWithFaults(const ScratchDir& dir, const std::string& faults) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Under the sanitizers, the preloaded shim comes before their runtime.
    EnvVar a("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    EnvVar p("LD_PRELOAD", DATTOOL_FAULT_SHIM);
    EnvVar f("DATTOOL_TEST_FAULTS", faults);
    return runTool({"c", "out.dat", "d"}, dir.path);
}

// Extracts the archive into a fresh directory beside dir and returns the tree.
std::map<std::string, std::string> extracted(const ScratchDir& dir) {
    fs::create_directory(dir / "../fresh");
    ToolRun r = runTool({"x", "../work/out.dat"}, dir / "../fresh");
    EXPECT_EQ(r.status, 0) << r.out;
    return treeOf(dir / "../fresh");
}

const std::string z4(4, '\0');

TEST(CreationFaults, SourcesThatLoseBytesAreFilledWithZeros) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    ScratchDir dir;
    fs::create_directories(dir / "d/sub");
    writeBytes(dir / "d/a.txt", "aaaa");      // removed
    writeBytes(dir / "d/b.txt", "bbbb");      // unreadable
    writeBytes(dir / "d/c.tex", "cccccccc");  // shrunk, stored plain
    writeBytes(dir / "d/e.txt", "eeee");      // a FIFO now: must not block
    writeBytes(dir / "d/f.txt", "ffff");      // a directory now
    writeBytes(dir / "d/sub/g.txt", "gggg");  // its directory removed
    writeBytes(dir / "d/z.txt", "intact");    // after all of them, unchanged
    ToolRun r = createWithFaults(
        dir, "remove d/a.txt;deny d/b.txt;shrink d/c.tex 3;fifo d/e.txt;dir d/f.txt;remove d/sub/g.txt;rmdir d/sub");
    EXPECT_EQ(r.out,
              "Writing d\\a.txt...\n"
              "Unable to open d\\a.txt: stored 4 zero bytes in its place\n"
              "Writing d\\b.txt...\n"
              "Unable to open d\\b.txt: stored 4 zero bytes in its place\n"
              "Writing d\\c.tex...\n"
              "d\\c.tex shrank: 5 missing bytes stored as zeros\n"
              "Writing d\\e.txt...\n"
              "d\\e.txt shrank: 4 missing bytes stored as zeros\n"
              "Writing d\\f.txt...\n"
              "d\\f.txt shrank: 4 missing bytes stored as zeros\n"
              "Writing d\\sub\\g.txt...\n"
              "Unable to open d\\sub\\g.txt: stored 4 zero bytes in its place\n"
              "Writing d\\z.txt...\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "");
    const std::map<std::string, std::string> expected = {
        {"d", "<dir>"},         {"d/a.txt", z4},
        {"d/b.txt", z4},        {"d/c.tex", std::string("ccc") + std::string(5, '\0')},
        {"d/e.txt", z4},        {"d/f.txt", z4},
        {"d/sub", "<dir>"},     {"d/sub/g.txt", z4},
        {"d/z.txt", "intact"}};
    EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree, expected);
    EXPECT_EQ(extracted(dir), expected);
}

TEST(CreationFaults, SourcesThatGainBytesKeepOnlyThePromisedOnes) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    ScratchDir dir;
    fs::create_directory(dir / "d");
    writeBytes(dir / "d/a.txt", "aaaa");  // grows by 5
    writeBytes(dir / "d/b.msh", "bbbb");  // becomes a link to an endless device
    writeBytes(dir / "d/c.txt", "");      // empty at the scan, grows by 3
    writeBytes(dir / "d/z.txt", "intact");
    ToolRun r = createWithFaults(dir, "grow d/a.txt 5;link d/b.msh /dev/zero;grow d/c.txt 3");
    EXPECT_EQ(r.out,
              "Writing d\\a.txt...\n"
              "d\\a.txt grew: only its first 4 bytes stored\n"
              "Writing d\\b.msh...\n"
              "d\\b.msh grew: only its first 4 bytes stored\n"
              "Writing d\\c.txt...\n"
              "d\\c.txt grew: only its first 0 bytes stored\n"
              "Writing d\\z.txt...\n");
    EXPECT_EQ(r.status, 255);
    const std::map<std::string, std::string> expected = {
        {"d", "<dir>"}, {"d/a.txt", "aaaa"}, {"d/b.msh", z4}, {"d/c.txt", ""}, {"d/z.txt", "intact"}};
    EXPECT_EQ(unpack(readBytes(dir / "out.dat")).tree, expected);
    EXPECT_EQ(extracted(dir), expected);
}

TEST(CreationFaults, UnchangedTreeUnderTheShimIsNoFailure) {
    if (runsWrapped()) GTEST_SKIP() << "the fault shim is preloaded into Linux programs only";
    // The shim itself changes nothing when it has nothing to do.
    ScratchDir dir;
    fs::create_directory(dir / "d");
    writeBytes(dir / "d/a.txt", "aaaa");
    ToolRun r = createWithFaults(dir, "");
    EXPECT_EQ(r.out, "Writing d\\a.txt...\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(extracted(dir), (std::map<std::string, std::string>{{"d", "<dir>"}, {"d/a.txt", "aaaa"}}));
}

}  // namespace
