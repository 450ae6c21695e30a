// ADPCM block decoding, the sample window and the decode cache.

#include "SpuUnderTest.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
// Exposes the active window for inspection.
struct ProbeBlock : VagBlock
{
    int at(int i) const { return window[i]; }
};

class VagBlockTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        VagBlock::ConfigCacheVagDecode = 0;
        theSPU.init();
    }
    void TearDown() override { VagBlock::ConfigCacheVagDecode = 0; }

    // Writes one block at unit address `unit` through the transfer path.
    static void putBlock(int unit, int header, const std::vector<int>& nibbles)
    {
        std::vector<unsigned short> words(8, 0);
        words[0] = static_cast<unsigned short>(header);
        for (size_t n = 0; n < nibbles.size() && n < 28; ++n)
            words[1 + n / 4] |= static_cast<unsigned short>((nibbles[n] & 0xF) << (4 * (n % 4)));
        theSPU.writeRegister(0x1F801DA6, static_cast<unsigned short>(unit));
        theSPU.writeDMAMemory(words.data(), 8);
    }
};

TEST_F(VagBlockTest, FilterZeroShiftTwelveGivesTheNibblesThemselves)
{
    putBlock(0x100, 0x0C, {7, -8});
    ProbeBlock b;
    b.setVagBlock(0x100, true);
    EXPECT_EQ(7, b.at(1));
    EXPECT_EQ(-8, b.at(2));
    EXPECT_EQ(0, b.at(3));
}

TEST_F(VagBlockTest, ShiftZeroIsExactAndFilterFourClamps)
{
    putBlock(0x100, 0x00, {7});
    ProbeBlock b;
    b.setVagBlock(0x100, true);
    EXPECT_EQ(28672, b.at(1));

    // Filter 1 with nibble 7 at shift 0 climbs to the clamp: two samples of 32767.
    putBlock(0x106, 0x10, std::vector<int>(28, 7));
    // Then filter 4, nibble 7: (7 << 18) + 122 * 32767 - 60 * 32767 >> 6 = 60418, clamped.
    putBlock(0x104, 0x40, {7});
    ProbeBlock c;
    c.setVagBlock(0x106, true);
    EXPECT_EQ(32767, c.at(27));
    EXPECT_EQ(32767, c.at(28));
    c.setVagBlock(0x104, false);
    EXPECT_EQ(32767, c.at(1));
}

TEST_F(VagBlockTest, EveryShiftDecodesExactlyWithoutOverflow)
{
    for (int shift = 0; shift < 16; ++shift)
    {
        putBlock(0x200, shift, {-8, 7});
        ProbeBlock b;
        b.setVagBlock(0x200, true);
        EXPECT_EQ(std::max(-32768, (-8 * (1 << 18) >> shift) >> 6), b.at(1)) << "shift " << shift;
        EXPECT_EQ((7 * (1 << 18) >> shift) >> 6, b.at(2)) << "shift " << shift;
    }
}

TEST_F(VagBlockTest, UndefinedFiltersDecodeWithoutPrediction)
{
    for (int filter = 5; filter < 16; ++filter)
    {
        putBlock(0x300, (filter << 4) | 12, {3, 3, 3});
        ProbeBlock b;
        b.setVagBlock(0x300, true);
        EXPECT_EQ(3, b.at(1));
        EXPECT_EQ(3, b.at(2)) << "filter " << filter << " must not add history";
    }
}

TEST_F(VagBlockTest, PulseInterpolatesFromThePrecedingSample)
{
    putBlock(0x100, 0x0C, {4, -4});
    ProbeBlock b;
    b.setVagBlock(0x100, true);
    EXPECT_EQ(4, b.getPulse(0x1000));
    EXPECT_EQ(0, b.getPulse(0x1800));  // halfway from 4 to -4
    EXPECT_EQ(2, b.getPulse(0x0800));  // halfway from 0 (element 0) to 4
    EXPECT_EQ(-2, b.getPulse(0x1C00)); // 4 + (-8 * 0xC00 >> 12) = 4 - 6
}

TEST_F(VagBlockTest, KeyOnWithoutCacheStartsFromTheNextPulse)
{
    putBlock(0x100, 0x0C, {5, 6});
    putBlock(0x102, 0x1C, {1}); // filter 1: the first sample shows the history
    ProbeBlock b;
    b.setVagBlock(0x100, true);
    b.getPulse(0x1000); // heading for element 2 = 6
    b.setVagBlock(0x102, true);
    EXPECT_EQ(6, b.at(0));
    EXPECT_EQ(1, b.at(1)); // history restarted from zero; with history 6 it would be 6
}

TEST_F(VagBlockTest, CachedBlockKeepsItsFirstDecodingUntilATransferTouchesIt)
{
    VagBlock::ConfigCacheVagDecode = 1;
    putBlock(0x100, 0x10, std::vector<int>(28, 7)); // leaves history at 32767
    putBlock(0x102, 0x1C, {0, 0, 0});
    ProbeBlock a, b;
    a.setVagBlock(0x102, true); // first decoding, from zero history
    const int first = a.at(1);
    EXPECT_EQ(0, first);
    b.setVagBlock(0x100, true);
    b.setVagBlock(0x102, false); // arrives with history 1: still the stored samples
    EXPECT_EQ(first, b.at(1));

    // One halfword written anywhere in the block forces a fresh decode.
    theSPU.writeRegister(0x1F801DA6, 0x102);
    unsigned short header = 0x1C;
    theSPU.writeDMAMemory(&header, 1);
    b.setVagBlock(0x100, true);
    b.setVagBlock(0x102, false);
    EXPECT_EQ(32767 * 60 >> 6, b.at(1));
}

TEST_F(VagBlockTest, SharedCacheEntryTakesTheLatestVoicesPrecedingSample)
{
    VagBlock::ConfigCacheVagDecode = 1;
    putBlock(0x100, 0x0C, std::vector<int>(28, 3));
    putBlock(0x102, 0x0C, std::vector<int>(28, 5));
    putBlock(0x104, 0x0C, std::vector<int>(28, 2));
    ProbeBlock a, b;
    a.setVagBlock(0x100, true);
    b.setVagBlock(0x102, true);
    a.setVagBlock(0x104, false);
    EXPECT_EQ(3, a.getPulse(0));
    b.setVagBlock(0x104, false); // rewrites element 0 of the shared entry
    EXPECT_EQ(5, a.getPulse(0));
}

TEST_F(VagBlockTest, FlagsAreTheLowThreeBitsOfByteOne)
{
    putBlock(0x100, 0xFF0C, {});
    EXPECT_EQ(7, VagBlock::getFlag(0x100));
    putBlock(0x100, 0x0A0C, {});
    EXPECT_EQ(2, VagBlock::getFlag(0x100));
}
} // namespace
