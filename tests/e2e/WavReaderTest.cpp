// WavReader on WAV files made here byte by byte, well formed and hostile: every
// input is either read or refused with a message, and nothing is read past the
// bytes given (each input sits in a heap block of its exact size, so the address
// sanitizer build sees any overrun).

#include "spuhost/WavReader.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace
{
struct Chunk
{
    std::string id;
    std::vector<unsigned char> body;
    uint32_t declared; // the size field, which a hostile file sets at will
};

Chunk chunk(const std::string& id, const std::vector<unsigned char>& body)
{
    return {id, body, static_cast<uint32_t>(body.size())};
}

std::vector<unsigned char> format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    std::vector<unsigned char> body;
    put16(body, tag);
    put16(body, channels);
    put32(body, rate);
    put32(body, rate * channels * bits / 8);
    put16(body, static_cast<uint16_t>(channels * bits / 8));
    put16(body, bits);
    return body;
}

std::vector<unsigned char> samples(const std::vector<int16_t>& values)
{
    std::vector<unsigned char> body;
    for (int16_t v : values)
        put16(body, static_cast<uint16_t>(v));
    return body;
}

// RIFF, WAVE, then the chunks, each padded to an even size unless it is the last.
std::vector<unsigned char> riff(const std::vector<Chunk>& chunks)
{
    std::vector<unsigned char> bytes = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    for (size_t i = 0; i < chunks.size(); ++i)
    {
        bytes.insert(bytes.end(), chunks[i].id.begin(), chunks[i].id.end());
        put32(bytes, chunks[i].declared);
        bytes.insert(bytes.end(), chunks[i].body.begin(), chunks[i].body.end());
        if ((chunks[i].body.size() & 1) != 0 && i + 1 < chunks.size())
            bytes.push_back(0);
    }
    return bytes;
}

struct Parsed
{
    bool ok = false;
    WavReader::Pcm pcm;
    std::string error;
};

Parsed parse(const std::vector<unsigned char>& bytes)
{
    // An exact-size heap copy: a read one past the end is an overrun the sanitizer sees.
    const size_t size = bytes.size();
    std::unique_ptr<unsigned char[]> exact(new unsigned char[size > 0 ? size : 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    Parsed parsed;
    parsed.ok = WavReader::parse(exact.get(), size, parsed.pcm, parsed.error, "'in.wav'");
    return parsed;
}

void expectRefused(const std::vector<unsigned char>& bytes, const std::string& message)
{
    const Parsed parsed = parse(bytes);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(message, parsed.error);
}

TEST(WavReaderTest, ReadsInterleavedSixteenBitPcm)
{
    const Parsed parsed =
        parse(riff({chunk("fmt ", format(1, 2, 22050, 16)), chunk("data", samples({1, -2, 300, -400}))}));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(2, parsed.pcm.channels);
    EXPECT_EQ(22050, parsed.pcm.rate);
    EXPECT_EQ((std::vector<int16_t>{1, -2, 300, -400}), parsed.pcm.samples);
}

TEST(WavReaderTest, OddSizedChunksArePaddedAndOddDataKeepsWholeFrames)
{
    // An odd "LIST" chunk with its pad byte before the format; data of 7 bytes in
    // stereo: one whole frame, the rest (a frame's half and half a sample) dropped.
    const std::vector<unsigned char> data = {1, 0, 2, 0, 3, 0, 4};
    const Parsed parsed = parse(
        riff({chunk("LIST", {'a', 'b', 'c'}), chunk("fmt ", format(1, 2, 44100, 16)), chunk("data", data)}));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ((std::vector<int16_t>{1, 2}), parsed.pcm.samples);
}

TEST(WavReaderTest, ChunkSizesPastTheEndAreCutToWhatIsThere)
{
    // Streamed files leave the data size at 0xFFFFFFFF.
    Chunk data = chunk("data", samples({5, 6, 7}));
    data.declared = 0xFFFFFFFF;
    const Parsed streamed = parse(riff({chunk("fmt ", format(1, 1, 8000, 16)), data}));
    ASSERT_TRUE(streamed.ok) << streamed.error;
    EXPECT_EQ((std::vector<int16_t>{5, 6, 7}), streamed.pcm.samples);

    // A chunk before the format claiming near 2^32 bytes swallows the rest.
    for (uint32_t declared : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFF8u, 0x80000000u})
    {
        Chunk junk = chunk("junk", {1, 2, 3, 4});
        junk.declared = declared;
        SCOPED_TRACE(declared);
        expectRefused(riff({junk, chunk("fmt ", format(1, 1, 8000, 16)), chunk("data", samples({1}))}),
                      "'in.wav' has no format chunk");
    }
    // And a format chunk claiming them is read for its 16 bytes, then nothing follows.
    Chunk fmt = chunk("fmt ", format(1, 1, 8000, 16));
    fmt.declared = 0xFFFFFFFF;
    expectRefused(riff({fmt}), "'in.wav' has no data chunk");
}

TEST(WavReaderTest, MalformedFormatsAreRefused)
{
    std::vector<unsigned char> shortFormat = format(1, 1, 8000, 16);
    shortFormat.resize(14);
    expectRefused(riff({chunk("fmt ", shortFormat), chunk("data", samples({1}))}),
                  "'in.wav' has a format chunk of 14 bytes, too short for PCM");
    expectRefused(riff({chunk("fmt ", {}), chunk("data", samples({1}))}),
                  "'in.wav' has a format chunk of 0 bytes, too short for PCM");
    expectRefused(riff({chunk("fmt ", format(1, 0, 8000, 16)), chunk("data", samples({1}))}),
                  "'in.wav' has no channels");
    expectRefused(riff({chunk("fmt ", format(1, 1, 0, 16)), chunk("data", samples({1}))}),
                  "'in.wav' has a sample rate of 0 Hz");
    expectRefused(riff({chunk("fmt ", format(1, 1, 0x80000000u, 16)), chunk("data", samples({1}))}),
                  "'in.wav' has a sample rate of 2147483648 Hz");
    expectRefused(riff({chunk("fmt ", format(1, 1, 8000, 8)), chunk("data", samples({1}))}),
                  "'in.wav' is not 16-bit PCM");
    expectRefused(riff({chunk("fmt ", format(3, 1, 8000, 16)), chunk("data", samples({1}))}),
                  "'in.wav' is not 16-bit PCM");
    expectRefused(riff({chunk("data", samples({1})), chunk("fmt ", format(1, 1, 8000, 16))}),
                  "'in.wav' has its data before its format");
    expectRefused(riff({}), "'in.wav' has no format chunk");
    expectRefused({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}, "'in.wav' is not a RIFF/WAVE file");
    expectRefused({}, "'in.wav' is not a RIFF/WAVE file");
    WavReader::Pcm pcm;
    std::string error;
    EXPECT_FALSE(WavReader::parse(nullptr, 0, pcm, error));
    EXPECT_EQ("the WAV data is not a RIFF/WAVE file", error);
}

TEST(WavReaderTest, SixtyFiveThousandChannelsAreWholeFrames)
{
    std::vector<int16_t> values(2 * 65535 + 3, -32768);
    values[65535] = 32767; // the second frame's first channel
    const Parsed parsed =
        parse(riff({chunk("fmt ", format(1, 65535, 8000, 16)), chunk("data", samples(values))}));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(65535, parsed.pcm.channels);
    EXPECT_EQ(2u * 65535, parsed.pcm.samples.size());
    const std::vector<int16_t> mono = WavReader::mixToMono(parsed.pcm);
    // Sums over 65535 channels pass 32 bits; averaged they stay in range.
    EXPECT_EQ((std::vector<int16_t>{-32768, -32767}), mono);
}

TEST(WavReaderTest, EveryTruncationIsReadOrRefused)
{
    const std::vector<unsigned char> whole =
        riff({chunk("LIST", {'x'}), chunk("fmt ", format(1, 2, 44100, 16)),
              chunk("data", samples({1, 2, 3, 4, 5, 6}))});
    for (size_t size = 0; size <= whole.size(); ++size)
    {
        const Parsed parsed = parse(std::vector<unsigned char>(whole.begin(), whole.begin() + size));
        SCOPED_TRACE(size);
        EXPECT_TRUE(parsed.ok || !parsed.error.empty());
        if (parsed.ok)
        {
            EXPECT_EQ(0u, parsed.pcm.samples.size() % 2);
        }
    }
    EXPECT_TRUE(parse(whole).ok);
}

TEST(WavReaderTest, MonoMixdownAveragesTowardZero)
{
    WavReader::Pcm pcm;
    pcm.channels = 2;
    pcm.samples = {100, -50, -3, 0, 32767, 32767, -32768, -32768};
    EXPECT_EQ((std::vector<int16_t>{25, -1, 32767, -32768}), WavReader::mixToMono(pcm));
    pcm.channels = 3;
    pcm.samples = {1, 2, 4, 7};
    EXPECT_EQ((std::vector<int16_t>{2}), WavReader::mixToMono(pcm))
        << "a last frame short of channels is dropped";
    pcm.channels = 0;
    EXPECT_TRUE(WavReader::mixToMono(pcm).empty());
}
} // namespace
