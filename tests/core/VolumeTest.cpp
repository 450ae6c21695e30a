// Volume registers: fixed volumes and sweeps, with exact values.

#include "synth/Envelope.h"
#include "synth/Volume.h"

#include <gtest/gtest.h>

namespace
{
TEST(VolumeTest, FixedVolumeUsesBitFourteenAsSign)
{
    Volume v;
    v.setVolume(0x3FFF);
    EXPECT_EQ(0x3FFF, v.getCurrentVolume());
    v.setVolume(0x4000);
    EXPECT_EQ(-0x4000, v.getCurrentVolume());
    v.setVolume(0x7FFF);
    EXPECT_EQ(-1, v.getCurrentVolume());
    v.updateCurrentVolume(); // fixed: no step
    EXPECT_EQ(-1, v.getCurrentVolume());
}

TEST(VolumeTest, LinearRiseAtRateZeroReachesTopInTwoSteps)
{
    Volume v;
    v.setVolume(0x8000);
    v.updateCurrentVolume();
    EXPECT_EQ(0x2000, v.getCurrentVolume());
    v.updateCurrentVolume();
    EXPECT_EQ(0x3FFF, v.getCurrentVolume());
    v.updateCurrentVolume();
    EXPECT_EQ(0x3FFF, v.getCurrentVolume());
}

TEST(VolumeTest, SweepStartsFromTheMagnitudeOfTheFixedVolume)
{
    Volume v;
    v.setVolume(0x6000); // fixed -0x2000
    v.setVolume(0x8000 | 40);
    v.updateCurrentVolume();
    EXPECT_EQ(((1 << 26) + static_cast<int>(Envelope::new_table_sr[40])) >> 13, v.getCurrentVolume());
}

TEST(VolumeTest, NegativeSweepEndsAtMinusOne)
{
    Volume v;
    v.setVolume(0x9000); // rising, negative, rate 0
    v.updateCurrentVolume();
    v.updateCurrentVolume();
    EXPECT_EQ(-0x4000, v.getCurrentVolume());
}

TEST(VolumeTest, FallingSweepStopsAtZero)
{
    Volume v;
    v.setVolume(0x3FFF);
    v.setVolume(0xA000); // falling, rate 0
    v.updateCurrentVolume();
    v.updateCurrentVolume();
    v.updateCurrentVolume();
    EXPECT_EQ(0, v.getCurrentVolume());
}

TEST(VolumeTest, SlowestRatesNeverMove)
{
    for (int rate = 105; rate < 128; ++rate)
    {
        Volume v;
        v.setVolume(0x1000);
        v.setVolume(static_cast<unsigned short>(0x8000 | rate));
        for (int i = 0; i < 50; ++i)
            v.updateCurrentVolume();
        EXPECT_EQ(0x1000, v.getCurrentVolume()) << "rate " << rate;
    }
}

TEST(VolumeTest, ExponentialSweepStepGrowsWithMagnitude)
{
    Volume v;
    v.setVolume(0x3000);
    v.setVolume(0xC000 | 20); // exponential, rising, rate 20
    v.updateCurrentVolume();
    const int a = 0x3000 << 13;
    const int d = static_cast<int>(Envelope::new_table_sr[20]);
    EXPECT_EQ((a + (d / 5) * (((static_cast<long long>(a) * 5) >> 27) + 1)) >> 13, v.getCurrentVolume());
}

TEST(VolumeTest, RewritingASweepChangesDirectionWithoutAJump)
{
    Volume v;
    v.setVolume(0x8000 | 30);
    for (int i = 0; i < 10; ++i)
        v.updateCurrentVolume();
    const int reached = v.getCurrentVolume();
    v.setVolume(0xA000 | 30);
    EXPECT_EQ(reached, v.getCurrentVolume());
    v.updateCurrentVolume();
    EXPECT_LT(v.getCurrentVolume(), reached);
    EXPECT_GT(v.getCurrentVolume(), reached - 0x400);
}
} // namespace
