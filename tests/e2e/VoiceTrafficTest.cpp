// What the register traffic alone tells of the voices: key-ons and the spans they
// start, the samples, the pitches while keyed, the modes.

#include "spuhost/VoiceTraffic.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace
{
const unsigned long Base = 0x1F801C00;

unsigned long voiceRegister(int voice, int offset)
{
    return Base + 16 * static_cast<unsigned long>(voice) + static_cast<unsigned long>(offset);
}

TEST(VoiceTrafficTest, KeyOnsStartSpansThatKeyOffsEndAndTheEndCloses)
{
    VoiceTraffic traffic;
    traffic.write(10, 0x1F801D88, 0x0005); // voices 0 and 2
    traffic.write(50, 0x1F801D8C, 0x0001); // 0 off
    traffic.write(60, 0x1F801D8C, 0x0001); // off again: nothing to end
    traffic.write(70, 0x1F801D88, 0x0004); // 2 again while keyed: a new span
    traffic.write(80, 0x1F801D8A, 0x0080); // voice 23, in the high word
    traffic.write(90, 0x1F801D8E, 0x0080);
    traffic.finish(200);

    const VoiceTraffic::Voice& v0 = traffic.voice(0);
    ASSERT_EQ(1u, v0.keyOns());
    EXPECT_EQ(10u, v0.spans[0].on);
    EXPECT_EQ(50u, v0.spans[0].off);
    const VoiceTraffic::Voice& v2 = traffic.voice(2);
    ASSERT_EQ(2u, v2.keyOns());
    ASSERT_EQ(2u, v2.spans.size());
    EXPECT_EQ(70u, v2.spans[0].off) << "a key-on of a keyed voice ends its span";
    EXPECT_EQ(70u, v2.spans[1].on);
    EXPECT_EQ(200u, v2.spans[1].off) << "still keyed at the end";
    ASSERT_EQ(1u, traffic.voice(23).keyOns());
    EXPECT_EQ(80u, traffic.voice(23).spans[0].on);
    EXPECT_EQ(90u, traffic.voice(23).spans[0].off);
    EXPECT_EQ(0u, traffic.voice(1).keyOns());
    EXPECT_EQ(0u, traffic.voice(16).keyOns()) << "bit 0 of the high word is voice 16, not written";
    EXPECT_EQ(200u, traffic.duration());
}

TEST(VoiceTrafficTest, SamplesPitchesAndModesAreThoseInForceWhileKeyed)
{
    uint16_t start[VoiceTraffic::RegisterCount] = {};
    start[(16 * 3 + 4) / 2] = 0x0800; // voice 3's pitch and sample, from a snapshot
    start[(16 * 3 + 6) / 2] = 0x0200;
    start[(0x1D94 - 0x1C00) / 2] = 0x0008; // voice 3 on noise
    VoiceTraffic traffic(start);
    traffic.write(0, voiceRegister(3, 0x4), 0x0400); // before the key-on: not heard
    traffic.write(0, voiceRegister(3, 0x4), 0x0800);
    traffic.write(5, 0x1F801D88, 0x0008);
    traffic.write(6, voiceRegister(3, 0x4), 0x2000); // a slide while keyed
    traffic.write(7, voiceRegister(3, 0x6), 0x0300); // the next key-on's sample
    traffic.write(8, 0x1F801D88, 0x0008);
    traffic.write(9, 0x1F801D88, 0x0008); // the same sample again
    traffic.write(10, 0x1F801D8C, 0x0008);
    traffic.write(11, voiceRegister(3, 0x4), 0x3FFF); // after the key-off: not heard
    traffic.write(12, 0x1F801D98, 0x0008);            // reverb once it is off: not its
    traffic.finish(20);

    const VoiceTraffic::Voice& v = traffic.voice(3);
    ASSERT_EQ(2u, v.startAddresses.size());
    EXPECT_EQ(0x1000u, v.startAddresses[0]) << "8-byte units";
    EXPECT_EQ(0x1800u, v.startAddresses[1]);
    EXPECT_EQ(0x0800, v.lowestPitch);
    EXPECT_EQ(0x2000, v.highestPitch);
    EXPECT_TRUE(v.noise) << "from the snapshot's noise register";
    EXPECT_FALSE(v.reverb);
    EXPECT_FALSE(v.heard) << "no volume was ever set";
    EXPECT_DOUBLE_EQ(44100.0, VoiceTraffic::pitchHz(0x1000));
    EXPECT_DOUBLE_EQ(88200.0, VoiceTraffic::pitchHz(0x2000));
}

TEST(VoiceTrafficTest, ModulationOfVoiceZeroAndMirrorAddresses)
{
    VoiceTraffic traffic;
    traffic.write(0, 0x1F801D90, 0x0003);     // FM bits of voices 0 and 1
    traffic.write(0, 0x9F801C10 + 2, 0x1000); // voice 1's right volume, through a mirror
    traffic.write(0, 0x1F801D88, 0x0003);
    traffic.write(4, 0x1F802000, 0xFFFF); // outside the window: nothing
    traffic.cdInput(3);
    traffic.cdInput(9);
    traffic.finish(10);
    EXPECT_FALSE(traffic.voice(0).modulated) << "voice 0 has no voice before it";
    EXPECT_TRUE(traffic.voice(1).modulated);
    EXPECT_TRUE(traffic.voice(1).heard);
    EXPECT_FALSE(traffic.voice(0).heard);
    EXPECT_EQ(2u, traffic.cdInputs());
    EXPECT_EQ(3u, traffic.firstCdInput());
    EXPECT_EQ(9u, traffic.lastCdInput());
    for (int v = 2; v < VoiceTraffic::Voices; ++v)
        EXPECT_EQ(0u, traffic.voice(v).keyOns()) << v;
}
} // namespace
