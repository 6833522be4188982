// The pace of the caller's progress lines and what the end of a transfer reports.

#include "upload/image_progress.h"

#include <gtest/gtest.h>

using std::chrono::milliseconds;

TEST(ImageProgress, ALineAfterTheFirstBlockThenAtMostEvery500MsAndALastOneAtTheEnd)
{
    const ImageProgress::Clock::time_point t0{};
    ImageProgress progress;
    progress.Announce("LF 0x10000 7000 1a2b V1\r", 7000);
    EXPECT_EQ(progress.header(), "LF 0x10000 7000 1a2b V1");
    EXPECT_TRUE(progress.BlockSent(2000, t0 + milliseconds(40)));
    EXPECT_FALSE(progress.BlockSent(2000, t0 + milliseconds(300)));
    EXPECT_FALSE(progress.BlockSent(2000, t0 + milliseconds(539)));
    EXPECT_TRUE(progress.BlockSent(1000, t0 + milliseconds(540)));
    EXPECT_EQ(progress.sent(), 7000);
    EXPECT_FALSE(progress.Ended()); // the line before already said 7000
    EXPECT_TRUE(progress.complete());

    progress.Announce("LF 0x10000 7000 1a2b V2", 7000); // a new chain: its first block has a line
    EXPECT_TRUE(progress.BlockSent(2000, t0 + milliseconds(600)));
    EXPECT_FALSE(progress.BlockSent(2000, t0 + milliseconds(700)));
    EXPECT_TRUE(progress.Ended());
    EXPECT_FALSE(progress.Ended());
    EXPECT_EQ(progress.sent(), 4000);
    EXPECT_FALSE(progress.complete());
}

TEST(ImageProgress, AnEmptyImageIsCompleteOnceItsBlockWentOutAndNotBefore)
{
    ImageProgress progress;
    progress.Announce("LF 0x0 0 0 V1\r", 0);
    EXPECT_FALSE(progress.complete()); // the transfer could not open the file
    EXPECT_TRUE(progress.Ended());     // 0/0: the caller learns that nothing went out
    EXPECT_TRUE(progress.BlockSent(0, ImageProgress::Clock::now()));
    EXPECT_TRUE(progress.complete());
}
