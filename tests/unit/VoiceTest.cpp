// Voices through the SPU's registers: pitch, loop flags, end flags, IRQ hits, noise,
// pitch modulation, fine tuning.

#include "SpuUnderTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace
{
class VoiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model::Spu m;
        spu_test::resetLike(m);
        theSPU.writeRegister(0x1F801D80, 0x3FFF);
        theSPU.writeRegister(0x1F801D82, 0x3FFF);
    }
    void TearDown() override
    {
        Voice::ConfigFinetune = 0;
        Voice::ConfigSPUIRQForceInterruptFlag7 = 0;
    }

    static void putBlocks(int unit, const std::vector<unsigned short>& words)
    {
        theSPU.writeRegister(0x1F801DA6, static_cast<unsigned short>(unit));
        std::vector<unsigned short> copy = words;
        theSPU.writeDMAMemory(copy.data(), static_cast<int>(copy.size()));
    }
    // One block, filter 0 shift 4 (samples of nibble * 256), with loop flags.
    static std::vector<unsigned short> flatBlock(int flags, int nibble)
    {
        const unsigned short n = static_cast<unsigned short>(nibble & 0xF);
        const unsigned short w = static_cast<unsigned short>(n | n << 4 | n << 8 | n << 12);
        return {static_cast<unsigned short>(flags << 8 | 0x04), w, w, w, w, w, w, w};
    }
    static void voice(int k, int reg, unsigned short value)
    {
        theSPU.writeRegister(0x1F801C00 + 16 * k + reg, value);
    }
    static void frame(short& l, short& r) { theSPU.playSound(l, r); }
    Voice& v(int k) { return theSPU.getVoice(k); }
};

TEST_F(VoiceTest, PitchOneSourceSamplePerOutputSample)
{
    putBlocks(0x200, flatBlock(0, 1));
    voice(0, 0x4, 0x1000);
    voice(0, 0x6, 0x200);
    theSPU.writeRegister(0x1F801D88, 1);
    short l, r;
    // Key-on starts at the block's first sample (0x1000): the first block change
    // comes with the 27th sample, then every 28.
    for (int i = 0; i < 26; ++i)
        frame(l, r);
    EXPECT_EQ(0x200, v(0).getCurrentAddress());
    frame(l, r);
    EXPECT_EQ(0x202, v(0).getCurrentAddress());
    EXPECT_EQ(0, v(0).getPosition());
    for (int i = 0; i < 27; ++i)
        frame(l, r);
    EXPECT_EQ(0x202, v(0).getCurrentAddress());
    frame(l, r);
    EXPECT_EQ(0x204, v(0).getCurrentAddress());
}

TEST_F(VoiceTest, PitchAboveFourteenBitsPlaysAtTheLimit)
{
    putBlocks(0x200, flatBlock(0, 1));
    voice(0, 0x4, 0x4000);
    voice(0, 0x6, 0x200);
    voice(1, 0x4, 0xFFFF);
    voice(1, 0x6, 0x200);
    theSPU.writeRegister(0x1F801D88, 3);
    EXPECT_EQ(0x4000, theSPU.readRegister(0x1F801C04));
    short l, r;
    frame(l, r);
    EXPECT_EQ(0x1000 + 0x3FFF, v(0).getPosition());
    EXPECT_EQ(0x1000 + 0x3FFF, v(1).getPosition());
}

TEST_F(VoiceTest, OneShotBlockStopsAndWalksOnSilently)
{
    putBlocks(0x200, flatBlock(1, 1));
    voice(0, 0x0, 0x3FFF);
    voice(0, 0x2, 0x3FFF);
    voice(0, 0x4, 0x1000);
    voice(0, 0x6, 0x200);
    voice(0, 0xE, 0x300);
    voice(0, 0x8, 0x000F); // fastest attack, sustain at top
    theSPU.writeRegister(0x1F801D88, 1);
    EXPECT_EQ(1, theSPU.readRegister(0x1F801D9C) & 1); // the header is read at key-on
    short l = 0, r = 0;
    int heard = 0;
    for (int i = 0; i < 26; ++i)
    {
        frame(l, r);
        heard += l != 0;
    }
    EXPECT_EQ(26, heard);
    frame(l, r); // the advance that leaves the block stops the envelope first
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, theSPU.readRegister(0x1F801C0C));
    EXPECT_EQ(0x300, v(0).getCurrentAddress());
    frame(l, r);
    EXPECT_EQ(0, l);
}

TEST_F(VoiceTest, LoopStartBeforeKeyOnSetsTheRepeatAddress)
{
    putBlocks(0x200, flatBlock(4, 1));
    voice(0, 0x6, 0x200);
    voice(0, 0xE, 0x1234);
    theSPU.writeRegister(0x1F801D88, 1);
    EXPECT_EQ(0x200, theSPU.readRegister(0x1F801C0E));
}

TEST_F(VoiceTest, ParkedVoiceCountsOneHitPerSampleAndOneOnLeavingTheSecondHalf)
{
    putBlocks(0x200, flatBlock(0, 1));
    voice(0, 0x4, 0x0200); // one block lasts 224 samples
    voice(0, 0x6, 0x200);
    theSPU.writeRegister(0x1F801DA4, 0x200);
    theSPU.writeRegister(0x1F801D88, 1);
    short l, r;
    for (int i = 0; i < 10; ++i)
        frame(l, r);
    EXPECT_EQ(10, Voice::getSpuIRQCount());

    Voice::resetSpuIRQCount();
    theSPU.writeRegister(0x1F801DA4, 0x201);
    for (int i = 0; i < 300; ++i)
        frame(l, r);
    EXPECT_EQ(1, Voice::getSpuIRQCount());
}

TEST_F(VoiceTest, FlagSevenAddsAHitWhenForced)
{
    Voice::ConfigSPUIRQForceInterruptFlag7 = 1;
    putBlocks(0x200, flatBlock(7, 1));
    voice(0, 0x4, 0x1000);
    voice(0, 0x6, 0x200);
    theSPU.writeRegister(0x1F801DA4, 0x201);
    theSPU.writeRegister(0x1F801D88, 1);
    short l, r;
    for (int i = 0; i < 28; ++i)
        frame(l, r);
    EXPECT_EQ(2, Voice::getSpuIRQCount()); // second half, then the flag-7 extra
    Voice::ConfigSPUIRQForceInterruptFlag7 = 0;
    Voice::resetSpuIRQCount();
    for (int i = 0; i < 28; ++i)
        frame(l, r);
    EXPECT_EQ(1, Voice::getSpuIRQCount());
}

TEST_F(VoiceTest, NoiseWithClockZeroIsTheRegistersUpperHalf)
{
    Voice::NoiseClock = 0;
    Voice::NoiseState = 0x12345678;
    Voice::UpdateNoise();
    EXPECT_EQ(0x1234, Voice::getCurrentNoiseValue());
    Voice::NoiseState = static_cast<int>(0xFEDC0000u);
    EXPECT_EQ(static_cast<short>(0xFEDC), Voice::getCurrentNoiseValue());
}

TEST_F(VoiceTest, NoiseShiftsOnClockOutOfEveryTwoToTheNineteenSamples)
{
    theSPU.writeRegister(0x1F801DAA, 0x0000); // clock 16
    Voice::NoiseState = 1;
    Voice::NoiseCount = 0;
    int shifts = 0;
    for (int i = 0; i < (1 << 19); ++i)
    {
        const unsigned int before = static_cast<unsigned int>(Voice::NoiseState);
        Voice::UpdateNoise();
        shifts += static_cast<unsigned int>(Voice::NoiseState) != before;
    }
    EXPECT_EQ(16, shifts);
    // The first shift happens at count 0 (reversed 0 < 16): 1 -> (1 << 1) | 1.
    Voice::NoiseState = 1;
    Voice::NoiseCount = 0;
    Voice::UpdateNoise();
    EXPECT_EQ(3, Voice::NoiseState);
}

TEST_F(VoiceTest, NoiseCounterWrapsWithoutOverflow)
{
    Voice::NoiseCount = 0x7FFFFFFF;
    Voice::UpdateNoise();
    Voice::UpdateNoise();
    EXPECT_EQ(static_cast<int>(0x80000001u), Voice::NoiseCount);
}

TEST_F(VoiceTest, ControlBitsSetTheNoiseClock)
{
    theSPU.writeRegister(0x1F801DAA, 0x3F00);
    EXPECT_EQ(7 << 17, Voice::NoiseClock);
    theSPU.writeRegister(0x1F801DAA, 0x0100);
    EXPECT_EQ(5 << 2, Voice::NoiseClock);
}

TEST_F(VoiceTest, ModulationOnVoiceZeroDoesNothing)
{
    putBlocks(0x200, flatBlock(0, 7));
    voice(0, 0x4, 0x0800);
    voice(0, 0x6, 0x200);
    theSPU.writeRegister(0x1F801D90, 1);
    theSPU.writeRegister(0x1F801D88, 1);
    short l, r;
    frame(l, r);
    EXPECT_EQ(0x1800, v(0).getPosition());
}

TEST_F(VoiceTest, ModulationReadsThePreviousVoiceAfterItsEnvelope)
{
    putBlocks(0x200, flatBlock(0, 7));
    voice(0, 0x4, 0x1000);
    voice(0, 0x6, 0x200);
    voice(0, 0x0, 0x0000); // the modulator is silent in the mix
    voice(1, 0x4, 0x0800);
    voice(1, 0x6, 0x200);
    theSPU.writeRegister(0x1F801D90, 2);
    theSPU.writeRegister(0x1F801D88, 3);
    short l, r;
    for (int i = 0; i < 5; ++i)
        frame(l, r);
    const int x = v(0).getCurrentOutX();
    ASSERT_NE(0, x);
    const int before = v(1).getPosition();
    frame(l, r);
    const int xNow = v(0).getCurrentOutX();
    const int m = 0x0800 * xNow;
    EXPECT_EQ(before + std::min(0x3FFF, 0x0800 + ((m - (m >> 8)) >> 15)), v(1).getPosition());
}

TEST_F(VoiceTest, FineTuningScalesThePitchButNotTheRegister)
{
    Voice::ConfigFinetune = 360;
    Voice::ConfigFinetuneRate = 262136; // three octaves up
    voice(3, 0x4, 0xFFFF);
    EXPECT_EQ(0xFFFF, theSPU.readRegister(0x1F801C34));
    EXPECT_EQ(static_cast<int>((0xFFFFLL * 262136) >> 15), v(3).getPitch());
    Voice::ConfigFinetune = 120;
    Voice::ConfigFinetuneRate = 65534;
    voice(3, 0x4, 0xFFFF);
    EXPECT_EQ(static_cast<int>((0xFFFFLL * 65534) >> 15), v(3).getPitch());
    EXPECT_GT(v(3).getPitch(), 0);
}

TEST_F(VoiceTest, VoiceWalksOffTheEndOfSoundRamToAddressZero)
{
    putBlocks(0xFFFE, flatBlock(0, 1));
    voice(0, 0x4, 0x3FFF);
    voice(0, 0x6, 0xFFFF);
    theSPU.writeRegister(0x1F801D88, 1);
    EXPECT_EQ(0xFFFE, v(0).getCurrentAddress());
    short l, r;
    for (int i = 0; i < 8; ++i)
        frame(l, r);
    EXPECT_EQ(0, v(0).getCurrentAddress());
}

TEST_F(VoiceTest, EndFlagWriteStopsTheEnvelope)
{
    putBlocks(0x200, flatBlock(0, 3));
    voice(5, 0x4, 0x1000);
    voice(5, 0x6, 0x200);
    theSPU.writeRegister(0x1F801D88, 1 << 5);
    EXPECT_EQ(0, theSPU.readRegister(0x1F801D9C) & (1 << 5));
    short l, r;
    frame(l, r);
    theSPU.writeRegister(0x1F801D9C, 1 << 5);
    EXPECT_EQ(1 << 5, theSPU.readRegister(0x1F801D9C) & (1 << 5));
    frame(l, r);
    EXPECT_EQ(0, theSPU.readRegister(0x1F801C5C));
}
} // namespace

namespace
{
// The noise register shifts exactly when the 20-bit reversal of count * 2 is below
// the clock: checked sample by sample against a plain bit-by-bit reversal.
TEST(VoiceNoiseTest, ShiftsExactlyWhenTheReversedCounterIsBelowTheClock)
{
    for (int clock : {16, 20, 1000, 0x40000, 0x7FFFF, 0x80000})
    {
        Voice::NoiseClock = clock;
        Voice::NoiseCount = 0x7FF00;
        Voice::NoiseState = 0x1234567;
        for (int i = 0; i < 4096; ++i)
        {
            const unsigned int c = (static_cast<unsigned int>(Voice::NoiseCount) * 2) & 0xFFFFF;
            unsigned int r = 0;
            for (int bit = 0; bit < 20; ++bit)
                r |= ((c >> bit) & 1) << (19 - bit);
            const unsigned int before = static_cast<unsigned int>(Voice::NoiseState);
            Voice::UpdateNoise();
            const bool shifted = static_cast<unsigned int>(Voice::NoiseState) != before;
            const bool expected = static_cast<int>(r) < clock;
            if (expected)
                ASSERT_EQ((before << 1 | (((before >> 31) ^ (before >> 21) ^ (before >> 1) ^ before) & 1)),
                          static_cast<unsigned int>(Voice::NoiseState));
            else
                ASSERT_FALSE(shifted) << "clock " << clock << " sample " << i;
        }
    }
}

// The block renderer's noise: the same states as a frame at a time, across the
// counter's 19-bit and 32-bit wraps and block lengths that end anywhere.
TEST(VoiceNoiseTest, BlocksGiveTheValuesOfSingleSteps)
{
    for (int clock : {16, 1000, 0x40000, 0x80000})
        for (unsigned int start : {0u, 0x7FF00u, 0x3FFF0u, 0xFFFFFF00u, 0x7FFFFFF0u})
        {
            Voice::NoiseClock = clock;
            Voice::NoiseCount = static_cast<int>(start);
            Voice::NoiseState = 0x1234567;
            std::vector<int> want;
            for (int i = 0; i < 3000; ++i)
            {
                Voice::UpdateNoise();
                want.push_back(Voice::getCurrentNoiseValue());
            }
            const int wantCount = Voice::NoiseCount, wantState = Voice::NoiseState;

            Voice::NoiseCount = static_cast<int>(start);
            Voice::NoiseState = 0x1234567;
            std::vector<int> got(3000);
            for (int done = 0, length = 1; done < 3000; done += length, length = length * 3 % 257 + 1)
                Voice::UpdateNoise(std::min(length, 3000 - done), got.data() + done);
            EXPECT_EQ(want, got) << "clock " << clock << " from " << start;
            EXPECT_EQ(wantCount, Voice::NoiseCount);
            EXPECT_EQ(wantState, Voice::NoiseState);
        }
}
} // namespace
