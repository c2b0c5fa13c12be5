#include "creation/planner.h"

#include <gtest/gtest.h>

#include "archive/format.h"

using namespace dat::detail;

namespace {

Entry file(const std::string& name, uint32_t size) {
    Entry e;
    e.type = typeFile;
    e.name = name;
    e.size = size;
    e.scrambled = 7;  // the planner must overwrite whatever is there
    return e;
}

// A list of entries, moved in: an entry is never copied.
template <typename... Entries>
std::vector<Entry> entries(Entries&&... e) {
    std::vector<Entry> list;
    (list.push_back(std::forward<Entries>(e)), ...);
    return list;
}

Entry dir(const std::string& name, std::vector<Entry> children) {
    Entry e;
    e.type = typeDirectory;
    e.name = name;
    e.count = static_cast<uint32_t>(children.size());
    e.child = std::move(children);
    return e;
}

TEST(Planner, OffsetsFlagsAndSizesOfOneDirectory) {
    std::vector<Entry> top =
        entries(dir("d", entries(file("a.tex", 100), file("b.txt", 7), file("C.MSH", 20))));
    EXPECT_EQ(fixupTree(top, 0), 127u);
    const Entry& d = top[0];
    EXPECT_EQ(d.offset, 0u);
    EXPECT_EQ(d.size, 127u);
    EXPECT_EQ(d.scrambled, 0);
    const uint32_t offsets[] = {0, 100, 107};
    const uint8_t flags[] = {0, 1, 0};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.child[i].offset, offsets[i]) << i;
        EXPECT_EQ(d.child[i].scrambled, flags[i]) << i;
    }
}

TEST(Planner, OnlyTheFourExactEndingsArePlain) {
    for (const char* name : {".tex", "a.tex", "a.msh", "a.TEX", "b.MSH", "x.tex.msh"})
        EXPECT_TRUE(storedPlain(name)) << name;
    for (const char* name : {"tex", "", "a.Tex", "a.mSH", "x.texture", "a.tex ", "atex", "a_msh"})
        EXPECT_FALSE(storedPlain(name)) << name;
}

TEST(Planner, EmptyDirectoriesTakeTheRunningOffset) {
    // The first top-level directory is empty, the second holds 5 bytes; an
    // empty one after data sits at the end; empty subdirectories add nothing.
    std::vector<Entry> top = entries(dir("first", {}), dir("second", entries(file("f", 5))),
                                     dir("third", entries(dir("e1", {}), dir("e2", entries(dir("e3", {}))))),
                                     dir("fourth", entries(file("z", 0), file("y", 2))));
    EXPECT_EQ(fixupTree(top, 0), 7u);
    EXPECT_EQ(top[0].offset, 0u);
    EXPECT_EQ(top[0].size, 0u);
    EXPECT_EQ(top[1].offset, 0u);
    EXPECT_EQ(top[1].size, 5u);
    EXPECT_EQ(top[2].offset, 5u);
    EXPECT_EQ(top[2].size, 0u);
    EXPECT_EQ(top[2].child[1].child[0].offset, 5u);
    // A zero-length file shares its offset with the next file.
    EXPECT_EQ(top[3].child[0].offset, 5u);
    EXPECT_EQ(top[3].child[1].offset, 5u);
    EXPECT_EQ(top[3].size, 2u);
}

TEST(Planner, NestedSubtreesFollowPreorder) {
    std::vector<Entry> top = entries(
        dir("a", entries(file("1", 3), dir("b", entries(file("2", 4), dir("c", entries(file("3", 5))))),
                         file("4", 6))),
        dir("d", entries(file("5", 1))));
    EXPECT_EQ(fixupTree(top, 10), 29u);
    const Entry& b = top[0].child[1];
    EXPECT_EQ(top[0].offset, 10u);
    EXPECT_EQ(top[0].size, 18u);
    EXPECT_EQ(b.offset, 13u);
    EXPECT_EQ(b.size, 9u);
    EXPECT_EQ(b.child[1].offset, 17u);
    EXPECT_EQ(b.child[1].child[0].offset, 17u);
    EXPECT_EQ(top[0].child[2].offset, 22u);
    EXPECT_EQ(top[1].offset, 28u);
}

TEST(Planner, ArchiveLengthAndItsLimit) {
    // The worked example: data holding a.txt (3) and m.msh (10) is 88 bytes.
    Entry example = dir("", entries(dir("data", entries(file("a.txt", 3), file("m.msh", 10)))));
    EXPECT_EQ(archiveLength(example), 88u);
    // 5 + 16 (root) + 17 (directory "d") + 13 (file "x") = 51 bytes of header.
    Entry top = dir("", entries(dir("d", entries(file("x", 0)))));
    top.child[0].child[0].size = UINT32_MAX - 51;
    EXPECT_EQ(archiveLength(top), maxArchiveLength);
    top.child[0].child[0].size += 1;
    EXPECT_GT(archiveLength(top), maxArchiveLength);
    // Two files that each fit but together do not.
    Entry two = dir("", entries(dir("d", entries(file("x", 0x80000000u), file("y", 0x80000000u)))));
    EXPECT_GT(archiveLength(two), maxArchiveLength);
}

}  // namespace
