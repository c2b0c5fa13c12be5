#include <gtest/gtest.h>

#include "archive/paths.h"

using namespace dat::detail;

namespace {

TEST(SafePath, LeadingAnchorsAreStripped) {
    const std::pair<const char*, const char*> cases[] = {
        {"data\\a.txt", "data\\a.txt"},
        {"\\abs\\x", "abs\\x"},
        {"/abs/x", "abs/x"},
        {"\\\\server\\share\\x", "server\\share\\x"},
        {"C:\\games\\", "games\\"},
        {"c:x.txt", "x.txt"},
        {"..\\..\\x", "x"},
        {"../..\\/x", "x"},
        {"\\..\\C:\\..\\x", "x"},
        {"..\\", ""},
        {"..", ""},
        {"C:", ""},
        // Names that only look like the anchors stay as they are.
        {"...\\x", "...\\x"},
        {"..x\\y", "..x\\y"},
        {"ab:c", "ab:c"},
        {"1:x", "1:x"},
        {".\\x", ".\\x"},
    };
    for (const auto& [name, expected] : cases) {
        std::string used;
        EXPECT_TRUE(safePath(name, used)) << name;
        EXPECT_EQ(used, expected) << name;
    }
}

TEST(SafePath, ClimbingAnywhereElseIsRefused) {
    for (const char* name : {"a\\..\\b", "a/../b", "a\\..", "a/..", "..\\a\\..\\b", "a\\b\\..\\..\\..\\c",
                             ".\\..\\x", "C:a\\..\\..\\x", "d\\..\\"}) {
        std::string used;
        EXPECT_FALSE(safePath(name, used)) << name;
    }
}

}  // namespace
