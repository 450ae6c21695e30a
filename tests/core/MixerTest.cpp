// The mixer: main volume scale, saturation, reverb output volume and the reverb switch.

#include "reverb/Reverb.h"
#include "synth/Mixer.h"

#include <gtest/gtest.h>

namespace
{
class MixerTest : public ::testing::Test
{
protected:
    void SetUp() override { Reverb::ConfigReverbType = 0; }
};

TEST_F(MixerTest, FullScaleVoiceAtTopVolumeComesOutAs32765)
{
    Mixer m;
    m.setMainVolumeL(0x3FFF);
    m.setMainVolumeR(0x3FFF);
    m.mixSound(32767, -32768, 0);
    short l, r;
    m.getMixSound(l, r);
    EXPECT_EQ(32765, l);
    EXPECT_EQ(-32766, r);
}

TEST_F(MixerTest, NothingMixedIsSilenceWhateverTheVolume)
{
    Mixer m;
    m.setMainVolumeL(0x4000);
    m.setMainVolumeR(0x8000);
    short l = 1, r = 1;
    for (int i = 0; i < 5; ++i)
        m.getMixSound(l, r);
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, r);
}

TEST_F(MixerTest, NegativeMainVolumeInverts)
{
    Mixer m;
    m.setMainVolumeL(0x4000);
    m.mixSound(1000, 0, 0);
    short l, r;
    m.getMixSound(l, r);
    EXPECT_EQ(-1000, l);
}

TEST_F(MixerTest, SumsSaturateEvenBeyondThirtyTwoBits)
{
    Mixer m;
    m.setMainVolumeL(0x3FFF);
    m.setMainVolumeR(0x4000);
    for (int i = 0; i < 24 * 5; ++i)
        m.mixSound(32767 * 8, 32767 * 8, 0); // sum near 2^27: times 0x3FFF passes 2^31
    short l, r;
    m.getMixSound(l, r);
    EXPECT_EQ(32767, l);
    EXPECT_EQ(-32768, r);
    // The sums were cleared.
    m.getMixSound(l, r);
    EXPECT_EQ(0, l);
}

TEST_F(MixerTest, ReverbVolumeRegisterDropsBitFifteen)
{
    Mixer m;
    m.setReverbVolumeL(0xC000);
    m.setReverbVolumeR(0x7FFF);
    EXPECT_EQ(0x4000, m.getReverbVolumeL());
    EXPECT_EQ(0x7FFF, m.getReverbVolumeR());
}

TEST_F(MixerTest, ReverbSelectorZeroAddsNothingAndOthersPassTheSend)
{
    Mixer m;
    m.setMainVolumeL(0x3FFF);
    m.setMainVolumeR(0x3FFF);
    m.setReverbVolumeL(0xC000); // 0x4000: half
    m.setReverbVolumeR(0x4000);
    m.setControlReverbEnabled(1);
    short l, r;
    m.mixSound(1000, 2000, 1);
    m.getMixSound(l, r);
    EXPECT_EQ(999, l); // (1000 * 0x3FFF) >> 14
    EXPECT_EQ(1999, r);

    Reverb::ConfigReverbType = 1000; // outside the table: the send passes through
    m.mixSound(1000, 2000, 1);
    m.getMixSound(l, r);
    EXPECT_EQ((1500LL * 0x3FFF) >> 14, l);
    EXPECT_EQ((3000LL * 0x3FFF) >> 14, r);

    m.setControlReverbEnabled(0);
    m.mixSound(1000, 2000, 1);
    m.getMixSound(l, r);
    EXPECT_EQ(999, l);
}
} // namespace
