// The ADPCM encoder of the host tool: round-trip error, loop flags, and agreement of
// its decoding with the plugin's decoder.

#include "SpuUnderTest.h"
#include "adpcm/AdpcmEncoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace
{
std::vector<int16_t> tone(double hz, double amplitude, int samples)
{
    std::vector<int16_t> pcm(samples);
    for (int i = 0; i < samples; ++i)
        pcm[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / 44100.0)));
    return pcm;
}

int flagsOf(const std::vector<uint8_t>& blocks, size_t b)
{
    return blocks[16 * b + 1];
}

TEST(AdpcmEncoderTest, SineComesBackClose)
{
    const std::vector<int16_t> pcm = tone(440.0, 20000, 22050);
    const std::vector<uint8_t> blocks = AdpcmEncoder::encode(pcm, AdpcmEncoder::Ending::OneShot);
    const AdpcmEncoder::Stats stats = AdpcmEncoder::measure(pcm, blocks);
    EXPECT_GT(stats.snrDb, 45.0);
    EXPECT_LT(stats.maxError, 200.0);
}

TEST(AdpcmEncoderTest, NoiseAndFullScaleStepsStayBounded)
{
    std::mt19937 rng(5);
    std::vector<int16_t> pcm(28 * 200);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] =
            (i / 300) % 2 ? static_cast<int16_t>(rng()) : static_cast<int16_t>((i / 20) % 2 ? 32767 : -32768);
    const AdpcmEncoder::Stats stats =
        AdpcmEncoder::measure(pcm, AdpcmEncoder::encode(pcm, AdpcmEncoder::Ending::Loop));
    // Four bits per sample cannot follow white noise closely, but never runs away.
    EXPECT_GT(stats.snrDb, 10.0);
    EXPECT_LT(stats.maxError, 16384.0);
}

TEST(AdpcmEncoderTest, HeadersUseOnlyRealFiltersAndUsefulShifts)
{
    const std::vector<uint8_t> blocks =
        AdpcmEncoder::encode(tone(3000.0, 30000, 2800), AdpcmEncoder::Ending::OneShot);
    bool predictionUsed = false;
    for (size_t b = 0; b < blocks.size() / 16; ++b)
    {
        EXPECT_LE(blocks[16 * b] >> 4, 4);
        EXPECT_LE(blocks[16 * b] & 0xF, 12);
        predictionUsed |= (blocks[16 * b] >> 4) != 0;
    }
    EXPECT_TRUE(predictionUsed);
}

TEST(AdpcmEncoderTest, LoopFlagsMarkStartAndEnd)
{
    const std::vector<int16_t> pcm = tone(100.0, 1000, 28 * 3 + 5); // four blocks, padded
    const std::vector<uint8_t> once = AdpcmEncoder::encode(pcm, AdpcmEncoder::Ending::OneShot);
    ASSERT_EQ(4u * 16, once.size());
    EXPECT_EQ(0, flagsOf(once, 0));
    EXPECT_EQ(0, flagsOf(once, 2));
    EXPECT_EQ(1, flagsOf(once, 3));
    const std::vector<uint8_t> looped = AdpcmEncoder::encode(pcm, AdpcmEncoder::Ending::Loop);
    EXPECT_EQ(4, flagsOf(looped, 0));
    EXPECT_EQ(0, flagsOf(looped, 1));
    EXPECT_EQ(3, flagsOf(looped, 3));
    EXPECT_EQ(7, flagsOf(AdpcmEncoder::encode(tone(100.0, 1000, 10), AdpcmEncoder::Ending::Loop), 0));
    EXPECT_EQ(16u, AdpcmEncoder::encode({}, AdpcmEncoder::Ending::OneShot).size());
}

// Exposes the window of the plugin's decoder.
struct ProbeBlock : VagBlock
{
    int at(int i) const { return window[i]; }
};

TEST(AdpcmEncoderTest, PluginDecodesWhatTheEncoderDecodes)
{
    model::Spu m;
    spu_test::resetLike(m);
    std::vector<int16_t> pcm = tone(1234.0, 25000, 28 * 40);
    const std::vector<uint8_t> blocks = AdpcmEncoder::encode(pcm, AdpcmEncoder::Ending::OneShot);
    std::vector<unsigned short> words(blocks.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<unsigned short>(blocks[2 * i] | blocks[2 * i + 1] << 8);
    theSPU.writeRegister(0x1F801DA6, 0x400);
    theSPU.writeDMAMemory(words.data(), static_cast<int>(words.size()));

    const std::vector<int16_t> expected = AdpcmEncoder::decode(blocks);
    ProbeBlock decoder;
    for (int b = 0; b < 40; ++b)
    {
        decoder.setVagBlock(0x400 + 2 * b, b == 0);
        for (int n = 0; n < 28; ++n)
            ASSERT_EQ(expected[28 * b + n], decoder.at(n + 1)) << "block " << b << " sample " << n;
    }
}
} // namespace
