#include "reverb/Reverb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace
{
// A Reverb is large (its delay lines are members), so tests keep it on the heap.
struct HardwareFixture : ::testing::Test
{
    std::unique_ptr<Reverb> reverb{new Reverb()};
    std::vector<unsigned short> ram = std::vector<unsigned short>(0x40000, 0);
    unsigned short regs[32] = {};

    void SetUp() override
    {
        reverb->setSoundBuffer(ram.data());
        Reverb::ConfigReverbType = 4;
    }
    void TearDown() override { Reverb::ConfigReverbType = 0; }
    void call(int& l, int& r) { reverb->doReverbBraskTolvin(l, r); }
};
} // namespace

TEST_F(HardwareFixture, StartAddressIsInEightByteUnits)
{
    reverb->setStartAddress(0xF6F8);
    EXPECT_EQ(0xF6F8 * 4, reverb->getStartAddress());
    EXPECT_EQ(0xF6F8 * 4, reverb->getCurrentAddress());
}

TEST_F(HardwareFixture, FirstCallOnlyStoresTheSend)
{
    const Reverb::Preset& room = Reverb::Presets[1];
    std::copy(room.registers, room.registers + 32, regs);
    reverb->setReverb(regs);
    reverb->setStartAddress(room.start);
    const std::vector<unsigned short> before = ram;

    int l = 12000, r = -9000;
    call(l, r);
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, r);
    EXPECT_EQ(before, ram);
    EXPECT_EQ(room.start * 4, reverb->getCurrentAddress());

    l = 12000;
    r = -9000;
    call(l, r);
    EXPECT_NE(before, ram);
    EXPECT_EQ(room.start * 4 + 1, reverb->getCurrentAddress());
}

TEST_F(HardwareFixture, AllZeroRegistersCopyTheCurrentWordAheadAndReturnIt)
{
    reverb->setReverb(regs);
    reverb->setStartAddress(0x1000);
    const int start = 0x4000;
    ram[start] = 1234;

    int l = 30000, r = -30000; // the send plays no part with all gains 0
    call(l, r);
    EXPECT_EQ(0, l);
    l = 30000;
    r = -30000;
    call(l, r);
    EXPECT_EQ(617, l); // half of the first computed value
    EXPECT_EQ(617, r);
    EXPECT_EQ(1234, ram[start]);
    EXPECT_EQ(1234, ram[start + 1]);

    l = r = 5;
    call(l, r);
    EXPECT_EQ(1234, l); // the even call repeats the last return
    EXPECT_EQ(1234, r);
    l = r = 5;
    call(l, r);
    EXPECT_EQ(1234, l);
    EXPECT_EQ(1234, ram[start + 2]);
}

TEST_F(HardwareFixture, ResetRegistersAndClearedRamReturnSilence)
{
    reverb->setReverb(regs);
    reverb->setStartAddress(0);
    for (int i = 0; i < 200; ++i)
    {
        int l = 20000 - i * 100, r = i * 77;
        call(l, r);
        ASSERT_EQ(0, l);
        ASSERT_EQ(0, r);
    }
}

TEST_F(HardwareFixture, WorkAreaWritesSaturateToSixteenBits)
{
    reverb->setStartAddress(0x8000);
    reverb->writeBuffer(3, 40000);
    EXPECT_EQ(32767, reverb->readBuffer(3));
    reverb->writeBuffer(4, -40000);
    EXPECT_EQ(-32768, reverb->readBuffer(4));
    reverb->writeBuffer(5, -1);
    EXPECT_EQ(0xFFFF, ram[0x20000 + 20]);
    EXPECT_EQ(-1, reverb->readBuffer(5));
}

TEST_F(HardwareFixture, OffsetsWrapAsManyTimesAsNeeded)
{
    // Start unit 0xFF00: the work area is 0x3FC00..0x3FFFF, 1024 words = 256 units.
    reverb->setStartAddress(0xFF00);
    for (int i = 0; i < 1024; ++i)
        ram[0x3FC00 + i] = static_cast<unsigned short>(i + 1);
    EXPECT_EQ(1, reverb->readBuffer(0));
    EXPECT_EQ(1, reverb->readBuffer(256));
    EXPECT_EQ(13, reverb->readBuffer(256 * 5 + 3));
    EXPECT_EQ(1021, reverb->readBuffer(-1)); // 0x3FFFC
    EXPECT_EQ(1021, reverb->readBuffer(-1 - 256 * 7));
    EXPECT_EQ(1, reverb->readBuffer(-32768));
    EXPECT_EQ(1 + 4 * 255, reverb->readBuffer(32767 + 65536));
    // Nothing below the work area is touched.
    reverb->writeBuffer(-257, 777);
    EXPECT_EQ(0, ram[0x3FBFC]);
    EXPECT_EQ(777, reverb->readBuffer(-1));
}

TEST_F(HardwareFixture, TapRegisterWithSignBitReachesBackwards)
{
    regs[16] = 0xFFFF;
    reverb->setReverb(regs);
    EXPECT_EQ(-1, reverb->getRegister(16));
    // Start 0x4000: four words back from the start wraps to the end of sound RAM.
    reverb->setStartAddress(0x1000);
    ram[0x3FFFC] = 55;
    EXPECT_EQ(55, reverb->readBuffer(reverb->getRegister(16)));
}

TEST_F(HardwareFixture, SmallestWorkAreaKeepsEveryAccessInside)
{
    // Start 0xFFFF: a work area of 4 words; every tap offset lands inside it.
    for (int n = 0; n < 32; ++n)
        regs[n] = static_cast<unsigned short>(0x8000 + n * 2047);
    reverb->setReverb(regs);
    reverb->setStartAddress(0xFFFF);
    std::fill(ram.begin(), ram.end(), 0x1111);
    for (int i = 0; i < 64; ++i)
    {
        int l = 1 << 30, r = -(1 << 30);
        call(l, r);
        ASSERT_GE(reverb->getCurrentAddress(), 0x3FFFC);
        ASSERT_LE(reverb->getCurrentAddress(), 0x3FFFF);
    }
    for (int i = 0; i < 0x3FFFC; ++i)
        ASSERT_EQ(0x1111, ram[i]) << i;
}

TEST_F(HardwareFixture, CurrentAddressWrapsToStart)
{
    reverb->setReverb(regs);
    reverb->setStartAddress(0xFFFE); // 8 words
    for (int i = 0; i < 16; ++i)
    {
        int l = 0, r = 0;
        call(l, r);
    }
    EXPECT_EQ(0x3FFF8, reverb->getCurrentAddress());
}

// Loud sends: the average of the two sends and the products of the reflection step
// wrap to 32 bits as 32-bit hardware arithmetic does, instead of saturating. The four
// reflection writes go to separate units (offsets 0, 1, 2, 3) so each side is seen.
namespace
{
void loudReflection(HardwareFixture& f, int send, int expected)
{
    f.regs[30] = f.regs[31] = 0x7FFF;
    f.regs[2] = 0x7FFF;
    f.regs[11] = 1;
    f.regs[18] = 2;
    f.regs[19] = 3;
    f.reverb->setReverb(f.regs);
    f.reverb->setStartAddress(0x1000);
    for (int i = 0; i < 2; ++i)
    {
        int l = send, r = send;
        f.call(l, r);
    }
    // Written one word on from the current address 0x4000.
    EXPECT_EQ(expected, static_cast<short>(f.ram[0x4001])) << "same left";
    EXPECT_EQ(expected, static_cast<short>(f.ram[0x4005])) << "same right";
    EXPECT_EQ(expected, static_cast<short>(f.ram[0x4009])) << "cross left";
    EXPECT_EQ(expected, static_cast<short>(f.ram[0x400D])) << "cross right";
}
} // namespace

TEST_F(HardwareFixture, LoudSendSumWrapsToThirtyTwoBits)
{
    // (0x7FFFFFFF + 0x7FFFFFFF) wraps to -2, halved -1; -1 (*) 0x7FFF = -1, twice.
    loudReflection(*this, INT32_MAX, -1);
}

TEST_F(HardwareFixture, LoudSendProductWrapsToThirtyTwoBits)
{
    // 0x20000 x 0x7FFF = 0xFFFE0000 wraps to -0x20000; >> 15 gives -4; -4 (*) 0x7FFF = -4.
    loudReflection(*this, 0x20000, -4);
}

TEST_F(HardwareFixture, RegisterWriteKeepsHalfRateStateAndAddresses)
{
    reverb->setStartAddress(0x2000);
    int l = 100, r = 100;
    call(l, r);
    const unsigned short* room = Reverb::Presets[1].registers;
    std::copy(room, room + 32, regs);
    reverb->setReverb(regs);
    EXPECT_EQ(0x8000, reverb->getCurrentAddress());
    l = r = 100;
    call(l, r); // an odd call: computes, so the address advances
    EXPECT_EQ(0x8001, reverb->getCurrentAddress());
}

TEST(ReverbSelectorTest, OffReturnsSilenceAndUnknownPassesThrough)
{
    std::unique_ptr<Reverb> reverb(new Reverb());
    Reverb::ConfigReverbType = 0;
    int l = 1234, r = -4321;
    reverb->doReverb(l, r);
    EXPECT_EQ(0, l);
    EXPECT_EQ(0, r);
    Reverb::ConfigReverbType = 5;
    l = 1234;
    r = -4321;
    reverb->doReverb(l, r);
    EXPECT_EQ(1234, l);
    EXPECT_EQ(-4321, r);
    Reverb::ConfigReverbType = 0;
}

TEST(ReverbPresetTest, TableHoldsTheTenStandardPresets)
{
    ASSERT_EQ(10, Reverb::PresetCount);
    EXPECT_STREQ("Reverb off", Reverb::Presets[0].name);
    EXPECT_STREQ("Half Echo", Reverb::Presets[9].name);
    EXPECT_EQ(0xF6F8, Reverb::Presets[3].start);
    EXPECT_EQ(0xCFF8, Reverb::Presets[7].start);
    EXPECT_EQ(0x8100, Reverb::Presets[7].registers[7]);
    EXPECT_EQ(0x0000, Reverb::Presets[8].registers[7]);
    EXPECT_EQ(0x0014, Reverb::Presets[9].registers[29]);
    for (int p = 1; p < 10; ++p)
    {
        EXPECT_EQ(0x8000, Reverb::Presets[p].registers[30]) << p;
        EXPECT_EQ(0x8000, Reverb::Presets[p].registers[31]) << p;
    }
}
