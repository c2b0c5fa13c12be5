// Replays every input under tests/data/fuzz, on which a fuzz target once
// found a problem: "l" and "x" must end normally (0 or 255), write to
// standard error only when they fail, and then only lines that say where and
// why, and write nothing outside the scratch directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

#include "e2e/harness.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> regressionInputs() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dataFile("fuzz")))
        if (e.path().extension() == ".dat") names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct FuzzRegression : ::testing::TestWithParam<std::string> {};

TEST_P(FuzzRegression, ListAndExtractEndCleanly) {
    const std::string archive = dataFile("fuzz/" + GetParam());
    ScratchDir dir;
    const std::string start = "Opening " + archive + "...ok\nParsing TOC...\n";
    for (const char* command : {"l", "x"}) {
        ToolRun r = runTool({command, archive}, dir.path);
        EXPECT_TRUE(r.status == 0 || r.status == 255) << command << " ended with " << r.status;
        EXPECT_EQ(r.err.empty(), r.status == 0) << command << ": " << r.err;
        std::istringstream lines(r.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_TRUE(line.rfind("dattool: ", 0) == 0 && line.find(": ", 9) != std::string::npos) << line;
        EXPECT_EQ(r.out.compare(0, start.size(), start), 0) << command << ": " << r.out.substr(0, 200);
        // Only the scratch directory itself lies in its private parent.
        EXPECT_EQ(besideScratch(dir), std::vector<std::string>{"work"}) << command;
    }
}

INSTANTIATE_TEST_SUITE_P(Data, FuzzRegression, ::testing::ValuesIn(regressionInputs()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return testNameFor(info.param.substr(0, info.param.size() - 4));
                         });

}  // namespace
