// The plugin's stream against the independent reference model, frame for frame,
// for the CD's rates, mono and stereo, with the host delivering just in time, too
// slowly (the ring runs low and repeats) and too fast (the ring overruns). The
// model rounds its crossfades in its own way, so frames may differ by one; a hash
// of every frame played pins the plugin's exact output of each scene as well.

#include "synth/Mixer.h"
#include "synth/StreamSound.h"
#include "core/StreamModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace
{
struct Scenario
{
    int rate;
    int channels;
    int chunkFrames;
    // Output frames rendered per delivered chunk, as a percentage of its playing time.
    int renderPercent;
    const char* name;
    // FNV-1a over the frames played (left, right as 16-bit values).
    uint32_t framesHash;
};

void PrintTo(const Scenario& s, std::ostream* os)
{
    *os << s.name;
}

std::string scenarioName(const ::testing::TestParamInfo<Scenario>& info)
{
    return info.param.name;
}

// One chunk of the scene's samples, drawn from seed.
std::vector<short> randomChunk(uint32_t& seed, const Scenario& s)
{
    std::vector<short> chunk(static_cast<size_t>(s.chunkFrames * s.channels));
    for (short& e : chunk)
    {
        seed = seed * 1103515245u + 12345u;
        e = static_cast<short>(seed >> 16);
    }
    return chunk;
}

class StreamModelCompareTest : public ::testing::TestWithParam<Scenario>
{
};

TEST_P(StreamModelCompareTest, PluginMatchesModelFrameForFrame)
{
    const Scenario s = GetParam();
    StreamSound::ConfigWaitForXABufferIsFree = 0;
    std::unique_ptr<StreamSound> stream(new StreamSound());
    stream->init();
    Mixer mixer;
    std::vector<unsigned short> ram(1024);
    StreamModel model;

    uint32_t seed = 12345u + s.rate + s.channels;
    int64_t owed = 0;
    int compared = 0, differing = 0, nonSilent = 0;
    uint32_t hash = 2166136261u;
    auto hashSample = [&hash](int sample) {
        for (int byte = 0; byte < 2; ++byte)
            hash = (hash ^ ((static_cast<unsigned>(sample) >> (8 * byte)) & 0xFF)) * 16777619u;
    };
    for (int chunkIndex = 0; chunkIndex < 12; ++chunkIndex)
    {
        const std::vector<short> chunk = randomChunk(seed, s);
        const int length = static_cast<int>(2 * chunk.size());
        const int readBefore = stream->getRead();
        ASSERT_TRUE(stream->checkStreamBuffer(length, s.rate, s.channels));
        stream->playStream(chunk.data(), length, s.rate, s.channels);
        ASSERT_TRUE(model.queue(chunk, s.rate, s.channels));
        ASSERT_EQ(model.size(), stream->getSize());
        ASSERT_EQ(readBefore, stream->getRead());

        owed += static_cast<int64_t>(s.chunkFrames) * 44100 * s.renderPercent / 100;
        for (; owed >= s.rate; owed -= s.rate)
        {
            const std::pair<int, int> expected = model.frame();
            stream->playSound(&mixer, ram.data());
            const int index = compared & 511;
            const int left = static_cast<short>(ram[index]);
            const int right = static_cast<short>(ram[512 + index]);
            ASSERT_NEAR(expected.first, left, 1) << "chunk " << chunkIndex << " frame " << compared;
            ASSERT_NEAR(expected.second, right, 1) << "chunk " << chunkIndex << " frame " << compared;
            hashSample(left);
            hashSample(right);
            differing += expected.first != left || expected.second != right;
            nonSilent += left != 0;
            ++compared;
        }
    }
    EXPECT_GT(nonSilent, compared / 2);
    if (s.renderPercent > 100)
    {
        EXPECT_GT(model.repeats, 1) << "the ring should have run low";
    }
    if (s.renderPercent < 100)
    {
        EXPECT_GT(model.overruns, 0) << "the ring should have overrun";
    }
    RecordProperty("differing_frames", differing);
    EXPECT_EQ(s.framesHash, hash) << std::hex << "0x" << hash;
}

// The block form against the frame form, on the same chunks: the mix (both at full
// CD and main volume), the capture areas and the ring positions after every piece,
// the pieces of random length up to a whole block.
TEST_P(StreamModelCompareTest, BlocksPlayWhatFramesPlay)
{
    const Scenario s = GetParam();
    StreamSound::ConfigWaitForXABufferIsFree = 0;
    std::unique_ptr<StreamSound> frames(new StreamSound());
    std::unique_ptr<StreamSound> blocks(new StreamSound());
    Mixer frameMixer, blockMixer;
    for (StreamSound* stream : {frames.get(), blocks.get()})
    {
        stream->init();
        stream->setXAVolumeL(0x7FFF);
        stream->setXAVolumeR(0x6000);
    }
    for (Mixer* mixer : {&frameMixer, &blockMixer})
    {
        mixer->setMainVolumeL(0x3FFF);
        mixer->setMainVolumeR(0x3FFF);
    }
    std::vector<unsigned short> frameRam(1024), blockRam(1024);
    std::unique_ptr<MixBlock> block(new MixBlock());
    uint32_t seed = 777u + s.rate + s.channels;
    int64_t owed = 0;
    int played = 0;
    for (int chunkIndex = 0; chunkIndex < 12; ++chunkIndex)
    {
        const std::vector<short> chunk = randomChunk(seed, s);
        const int length = static_cast<int>(2 * chunk.size());
        for (StreamSound* stream : {frames.get(), blocks.get()})
        {
            ASSERT_TRUE(stream->checkStreamBuffer(length, s.rate, s.channels));
            stream->playStream(chunk.data(), length, s.rate, s.channels);
        }
        owed += static_cast<int64_t>(s.chunkFrames) * 44100 * s.renderPercent / 100;
        int due = static_cast<int>(owed / s.rate);
        owed -= static_cast<int64_t>(due) * s.rate;
        while (due > 0)
        {
            seed = seed * 1103515245u + 12345u;
            const int piece = std::min(due, 1 + static_cast<int>((seed >> 16) % MixBlock::MaxFrames));
            std::vector<short> want(2 * piece), got(2 * piece);
            for (int k = 0; k < piece; ++k)
            {
                frames->playSound(&frameMixer, frameRam.data());
                frameMixer.getMixSound(want[2 * k], want[2 * k + 1]);
            }
            std::memset(block.get(), 0, sizeof(MixBlock));
            blocks->playBlock(piece, *block, blockRam.data());
            blockMixer.mixBlock(piece, *block, got.data());
            ASSERT_EQ(want, got) << "chunk " << chunkIndex << ", frames " << played << " and on";
            ASSERT_EQ(frameRam, blockRam) << "chunk " << chunkIndex << ", frames " << played << " and on";
            ASSERT_EQ(frames->getRead(), blocks->getRead());
            ASSERT_EQ(frames->getWrite(), blocks->getWrite());
            played += piece;
            due -= piece;
        }
    }
    EXPECT_GT(played, 1000);
}

const Scenario scenarios[] = {
    {37800, 2, 2016, 100, "Xa37800StereoSteady", 0xf825cd4u},
    {37800, 2, 2016, 140, "Xa37800StereoRunningLow", 0xc36b25ecu},
    {37800, 2, 2016, 45, "Xa37800StereoOverrun", 0xec82c4edu},
    {37800, 1, 4032, 140, "Xa37800MonoRunningLow", 0xfd19c95u},
    {37800, 1, 4032, 45, "Xa37800MonoOverrun", 0x3881bcbdu},
    {18900, 2, 2016, 100, "Xa18900StereoSteady", 0x78db5d68u},
    {18900, 2, 2016, 150, "Xa18900StereoRunningLow", 0x85841795u},
    {18900, 2, 2016, 40, "Xa18900StereoOverrun", 0x5e315540u},
    {18900, 1, 4032, 150, "Xa18900MonoRunningLow", 0x787c6d5u},
    {18900, 1, 4032, 40, "Xa18900MonoOverrun", 0xbc477005u},
    {44100, 2, 588, 100, "Cdda44100StereoSteady", 0x1cc77a69u},
    {44100, 2, 588, 160, "Cdda44100StereoRunningLow", 0xd4d8ac72u},
    {44100, 2, 588, 30, "Cdda44100StereoOverrun", 0xcc9c32fcu},
    {44100, 1, 1176, 160, "Pcm44100MonoRunningLow", 0x6fc87d75u},
    {44100, 1, 1176, 30, "Pcm44100MonoOverrun", 0xa47213fdu},
    // Chunks arriving ten times faster than they play: each overruns the ring
    // several times over before a frame is played.
    {37800, 2, 2016, 10, "Xa37800StereoFlood", 0xdd10c4b2u},
    {18900, 1, 4032, 10, "Xa18900MonoFlood", 0x989ed329u},
    {44100, 2, 5880, 10, "Cdda44100TenSectorsFlood", 0xc553b526u},
    // Larger than the staging area: resampled in two pieces of equal length.
    {44100, 2, 10000, 100, "Cdda44100StereoOversized", 0xcff2cacbu},
    {37800, 1, 20000, 100, "Xa37800MonoOversized", 0x3a292ba9u},
    {18900, 2, 9000, 130, "Xa18900StereoOversizedRunningLow", 0xa45f35c0u},
};

INSTANTIATE_TEST_SUITE_P(Streams, StreamModelCompareTest, ::testing::ValuesIn(scenarios), scenarioName);
} // namespace
