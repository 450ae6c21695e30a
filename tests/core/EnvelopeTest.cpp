// ADSR envelope: rate tables and per-sample steps with exact levels.

#include "synth/Envelope.h"

#include <gtest/gtest.h>

namespace
{
struct ProbeEnvelope : Envelope
{
    int level() const { return accumulator; }
};

TEST(EnvelopeTest, TablesHaveTheirTellingValues)
{
    EXPECT_EQ(134217727, Envelope::ADSRResolution);
    Envelope::buildTablesOnce();
    const unsigned int sr[] = {67108864, 56431603, 47453132, 39903169, 33554432};
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ(sr[i], Envelope::new_table_sr[i]);
        if (i > 0)
        {
            EXPECT_EQ(sr[i], Envelope::new_table_ar[i - 1]);
        }
    }
    EXPECT_EQ(1u, Envelope::new_table_sr[101]);
    EXPECT_EQ(1u, Envelope::new_table_sr[104]);
    EXPECT_EQ(0u, Envelope::new_table_sr[105]);
    EXPECT_EQ(0u, Envelope::new_table_ar[104]);
    EXPECT_EQ(1u, Envelope::new_table_ar[103]);
    EXPECT_EQ(1u << 26, Envelope::new_table_dr[0]);
    EXPECT_EQ(1u << 11, Envelope::new_table_dr[15]);
    EXPECT_EQ(1u, Envelope::new_table_rr[26]);
    for (int r = 27; r < 32; ++r)
        EXPECT_EQ(0u, Envelope::new_table_rr[r]);
}

TEST(EnvelopeTest, AttackRateZeroReachesTopInThreeSteps)
{
    ProbeEnvelope e;
    e.setADSR1(0x000F);
    e.KeyOn();
    EXPECT_EQ(1, e.getADSRVolume());
    e.updateADSRVolume();
    EXPECT_EQ(56431604, e.level());
    EXPECT_EQ(Envelope::Attack, e.getPhase());
    e.updateADSRVolume();
    EXPECT_EQ(Envelope::Attack, e.getPhase());
    e.updateADSRVolume();
    EXPECT_EQ(Envelope::ADSRResolution, e.level());
    EXPECT_EQ(0x7FFF, e.getADSRVolume());
    EXPECT_EQ(Envelope::Decay, e.getPhase());
}

TEST(EnvelopeTest, SlowestAttackRatesHoldOrCreep)
{
    ProbeEnvelope creep, hold;
    creep.setADSR1(100 << 8);
    hold.setADSR1(127 << 8);
    creep.KeyOn();
    hold.KeyOn();
    for (int i = 0; i < 1000; ++i)
    {
        creep.updateADSRVolume();
        hold.updateADSRVolume();
    }
    EXPECT_EQ(1001, creep.level());
    EXPECT_EQ(1, creep.getADSRVolume());
    EXPECT_EQ(1, hold.level());
    EXPECT_EQ(1, hold.getADSRVolume());
}

TEST(EnvelopeTest, ExponentialAttackTakesQuarterStepsAboveThreeQuarters)
{
    ProbeEnvelope e;
    e.setADSR1(0x8000 | (20 << 8));
    e.KeyOn();
    e.setADSRVolume(0x6001);
    e.updateADSRVolume();
    EXPECT_EQ((0x6001 << 12) + static_cast<int>(Envelope::new_table_ar[20] >> 2), e.level());
    e.setADSRVolume(0x6000);
    e.updateADSRVolume();
    EXPECT_EQ((0x6000 << 12) + static_cast<int>(Envelope::new_table_ar[20]), e.level());
}

TEST(EnvelopeTest, DecayEndsAtTheSustainLevel)
{
    ProbeEnvelope top;
    top.setADSR1(0x000F);
    top.KeyOn();
    for (int i = 0; i < 3; ++i)
        top.updateADSRVolume();
    top.updateADSRVolume();
    EXPECT_EQ(Envelope::Sustain, top.getPhase());

    ProbeEnvelope low;
    low.setADSR1(0x0000); // decay rate 0, sustain level 0
    low.KeyOn();
    for (int i = 0; i < 3; ++i)
        low.updateADSRVolume();
    int steps = 0, before = 0;
    while (low.getPhase() == Envelope::Decay && steps < 100000)
    {
        before = low.level();
        low.updateADSRVolume();
        ++steps;
    }
    EXPECT_EQ(Envelope::Sustain, low.getPhase());
    EXPECT_GT(before, 1 << 23);
    EXPECT_LE(low.level(), 1 << 23);
    // Below 0x1000 the multiplier is 1: the last step is exactly 2^26 >> 3.
    EXPECT_EQ(before - (1 << 23), low.level());
    EXPECT_LE(low.getADSRVolume(), 0x800);
}

TEST(EnvelopeTest, SustainStopsAtTheEnds)
{
    ProbeEnvelope up, down;
    up.setADSR2(0x0000); // rising, rate 0
    down.setADSR2(0x4000);
    up.setADSRVolume(0x4000);
    down.setADSRVolume(0x4000);
    // Put both in sustain through a one-step decay.
    up.setADSR1(0x000F);
    down.setADSR1(0x000F);
    up.KeyOn();
    down.KeyOn();
    for (int i = 0; i < 10; ++i)
    {
        up.updateADSRVolume();
        down.updateADSRVolume();
    }
    EXPECT_EQ(Envelope::Sustain, up.getPhase());
    EXPECT_EQ(0x7FFF, up.getADSRVolume());
    EXPECT_EQ(Envelope::ADSRResolution, up.level());
    EXPECT_EQ(0, down.getADSRVolume());
    EXPECT_EQ(0, down.level());
}

TEST(EnvelopeTest, ExponentialSustainScalesByLevel)
{
    ProbeEnvelope e;
    e.setADSR1(0x000F);
    e.setADSR2(0xC000 | (10 << 6)); // exponential, decreasing, rate 10
    e.KeyOn();
    for (int i = 0; i < 4; ++i)
        e.updateADSRVolume();
    ASSERT_EQ(Envelope::Sustain, e.getPhase());
    e.setADSRVolume(0x7000);
    e.updateADSRVolume();
    const int d = -static_cast<int>(Envelope::new_table_sr[10]);
    EXPECT_EQ((0x7000 << 12) + (d / 5) * (((0x7000 * 5) >> 15) + 1), e.level());
}

TEST(EnvelopeTest, LinearReleaseRateZeroEmptiesInTwoSteps)
{
    ProbeEnvelope e;
    e.setADSRVolume(0x7FFF);
    e.KeyOff();
    e.updateADSRVolume();
    EXPECT_EQ((0x7FFF << 12) - (1 << 26), e.level());
    e.updateADSRVolume();
    EXPECT_EQ(0, e.level());
    EXPECT_EQ(0, e.getADSRVolume());
}

TEST(EnvelopeTest, SlowReleaseRatesNeverFall)
{
    for (int r = 27; r < 32; ++r)
    {
        ProbeEnvelope e;
        e.setADSR2(static_cast<unsigned short>(r));
        e.setADSRVolume(0x1234);
        e.KeyOff();
        for (int i = 0; i < 100; ++i)
            e.updateADSRVolume();
        EXPECT_EQ(0x1234, e.getADSRVolume()) << "rate " << r;
    }
}

TEST(EnvelopeTest, ExponentialReleaseSlowsDownAsItFalls)
{
    ProbeEnvelope e;
    e.setADSR2(0x0020 | 10);
    e.setADSRVolume(0x7000);
    e.KeyOff();
    e.updateADSRVolume();
    EXPECT_EQ((0x7000 << 12) - ((1 << 16) >> 3) * 8, e.level());
    e.setADSRVolume(0x0FFF);
    e.updateADSRVolume();
    EXPECT_EQ((0x0FFF << 12) - ((1 << 16) >> 3), e.level());
}

TEST(EnvelopeTest, LevelRegisterAboveTopIsClampedByTheNextStep)
{
    ProbeEnvelope e;
    e.setADSR2(27); // sustain rising at rate 0 would move; release 27 does not
    e.setADSRVolume(0xFFFF);
    EXPECT_EQ(0xFFFF000, e.level());
    e.KeyOff();
    e.updateADSRVolume();
    EXPECT_EQ(Envelope::ADSRResolution, e.level());
    EXPECT_EQ(0x7FFF, e.getADSRVolume());
}

TEST(EnvelopeTest, KeyOffWhileOffStaysAtZero)
{
    ProbeEnvelope e;
    e.KeyOff();
    e.updateADSRVolume();
    EXPECT_EQ(Envelope::Release, e.getPhase());
    EXPECT_EQ(0, e.getADSRVolume());
}

TEST(EnvelopeTest, SmallNonZeroLevelReadsAsOne)
{
    ProbeEnvelope e;
    e.setADSR1(0x000F);
    e.setADSR2(0x4000 | (80 << 6)); // decreasing sustain, small steps
    e.KeyOn();
    for (int i = 0; i < 4; ++i)
        e.updateADSRVolume();
    e.setADSRVolume(0);
    // Phase sustain, level 0: a falling step keeps it at 0.
    e.updateADSRVolume();
    EXPECT_EQ(0, e.getADSRVolume());
    ProbeEnvelope a;
    a.setADSR1(90 << 8);
    a.KeyOn();
    a.updateADSRVolume();
    ASSERT_LT(a.level(), 4096);
    EXPECT_EQ(1, a.getADSRVolume());
}
} // namespace
