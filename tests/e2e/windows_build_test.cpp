// Checks that only mean something for a Windows build of the program, run
// with DATTOOL_EXE pointing at it (tests/e2e/under-wine.sh); skipped otherwise.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e/harness.h"

namespace {

#define SKIP_UNLESS_WINDOWS_BUILD() \
    if (!testingWindowsBuild()) GTEST_SKIP() << "DATTOOL_EXE names no Windows build"

// Standard output is in text mode, as a console program's is: every line
// ends in CR LF.
TEST(WindowsBuild, LinesEndInCrLf) {
    SKIP_UNLESS_WINDOWS_BUILD();
    ScratchDir dir;
    for (const auto& args : {std::vector<std::string>{}, {"x", "missing.dat"}}) {
        ToolRun r = runTool(args, dir.path);
        size_t lines = static_cast<size_t>(std::count(r.raw.begin(), r.raw.end(), '\n'));
        size_t crlf = 0;
        for (size_t at = r.raw.find("\r\n"); at != std::string::npos; at = r.raw.find("\r\n", at + 2)) ++crlf;
        EXPECT_GT(lines, 0u);
        EXPECT_EQ(crlf, lines) << r.raw;
        EXPECT_EQ(r.raw.size(), r.out.size() + lines);
    }
}

}  // namespace
