// The pace of the caller's progress lines and what the end of a transfer reports.

#include "upload/image_progress.h"

#include <gtest/gtest.h>

using std::chrono::milliseconds;

TEST(ImageProgress, ALineAfterTheFirstBlockThenAtMostEvery500MsAndALastOneUnlessItWasSaid)
{
    const ImageProgress::Clock::time_point t0{};
    ImageProgress progress;
    progress.Announce("LF 0x10000 7000 1a2b V1\r", 7000);
    EXPECT_FALSE(progress.complete());
    EXPECT_TRUE(progress.BlockSent(2000, t0 + milliseconds(40)));
    EXPECT_FALSE(progress.BlockSent(2000, t0 + milliseconds(539)));
    EXPECT_TRUE(progress.BlockSent(2000, t0 + milliseconds(540)));
    EXPECT_FALSE(progress.BlockSent(1000, t0 + milliseconds(541)));
    EXPECT_TRUE(progress.Ended()); // 7000 was not said yet
    EXPECT_FALSE(progress.Ended());
    EXPECT_TRUE(progress.complete());

    progress.Announce("LF 0x0 0 0 V2", 0); // the next image starts afresh
    EXPECT_FALSE(progress.complete()); // nothing went out: the file could not be opened, say
    EXPECT_TRUE(progress.BlockSent(0, t0 + milliseconds(542)));
    EXPECT_FALSE(progress.Ended());
    EXPECT_TRUE(progress.complete());
    EXPECT_EQ(progress.header(), "LF 0x0 0 0 V2");
}
