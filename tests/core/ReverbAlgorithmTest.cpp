#include "reverb/Reverb.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
struct AlgorithmFixture : ::testing::Test
{
    std::unique_ptr<Reverb> reverb{new Reverb()};
    unsigned short regs[32] = {};
};
} // namespace

TEST(TimidityConstantTest, IntegerTwinsAreTheValuesTimes256Truncated)
{
    EXPECT_EQ(8, Reverb::BAI_S);
    EXPECT_EQ(1356, Reverb::REV_VAL0__);
    EXPECT_EQ(2688, Reverb::REV_VAL1__);
    EXPECT_EQ(11294, Reverb::REV_VAL2__);
    EXPECT_EQ(5376, Reverb::REV_VAL3__);
    EXPECT_EQ(140, Reverb::REV_INP_LEV__);
    EXPECT_EQ(230, Reverb::REV_FBK_LEV__);
    EXPECT_EQ(217, Reverb::REV_NMIX_LEV__);
    EXPECT_EQ(230, Reverb::REV_CMIX_LEV__);
    EXPECT_EQ(179, Reverb::REV_MONO_LEV__);
    EXPECT_EQ(179, Reverb::REV_HPF_LEV__);
    EXPECT_EQ(115, Reverb::REV_LPF_LEV__);
    EXPECT_EQ(140, Reverb::REV_LPF_INP__);
    EXPECT_EQ(102, Reverb::REV_EPF_LEV__);
    EXPECT_EQ(128, Reverb::REV_EPF_INP__);
    EXPECT_EQ(32, Reverb::REV_WIDTH__);
}

TEST_F(AlgorithmFixture, TimidityLengthsAllZeroRegistersAreOne)
{
    reverb->setReverb(regs);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(1, reverb->getTmLength(k)) << k;
}

TEST_F(AlgorithmFixture, TimidityLengthsFollowTheRoomPreset)
{
    std::copy(Reverb::Presets[1].registers, Reverb::Presets[1].registers + 32, regs);
    reverb->setReverb(regs);
    EXPECT_EQ(172, reverb->getTmLength(0));
    EXPECT_EQ(340, reverb->getTmLength(1));
    EXPECT_EQ(1427, reverb->getTmLength(2));
    EXPECT_EQ(679, reverb->getTmLength(3));
}

TEST_F(AlgorithmFixture, TimidityLengthsAreCappedWithTheSizeSum)
{
    for (int n = 8; n <= 29; ++n)
        regs[n] = 0xFFFF;
    reverb->setReverb(regs);
    EXPECT_EQ(935, reverb->getTmLength(0));
    EXPECT_EQ(1853, reverb->getTmLength(1));
    EXPECT_EQ(7783, reverb->getTmLength(2));
    EXPECT_EQ(3705, reverb->getTmLength(3));
    // Just at the cap: 278528 = 22 x 12660 + 8; the lengths are the same.
    for (int n = 8; n <= 29; ++n)
        regs[n] = 12660;
    regs[8] += 8;
    reverb->setReverb(regs);
    EXPECT_EQ(7783, reverb->getTmLength(2));
}

TEST_F(AlgorithmFixture, TimidityRestartsFromSilenceOnAnyRegisterWrite)
{
    reverb->setReverb(regs);
    int l = 20000, r = 20000;
    for (int i = 0; i < 5; ++i)
    {
        l = r = 20000;
        reverb->doReverbTmidity(l, r);
    }
    ASSERT_NE(0, l);         // with single-cell delays the input comes back quickly
    reverb->setReverb(regs); // same values as before
    l = r = 0;
    reverb->doReverbTmidity(l, r);
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, r);
}

TEST_F(AlgorithmFixture, EchoRepeatsAfter4096SamplesAtThreeQuarters)
{
    reverb->setReverb(regs);
    int l = 1000, r = 0;
    reverb->doReverbDizivad(l, r);
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, r);
    for (int i = 1; i < 4096; ++i)
    {
        l = r = 0;
        reverb->doReverbDizivad(l, r);
        ASSERT_EQ(0, l) << i;
        ASSERT_EQ(0, r) << i;
    }
    l = r = 0;
    reverb->doReverbDizivad(l, r);
    EXPECT_EQ(375, l);
    EXPECT_EQ(187, r);
}

TEST_F(AlgorithmFixture, EchoIsClearedByARegisterWrite)
{
    reverb->setReverb(regs);
    int l = 1000, r = 1000;
    reverb->doReverbDizivad(l, r);
    reverb->setReverb(regs);
    for (int i = 0; i < 4097; ++i)
    {
        l = r = 0;
        reverb->doReverbDizivad(l, r);
        ASSERT_EQ(0, l);
        ASSERT_EQ(0, r);
    }
}

TEST_F(AlgorithmFixture, EchoWrapsLoudFeedbackToThirtyTwoBits)
{
    reverb->setReverb(regs);
    int l = INT32_MAX, r = INT32_MIN;
    reverb->doReverbDizivad(l, r);
    for (int i = 1; i < 4096; ++i)
    {
        l = r = 0;
        reverb->doReverbDizivad(l, r);
    }
    l = r = 0;
    reverb->doReverbDizivad(l, r);
    // 0x7FFFFFFF x 192 wraps to -192, so A = -192 >> 8 = -1 and the cross term -192 >> 9 = -1;
    // INT32_MIN x 192 wraps to 0, so B = 0. Wider arithmetic would return about 8e8.
    EXPECT_EQ(-1, l); // (A + 0) >> 1
    EXPECT_EQ(-1, r); // (B + -1) >> 1
}

TEST_F(AlgorithmFixture, CombBankLongDelayLengthIsCapped)
{
    regs[0] = 0x0400;
    regs[1] = 0x03FF;
    reverb->setReverb(regs);
    EXPECT_EQ(16383, reverb->getLongDelayLengthL());
    EXPECT_EQ(16368, reverb->getLongDelayLengthR());
}

TEST_F(AlgorithmFixture, CombBankInputGainIsTwoThirdsOfTheProduct)
{
    regs[3] = regs[30] = 0x7FFF;
    regs[4] = 0x8000; // -32768
    regs[31] = 0x7FFF;
    reverb->setReverb(regs);
    EXPECT_EQ(21844, reverb->getCombGainL());
    EXPECT_EQ(-21844, reverb->getCombGainR()); // (-32768 x 32767) >> 15 = -32767, x 2 / 3 truncated
}

TEST_F(AlgorithmFixture, CombLineLengthsAboveTheLineAreClampedToIt)
{
    regs[10] = 0xFFFF;
    regs[12] = 8193;
    regs[14] = 8192;
    regs[16] = 8191;
    reverb->setReverb(regs);
    EXPECT_EQ(8192, reverb->getCombLineLength(0));
    EXPECT_EQ(8192, reverb->getCombLineLength(1));
    EXPECT_EQ(8192, reverb->getCombLineLength(2));
    EXPECT_EQ(8191, reverb->getCombLineLength(3));
    EXPECT_EQ(0, reverb->getCombLineLength(4));
    // Runs through every position of the longest lines without leaving them.
    regs[7] = 0xFFFF;
    regs[2] = 0x4000;
    regs[3] = regs[30] = 0x7FFF;
    reverb->setReverb(regs);
    for (int i = 0; i < 3 * 8192; ++i)
    {
        int l = 30000, r = -30000;
        reverb->doReverbDizivad2(l, r);
        ASSERT_GE(l, -32768);
        ASSERT_LE(l, 32767);
    }
}

TEST_F(AlgorithmFixture, CombBankImpulseComesBackAfterTheLineLength)
{
    regs[2] = 0x7FFF; // g: the low-pass passes the input
    regs[3] = regs[30] = 0x7FFF;
    regs[7] = 0x8000; // f = 1/2
    regs[10] = 5;     // one line of 5 entries
    reverb->setReverb(regs);
    int l = 3000, r = 0;
    reverb->doReverbDizivad2(l, r);
    EXPECT_EQ(0, l);
    // pL = (3000 x 32767) >> 15 = 2999; xL = (2999 x 21844) >> 15 = 1999;
    // the entry becomes (1999 x 32768) >> 16 = 999 and is heard 5 samples later;
    // meanwhile the low-pass keeps (0 x 32767 + 0 x 2999) >> 15 = 0 of the input.
    for (int i = 1; i < 5; ++i)
    {
        l = r = 0;
        reverb->doReverbDizivad2(l, r);
        ASSERT_EQ(0, l) << i;
    }
    l = r = 0;
    reverb->doReverbDizivad2(l, r);
    EXPECT_EQ(999, l);
    EXPECT_EQ(0, r);
}

TEST_F(AlgorithmFixture, FreeverbRoomSizeIsFixedAfterAnyRegisterWrite)
{
    const float expected = static_cast<float>(2311 / 12295.0 + 0.3f);
    EXPECT_NEAR(0.48796260, expected, 1e-8);
    reverb->setReverb(regs);
    EXPECT_FLOAT_EQ(expected, reverb->getFreeverb().getroomsize());
    for (int p = 0; p < Reverb::PresetCount; ++p)
    {
        std::copy(Reverb::Presets[p].registers, Reverb::Presets[p].registers + 32, regs);
        reverb->setReverb(regs);
        EXPECT_FLOAT_EQ(expected * 0.28f + 0.7f, reverb->getFreeverb().getcomb(0, 0).getfeedback()) << p;
        EXPECT_NEAR(0.83662951, reverb->getFreeverb().getcomb(1, 7).getfeedback(), 1e-7) << p;
    }
}
