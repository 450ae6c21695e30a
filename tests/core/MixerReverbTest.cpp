#include "synth/Mixer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace
{
struct MixerReverbFixture : ::testing::Test
{
    std::unique_ptr<Mixer> mixer{new Mixer()};
    std::vector<unsigned short> ram = std::vector<unsigned short>(0x40000, 0);

    void SetUp() override
    {
        mixer->setSoundBuffer(ram.data());
        mixer->setMainVolumeL(0x3FFF);
        mixer->setMainVolumeR(0x3FFF);
    }
    void TearDown() override { Reverb::ConfigReverbType = 0; }
    void frame(int l, int r, int reverbOn, short& outL, short& outR)
    {
        mixer->mixSound(l, r, reverbOn);
        mixer->getMixSound(outL, outR);
    }
};
} // namespace

TEST_F(MixerReverbFixture, ReturnIsAddedAtTheReverbVolume)
{
    Reverb::ConfigReverbType = 5; // passes the send through as the return
    mixer->setControlReverbEnabled(1);
    mixer->setReverbVolumeL(0x4000);
    mixer->setReverbVolumeR(0xC000); // bit 15 set: 0x4000 as well
    short l, r;
    frame(1000, -1000, 1, l, r);
    EXPECT_EQ(1499, l); // (1000 + 500) x 0x3FFF >> 14
    EXPECT_EQ(-1500, r);
}

TEST_F(MixerReverbFixture, OffSelectorAndDisabledReverbAddNothing)
{
    Reverb::ConfigReverbType = 0;
    mixer->setControlReverbEnabled(1);
    mixer->setReverbVolumeL(0x7FFF);
    mixer->setReverbVolumeR(0x7FFF);
    short l, r;
    frame(1000, 1000, 1, l, r);
    EXPECT_EQ(999, l);
    Reverb::ConfigReverbType = 5;
    mixer->setControlReverbEnabled(0);
    frame(1000, 1000, 1, l, r);
    EXPECT_EQ(999, l);
}

TEST_F(MixerReverbFixture, DisabledReverbLeavesTheUnitUntouched)
{
    Reverb::ConfigReverbType = 99; // the echo: a send comes back 4096 samples later
    mixer->setReverbVolumeL(0x7FFF);
    mixer->setReverbVolumeR(0x7FFF);
    mixer->setControlReverbEnabled(0);
    short l, r;
    frame(20000, 20000, 1, l, r);
    mixer->setControlReverbEnabled(1);
    for (int i = 0; i < 8200; ++i)
    {
        frame(0, 0, 0, l, r);
        ASSERT_EQ(0, l) << i;
        ASSERT_EQ(0, r) << i;
    }
}

TEST_F(MixerReverbFixture, EchoOfTheSendIsHeardAfter4096Samples)
{
    Reverb::ConfigReverbType = 99;
    mixer->setReverbVolumeL(0x7FFF);
    mixer->setReverbVolumeR(0x7FFF);
    mixer->setControlReverbEnabled(1);
    short l, r;
    frame(1000, 0, 1, l, r);
    for (int i = 1; i < 4096; ++i)
        frame(0, 0, 0, l, r);
    frame(0, 0, 0, l, r);
    EXPECT_EQ(((375 * 0x7FFF) >> 15) * 0x3FFF >> 14, l); // 374 x 0x3FFF >> 14
    EXPECT_EQ(((187 * 0x7FFF) >> 15) * 0x3FFF >> 14, r);
}

TEST_F(MixerReverbFixture, LoudReturnTimesVolumeSaturatesInsteadOfWrapping)
{
    Reverb::ConfigReverbType = 5;
    mixer->setControlReverbEnabled(1);
    mixer->setReverbVolumeL(0x7FFF);
    mixer->setReverbVolumeR(0x7FFF);
    short l, r;
    frame(0x40000000, -0x40000000, 1, l, r);
    EXPECT_EQ(32767, l);
    EXPECT_EQ(-32768, r);
}
