#include "synth/Mixer.h"
#include "synth/StreamSound.h"
#include "core/StreamModel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace
{
// Full-scale pseudo-random samples: large jumps between neighbours exercise the
// interpolation product and the clamps.
std::vector<short> noise(size_t entries, uint32_t seed)
{
    std::vector<short> out(entries);
    for (short& s : out)
    {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<short>(seed >> 16);
    }
    return out;
}

class StreamSoundTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StreamSound::ConfigWaitForXABufferIsFree = 0;
        stream.reset(new StreamSound());
        stream->init();
    }
    void TearDown() override { StreamSound::ConfigWaitForXABufferIsFree = 0; }

    bool queue(const std::vector<short>& chunk, int rate, int channels)
    {
        const int length = static_cast<int>(2 * chunk.size());
        if (!stream->checkStreamBuffer(length, rate, channels))
            return false;
        stream->playStream(chunk.data(), length, rate, channels);
        return true;
    }

    // Plays one frame and returns what the capture areas received.
    std::pair<int, int> frame()
    {
        stream->playSound(&mixer, ram.data());
        const int index = captured++ & 511;
        return {static_cast<short>(ram[index]), static_cast<short>(ram[512 + index])};
    }

    std::unique_ptr<StreamSound> stream;
    Mixer mixer;
    std::vector<unsigned short> ram = std::vector<unsigned short>(1024, 0xAAAA);
    int captured = 0;
};
} // namespace

TEST_F(StreamSoundTest, XaStereo37800SizesRingAndPreRoll)
{
    const std::vector<short> chunk = noise(2 * 2016, 1);
    ASSERT_TRUE(queue(chunk, 37800, 2));
    EXPECT_EQ(9408, stream->getSize());
    EXPECT_EQ(0, stream->getRead());
    // 1344 silent frames, then 2352 resampled frames (2016 * 44100 / 37800).
    EXPECT_EQ(2688 + 4704, stream->getWrite());
    for (int i = 0; i < 1344; ++i)
        ASSERT_EQ(std::make_pair(0, 0), frame()) << "pre-roll frame " << i;
    // The first resampled frame is the carried silent frame (phase 0), the second
    // lies 37800/44100 of the way to the chunk's first frame.
    EXPECT_EQ(std::make_pair(0, 0), frame());
    const std::pair<int, int> second = frame();
    EXPECT_EQ(static_cast<int>(static_cast<int64_t>(chunk[0]) * 37800 / 44100), second.first);
    EXPECT_EQ(static_cast<int>(static_cast<int64_t>(chunk[1]) * 37800 / 44100), second.second);
}

TEST_F(StreamSoundTest, CddaIsCopiedFrameForFrame)
{
    const std::vector<short> first = noise(1176, 2);
    const std::vector<short> second = noise(1176, 3);
    ASSERT_TRUE(queue(first, 44100, 2));
    EXPECT_EQ(2352, stream->getSize());
    EXPECT_EQ(588 + 1176, stream->getWrite());
    for (int i = 0; i < 294; ++i)
        ASSERT_EQ(std::make_pair(0, 0), frame());
    // The carried frame of an idle stream is silence; then every source frame 1:1,
    // the next chunk continuing with the last frame of the first one.
    ASSERT_EQ(std::make_pair(0, 0), frame());
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(std::make_pair(int(first[2 * i]), int(first[2 * i + 1])), frame()) << "frame " << i;
    ASSERT_TRUE(queue(second, 44100, 2));
    EXPECT_EQ(0, stream->getRefill()) << "no repeat while the ring was more than a quarter full";
    for (int i = 200; i < 588; ++i)
        ASSERT_EQ(std::make_pair(int(first[2 * i]), int(first[2 * i + 1])), frame()) << "frame " << i;
    // Until the last quarter of the ring, which the repeat crossfades.
    for (int i = 0; i < 290; ++i)
        ASSERT_EQ(std::make_pair(int(second[2 * i]), int(second[2 * i + 1])), frame()) << "frame " << i;
}

TEST_F(StreamSoundTest, MonoFeedsBothSidesTheSameValue)
{
    const std::vector<short> chunk = noise(4032, 3);
    ASSERT_TRUE(queue(chunk, 18900, 1));
    // 4032 mono frames become 9408 output frames: need 18816 entries, ring twice that.
    EXPECT_EQ(2 * 18816, stream->getSize());
    bool sawSound = false;
    for (int i = 0; i < 9408; ++i)
    {
        const std::pair<int, int> f = frame();
        ASSERT_EQ(f.first, f.second) << "frame " << i;
        sawSound = sawSound || f.first != 0;
    }
    EXPECT_TRUE(sawSound);
}

TEST_F(StreamSoundTest, CdVolumesScaleTheMixedFrameOnly)
{
    stream->setXAVolumeL(0x4000);
    stream->setXAVolumeR(0xC000);
    EXPECT_EQ(0x4000, stream->getVolumeL());
    EXPECT_EQ(-0x4000, stream->getVolumeR());
    stream->setControlCDReverbEnabled(1);
    EXPECT_EQ(1, stream->getCDReverbEnabled());
    stream->init();
    EXPECT_EQ(0, stream->getVolumeL());
    EXPECT_EQ(1, stream->getCDReverbEnabled()) << "a reset keeps the CD reverb enable";
}

TEST_F(StreamSoundTest, RepeatsOnceAfterTheLastChunkThenSilence)
{
    const std::vector<short> chunk = noise(1176, 4);
    ASSERT_TRUE(queue(chunk, 44100, 2));
    StreamModel model;
    model.queue(chunk, 44100, 2);
    // 294 silent + 588 chunk frames, plus one repeat of min(1176, 2048) = 1176 entries.
    int played = 0;
    int lastSound = -1;
    for (; played < 3000; ++played)
    {
        const std::pair<int, int> expected = model.frame();
        const std::pair<int, int> got = frame();
        ASSERT_NEAR(expected.first, got.first, 1) << "frame " << played;
        ASSERT_NEAR(expected.second, got.second, 1) << "frame " << played;
        if (got.first != 0 || got.second != 0)
            lastSound = played;
    }
    EXPECT_EQ(1176 / 2, stream->getRefill());
    EXPECT_GT(lastSound, 294 + 588 - 1) << "the repeat plays after the chunk";
    EXPECT_LE(lastSound, 294 + 588 + 588 - 1) << "only one repeat";
    EXPECT_EQ(stream->getRead(), stream->getWrite());
    // Silence still reaches the capture areas.
    EXPECT_EQ(0, ram[(captured - 1) & 511]);
    EXPECT_EQ(0, ram[512 + ((captured - 1) & 511)]);
}

TEST_F(StreamSoundTest, ResizeDropsBufferedAudioAndClearsTheFade)
{
    const std::vector<short> big = noise(1176, 5);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(queue(big, 44100, 2)); // overruns: fade is running
    EXPECT_GT(stream->getFade(), 0);
    const std::vector<short> small = noise(200, 6);
    ASSERT_TRUE(queue(small, 44100, 2));
    EXPECT_EQ(400, stream->getSize());
    EXPECT_EQ(0, stream->getFade());
    EXPECT_EQ(0, stream->getRead());
    EXPECT_EQ(100 + 200, stream->getWrite());
}

TEST_F(StreamSoundTest, WaitingRefusesAChunkWithoutRoom)
{
    StreamSound::ConfigWaitForXABufferIsFree = 1;
    const std::vector<short> chunk = noise(1176, 7);
    ASSERT_TRUE(queue(chunk, 44100, 2)); // 1764 of 2352 entries queued
    EXPECT_FALSE(stream->checkStreamBuffer(2352, 44100, 2));
    for (int i = 0; i < 294; ++i)
        frame();
    EXPECT_TRUE(stream->checkStreamBuffer(2352, 44100, 2));
    StreamSound::ConfigWaitForXABufferIsFree = 0;
    for (int i = 0; i < 294; ++i)
        frame();
    EXPECT_TRUE(queue(chunk, 44100, 2)) << "without waiting, a chunk is always taken";
}

TEST_F(StreamSoundTest, RefusesWhatItCannotPlay)
{
    EXPECT_FALSE(StreamSound::canPlay(2352, 48000, 2)) << "rates above 44100 Hz are ignored";
    EXPECT_FALSE(StreamSound::canPlay(-4, 44100, 2));
    EXPECT_FALSE(StreamSound::canPlay(0, 44100, 2));
    EXPECT_TRUE(StreamSound::canPlay(40000, 44100, 2)) << "larger than the staging area: in pieces";
    EXPECT_TRUE(StreamSound::canPlay(152916, 44100, 2)) << "need 76458: the largest ring";
    EXPECT_FALSE(StreamSound::canPlay(152920, 44100, 2)) << "need 76460: beyond it";
    EXPECT_TRUE(StreamSound::canPlay(32768, 18900, 1)) << "a full record of mono 18900 Hz";
    EXPECT_FALSE(StreamSound::canPlay(16128, 170, 2)) << "4032 stereo frames at 170 Hz";
    EXPECT_FALSE(StreamSound::canPlay(1 << 23, 44100, 2));
    EXPECT_FALSE(StreamSound::canPlay(2352, 44100, 3));
    EXPECT_FALSE(StreamSound::canPlay(2352, 0, 2));
    EXPECT_FALSE(StreamSound::canPlay(2352, -37800, 2));
    EXPECT_FALSE(StreamSound::canPlay(1, 44100, 2)) << "less than one output entry";
    EXPECT_FALSE(StreamSound::canPlay(3, 44100, 2)) << "no whole stereo frame";
    EXPECT_TRUE(StreamSound::canPlay(2, 44100, 1)) << "one mono frame";
    EXPECT_FALSE(StreamSound::canPlay(16128, 1, 2)) << "a ring of 355 million entries";
    EXPECT_TRUE(StreamSound::canPlay(8064, 18900, 2));

    // None of them sizes the ring or writes anything.
    const std::vector<short> chunk = noise(16386, 8);
    const int lengths[] = {2352, -4, 1, 2352};
    const int rates[] = {48000, 44100, 44100, 0};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_FALSE(stream->checkStreamBuffer(lengths[i], rates[i], 2));
        stream->playStream(chunk.data(), lengths[i], rates[i], 2);
        EXPECT_EQ(0, stream->getSize());
        EXPECT_EQ(nullptr, stream->getRing());
    }
    // playStream without a matching checkStreamBuffer touches nothing either.
    ASSERT_TRUE(queue(noise(1176, 9), 44100, 2));
    const int write = stream->getWrite();
    stream->playStream(chunk.data(), 8064, 37800, 2);
    EXPECT_EQ(write, stream->getWrite());
}

TEST_F(StreamSoundTest, TrailingPartialFrameIsDropped)
{
    // 32769 bytes: the odd byte would land past the staging area and the resampler
    // would step once more, reading two entries past it. 2353 bytes have the ring
    // of 2352 (need 1176) and must play exactly what 2352 bytes play.
    const std::vector<short> data = noise(16385, 14);
    const int lengths[][2] = {{32768, 32769}, {2352, 2353}};
    for (const auto& pair : lengths)
    {
        std::vector<std::vector<short>> rings;
        std::vector<int> writes;
        for (int length : pair)
        {
            StreamSound whole;
            whole.init();
            for (int chunk = 0; chunk < 3; ++chunk)
            {
                ASSERT_TRUE(whole.checkStreamBuffer(length, 44100, 2));
                whole.playStream(data.data(), length, 44100, 2);
            }
            rings.emplace_back(whole.getRing(), whole.getRing() + whole.getSize());
            writes.push_back(whole.getWrite());
        }
        EXPECT_EQ(writes[0], writes[1]) << pair[1] << " bytes";
        EXPECT_TRUE(rings[0] == rings[1]) << pair[1] << " bytes";
    }
}

TEST_F(StreamSoundTest, FullStagingAreaAtTheSlowestRateStaysInBounds)
{
    // 16384 mono entries at 18900 Hz: the largest chunk, read up to its last entry.
    const std::vector<short> chunk = noise(16384, 10);
    StreamModel model;
    for (int c = 0; c < 2; ++c)
    {
        ASSERT_TRUE(queue(chunk, 18900, 1));
        model.queue(chunk, 18900, 1);
    }
    for (int i = 0; i < 5000; ++i)
    {
        const std::pair<int, int> expected = model.frame();
        const std::pair<int, int> got = frame();
        ASSERT_NEAR(expected.first, got.first, 1) << "frame " << i;
        ASSERT_NEAR(expected.second, got.second, 1) << "frame " << i;
    }
}

TEST_F(StreamSoundTest, OversizedChunkIsPlayedInPiecesAcrossThePaddedBoundary)
{
    // 10001 frames: two pieces of 5001 frames, the second padded with one copy of
    // the last frame. Ring: need 20002, size 40004; pre-roll 10000 entries.
    const std::vector<short> chunk = noise(2 * 10001, 11);
    const std::vector<short> next = noise(2 * 10001, 12);
    ASSERT_TRUE(queue(chunk, 44100, 2));
    EXPECT_EQ(40004, stream->getSize());
    EXPECT_EQ(10000 + 2 * 5001 + 2 * 5001, stream->getWrite());
    std::vector<std::pair<int, int>> expected(5001, std::make_pair(0, 0));
    for (int i = 0; i < 10001; ++i)
        expected.push_back({chunk[2 * i], chunk[2 * i + 1]});
    // The padding: the next chunk carries the copy of the last frame in once more.
    expected.push_back({chunk[20000], chunk[20001]});
    for (int i = 0; i < 2000; ++i)
        expected.push_back({next[2 * i], next[2 * i + 1]});

    for (size_t i = 0; i < expected.size(); ++i)
    {
        if (i == 6000)
        {
            ASSERT_TRUE(queue(next, 44100, 2));
        }
        ASSERT_EQ(expected[i], frame()) << "output frame " << i;
    }
    EXPECT_EQ(0, stream->getRefill()) << "the ring never ran low";
}

TEST_F(StreamSoundTest, RandomChunkSequencesKeepPositionsInsideTheRing)
{
    // Valid, oversized and garbage chunks in a random order with renders between;
    // run under AddressSanitizer this also shows that nothing is read or written
    // outside the ring and the staging area.
    const std::vector<short> data = noise(70000, 13);
    uint32_t seed = 99;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % range);
    };
    const int rates[] = {18900, 37800, 44100, 44101, 96000, 1, 0, -37800, 11025, 22050};
    for (int step = 0; step < 3000; ++step)
    {
        StreamSound::ConfigWaitForXABufferIsFree = next(2);
        const int length = next(8) == 0 ? next(140000) - 2000 : 2 * (next(9000) + 1);
        const int rate = rates[next(10)];
        const int channels = next(4);
        if (stream->checkStreamBuffer(length, rate, channels))
            stream->playStream(data.data(), length, rate, channels);
        for (int f = next(3000); f > 0; --f)
            frame();
        const int size = stream->getSize();
        ASSERT_GE(size, 0);
        ASSERT_EQ(0, size % 2);
        ASSERT_EQ(0, stream->getWrite() % 2);
        ASSERT_EQ(0, stream->getRead() % 2);
        ASSERT_TRUE(size == 0 ? stream->getWrite() == 0 : stream->getWrite() < size) << "step " << step;
        ASSERT_TRUE(size == 0 ? stream->getRead() == 0 : stream->getRead() < size) << "step " << step;
        ASSERT_GE(stream->getFade(), 0);
        ASSERT_LE(stream->getFade(), size);
        ASSERT_GE(stream->getPhase(), 0);
        ASSERT_LT(stream->getPhase(), 44100);
    }
}
