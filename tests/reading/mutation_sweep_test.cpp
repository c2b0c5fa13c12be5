// A deterministic sweep over archives made by "c" in-process: every byte of the
// header and the TOC is flipped, deleted, and has a byte inserted before
// it, and each mutant is listed and extracted in-process as "l" and "x"
// would. Nothing may crash or be written outside the scratch directory;
// the outcomes are counted by the field the byte belongs to and printed.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "reading/in_process.h"
#include "support/dat_codec.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace fs = std::filesystem;

namespace {

enum Outcome { notDat, damaged, different, unchanged };
constexpr int outcomeCount = 4;
// flip: all eight bits; bit 0: the lowest one only, the smallest change.
const char* const kinds[] = {"flip", "bit 0", "insert", "delete"};
constexpr int kindCount = 4;

// The field of the plain header and TOC each byte belongs to.
// Positions come from the tests' own codec, not from the reader under test.
std::vector<std::string> fieldsOf(const std::string& archive, uint32_t tocEnd) {
    std::vector<std::string> field(tocEnd, "?");
    for (size_t i = 0; i < magicSize; ++i) field[i] = "magic";
    const Unpacked u = unpack(archive);
    std::vector<UnpackedRecord> records = {u.root};
    records.insert(records.end(), u.records.begin(), u.records.end());
    bool first = true;
    for (const UnpackedRecord& r : records) {
        const dat::RecordFields f = dat::fieldsOf(r.type, r.name.size());
        auto mark = [&](size_t from, size_t n, const std::string& name) {
            for (size_t i = 0; i < n; ++i) field[r.at + from + i] = name;
        };
        mark(f.type, 1, "type");
        mark(f.nameLength, 2, "name length");
        mark(f.name, r.name.size(), "name");
        if (r.type == dat::fileType) {
            mark(f.offset, 4, "file offset");
            mark(f.size, 4, "file size");
            mark(f.flag, 1, "file flag");
        } else {
            mark(f.offset, 4, "dir offset");
            mark(f.size, 4, first ? "root size" : "dir size");
            mark(f.count, 1, "count low byte");
            mark(f.count + 1, 3, "child count");
            mark(f.flag, 1, "dir flag");
        }
        first = false;
    }
    return field;
}

// Every entry decoded, as the listing shows it: type and path. What the
// files hold is compared on disk after extraction.
void describe(const std::vector<Entry>& list, std::string& out) {
    for (const Entry& e : list) {
        out += std::to_string(e.type) + " " + e.name + "\n";
        describe(e.child, out);
    }
}

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

struct Tally {
    std::map<std::string, std::array<std::array<int, outcomeCount>, kindCount>>
        byField;  // field -> kind -> outcome
    std::array<std::array<int, outcomeCount>, kindCount> total{};
    void add(const std::string& field, int kind, Outcome o) {
        ++byField[field][kind][o];
        ++total[kind][o];
    }
};

struct Sweep : ::testing::Test {
    ScratchDir dir;
    std::string archive = dir / "../in.dat";
    std::string out = dir / "out";
    std::set<std::string> rootNames = namesIn("/");
    Tally tally;

    // Lists and extracts the archive now in `archive`: what the reader made
    // of it, the listing, and the tree extracted (empty when refused).
    struct Result {
        Toc toc;
        std::string decoded;
        std::map<std::string, std::string> extracted;
        int extractStatus;
    };

    Result readBack() {
        Result r{Toc::ok, {}, {}, 255};
        fs::remove_all(out);
        fs::create_directory(out);
        ReadRun l, x;
        {
            Silenced quiet;
            l = readInProcess(archive, false);
            if (l.toc == Toc::ok) describe(l.archive.root.child, r.decoded);
            InDir in(out);
            x = readInProcess(archive, true);
        }
        EXPECT_EQ(x.toc, l.toc);  // nothing left over from one run changes the next
        r.toc = l.toc;
        r.extractStatus = x.status;
        r.extracted = treeOf(out);
        return r;
    }

    void sweep(const std::string& name, const std::vector<std::string>& args) {
        std::vector<std::string> create = {"dattool", "c", "../../made.dat"};
        create.insert(create.end(), args.begin(), args.end());
        int made;
        {
            Silenced quiet;
            InDir in(dir / "trees");
            made = runCommand(create);
        }
        ASSERT_EQ(made, 0);
        const std::string original = readBytes(dir / "../made.dat");
        writeBytes(archive, original);
        Result reference = readBack();
        ASSERT_EQ(reference.toc, Toc::ok);
        ASSERT_EQ(reference.extractStatus, 0);
        ASSERT_FALSE(reference.extracted.empty());

        const uint32_t tocEnd = static_cast<uint32_t>(original.size()) - unpack(original).root.size;
        const std::vector<std::string> field = fieldsOf(original, tocEnd);
        for (uint32_t p = 0; p < tocEnd; ++p) {
            for (int kind = 0; kind < kindCount; ++kind) {
                std::string m = original;
                if (kind == 0) m[p] = static_cast<char>(m[p] ^ 0xFF);
                if (kind == 1) m[p] = static_cast<char>(m[p] ^ 0x01);
                if (kind == 2) m.insert(p, 1, static_cast<char>(0x5A));
                if (kind == 3) m.erase(p, 1);
                writeBytes(archive, m);
                Result r = readBack();
                Outcome o = r.toc == Toc::notArchive ? notDat
                            : r.toc == Toc::damaged  ? damaged
                            : r.decoded == reference.decoded && r.extracted == reference.extracted &&
                                    r.extractStatus == 0
                                ? unchanged
                                : different;
                tally.add(field[p], kind, o);
                // Nothing beside the scratch directory and the archive, nothing new in "/".
                EXPECT_EQ(namesIn(dir / ".."), (std::set<std::string>{"work", "in.dat", "made.dat"}))
                    << name << " " << kinds[kind] << " at " << p;
                EXPECT_EQ(namesIn("/"), rootNames) << name << " " << kinds[kind] << " at " << p;
                if (HasFailure()) return;
            }
        }
        fs::remove(dir / "../made.dat");
    }

    void print() const {
        std::ostringstream s;
        s << "Mutations of header and TOC bytes: \"Not a DAT file\" / \"Damaged archive\" / different tree / "
             "unchanged\n";
        s << std::left << std::setw(16) << "field";
        for (const char* k : kinds) s << std::setw(18) << k;
        s << "\n";
        auto row = [&](const std::string& name,
                       const std::array<std::array<int, outcomeCount>, kindCount>& c) {
            s << std::left << std::setw(16) << name;
            for (int k = 0; k < kindCount; ++k) {
                std::string cell;
                for (int o = 0; o < outcomeCount; ++o) cell += (o ? "/" : "") + std::to_string(c[k][o]);
                s << std::setw(18) << cell;
            }
            s << "\n";
        };
        for (const auto& [name, c] : tally.byField) row(name, c);
        row("all", tally.total);
        std::cout << s.str();
    }

    double caughtShare(const std::string& name, int kind) const {
        const auto& c = tally.byField.at(name)[kind];
        return double(c[notDat] + c[damaged]) / (c[notDat] + c[damaged] + c[different] + c[unchanged]);
    }
};

TEST_F(Sweep, EveryMutationOfHeaderAndTocEndsCleanly) {
    fs::create_directories(dir / "trees/data");
    writeBytes(dir / "trees/data/a.txt", "abc");
    writeBytes(dir / "trees/data/m.msh", "0123456789");
    fs::create_directories(dir / "trees/one/sub/deeper");
    fs::create_directories(dir / "trees/one/empty");
    writeBytes(dir / "trees/one/zero.bin", "");
    writeBytes(dir / "trees/one/sub/x.tex", "plain text");
    writeBytes(dir / "trees/one/sub/deeper/y.bin", std::string(300, 'y'));
    fs::create_directories(dir / "trees/long");
    writeBytes(dir / "trees/long/" + std::string(60, 'n') + ".txt", "sixty");
    writeBytes(dir / "trees/long/" + std::string(120, 'q'), "hundred and twenty");
    fs::create_directories(dir / "out");

    sweep("worked example", {"data"});
    sweep("two top-level directories", {"one", "data"});
    sweep("long names, arguments as typed", {"./long", "data/"});
    print();

    // The magic is always checked; a type byte, a name length or a child
    // count that is wrong almost never decodes to the right length.
    for (int kind = 0; kind < kindCount; ++kind) EXPECT_EQ(caughtShare("magic", kind), 1.0) << kinds[kind];
    for (const char* name : {"type", "name length", "child count", "root size"})
        for (int kind : {0, 1}) EXPECT_GE(caughtShare(name, kind), 0.9) << name << " " << kinds[kind];
    // Inserting or deleting a byte shifts every later key: nearly always caught.
    for (int kind : {2, 3}) {
        const auto& c = tally.total[kind];
        EXPECT_GE(double(c[notDat] + c[damaged]) / (c[notDat] + c[damaged] + c[different] + c[unchanged]),
                  0.95)
            << kinds[kind];
    }
    // Bytes the reader never uses change nothing; every other flip does.
    for (const auto& [name, c] : tally.byField) {
        bool ignored =
            name == "dir offset" || name == "dir size" || name == "count low byte" || name == "dir flag";
        for (int kind : {0, 1}) {
            if (ignored) {
                EXPECT_EQ(c[kind][unchanged],
                          c[kind][notDat] + c[kind][damaged] + c[kind][different] + c[kind][unchanged])
                    << name;
            } else if (name != "file flag" && name != "file offset") {
                // Exempt: any nonzero flag says scrambled, and an empty
                // file reads nothing from wherever its offset points.
                EXPECT_EQ(c[kind][unchanged], 0) << name << " " << kinds[kind];
            }
        }
    }
}

}  // namespace
