// Lists and extracts every sample archive of tests/data, one test each,
// named for the file, and checks the exact output, the exit statuses and the
// tree left behind, which must lie wholly inside the scratch directory, and
// standard error, which says where and why for each failure.
// What to expect is written beside each archive by tests/data/make_samples.py
// (<name>.expected, or <name>.windows.expected for a Windows build where
// that differs), so a new hostile case is one entry there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

// One command's output after "Parsing TOC...": whole, or for long ones
// only its line count, byte count, FNV-1a hash and last line.
struct Output {
    bool whole = false;
    std::string bytes;
    size_t lines = 0, size = 0;
    uint64_t hash = 0;
    std::string last;
};

struct Expected {
    int listStatus = -1, extractStatus = -1;
    Output list, extract;
    Output listErrors, extractErrors;         // standard error, the archive as "<archive>"
    std::map<std::string, std::string> tree;  // as treeOf gives it
};

uint64_t fnv1a64(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325u;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3u;
    return h;
}

// The format make_samples.py writes: "key value" lines; a block of bytes
// follows a line ending in its length, and a line break follows the block.
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
        Output* out = key.rfind("list", 0) == 0      ? (errors ? &e.listErrors : &e.list)
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

void expectOutput(const std::string& got, const Output& want, const char* command) {
    if (want.whole) {
        EXPECT_EQ(got, want.bytes) << command;
        return;
    }
    EXPECT_EQ(static_cast<size_t>(std::count(got.begin(), got.end(), '\n')), want.lines) << command;
    EXPECT_EQ(got.size(), want.size) << command;
    const bool endsRight = got.size() >= want.last.size() &&
                           got.compare(got.size() - want.last.size(), want.last.size(), want.last) == 0;
    EXPECT_TRUE(endsRight) << command << " ends in\n"
                           << got.substr(got.size() - std::min<size_t>(got.size(), 300));
    EXPECT_EQ(fnv1a64(got), want.hash) << command;
}

// Standard error with the archive's path as the expectations write it.
std::string withPlaceholder(std::string err, const std::string& archive) {
    for (size_t at = err.find(archive); at != std::string::npos; at = err.find(archive, at))
        err.replace(at, archive.size(), "<archive>");
    return err;
}

std::vector<std::string> sampleStems() {
    std::vector<std::string> stems;
    for (const auto& item : fs::directory_iterator(dataFile("")))
        if (item.path().extension() == ".dat") stems.push_back(item.path().stem().string());
    std::sort(stems.begin(), stems.end());
    return stems;
}

struct Samples : ::testing::TestWithParam<std::string> {};

TEST_P(Samples, ListAndExtract) {
    const std::string archive = dataFile(GetParam() + ".dat");
    std::string expectedFile = dataFile(GetParam() + ".windows.expected");
    if (!testingWindowsBuild() || !exists(expectedFile)) expectedFile = dataFile(GetParam() + ".expected");
    ASSERT_TRUE(exists(expectedFile)) << "no " << expectedFile << ": run tests/data/make_samples.py";
    const Expected want = parseExpected(readBytes(expectedFile));
    const std::string opening = "Opening " + archive + "...ok\nParsing TOC...\n";
    ScratchDir dir;

    ToolRun l = runTool({"l", archive}, dir.path);
    ASSERT_EQ(l.out.compare(0, opening.size(), opening), 0) << l.out.substr(0, 300);
    expectOutput(l.out.substr(opening.size()), want.list, "l");
    EXPECT_EQ(l.status, want.listStatus);
    expectOutput(withPlaceholder(l.err, archive), want.listErrors, "l, standard error");
    EXPECT_TRUE(treeOf(dir.path).empty());

    ToolRun x = runTool({"x", archive}, dir.path);
    ASSERT_EQ(x.out.compare(0, opening.size(), opening), 0) << x.out.substr(0, 300);
    expectOutput(x.out.substr(opening.size()), want.extract, "x");
    EXPECT_EQ(x.status, want.extractStatus);
    expectOutput(withPlaceholder(x.err, archive), want.extractErrors, "x, standard error");
    EXPECT_EQ(treeOf(dir.path), want.tree);
    EXPECT_EQ(besideScratch(dir), std::vector<std::string>{"work"});
    EXPECT_FALSE(exists("/tmp/dattool-escape"));
}

INSTANTIATE_TEST_SUITE_P(Data, Samples, ::testing::ValuesIn(sampleStems()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return testNameFor(info.param);
                         });

}  // namespace
