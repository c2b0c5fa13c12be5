// One process extracting more than once, as the fuzz targets and the
// mutation sweep do: nothing learnt about the disk in one walk may be
// trusted in the next.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "reading/in_process.h"
#include "support/scratch.h"

using namespace dat::detail;

namespace {

TEST(RepeatedExtraction, DirectoryReplacedByALinkBetweenWalksIsNotEntered) {
    ScratchDir dir, outside;
    const std::string archive = dataFile("worked_example.dat");
    InDir in(dir.path);
    {
        Silenced quiet;
        ASSERT_EQ(readInProcess(archive, true).status, 0);
    }
    ASSERT_EQ(readBytes(dir / "data/a.txt"), "abc");
    // Between the walks "data" becomes a link to a directory elsewhere.
    std::filesystem::remove_all(dir / "data");
    ASSERT_EQ(symlink(outside.path.c_str(), (dir / "data").c_str()), 0);
    ReadRun second;
    {
        Silenced quiet;
        second = readInProcess(archive, true);
    }
    EXPECT_EQ(second.status, 255);
    EXPECT_TRUE(treeOf(outside.path).empty());
}

}  // namespace
