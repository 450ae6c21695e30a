// CD audio and save states through the exported functions, as a host drives them.

#include "e2e/HostFixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{
// The save state is checked byte by byte here, at its documented offsets, so these
// tests keep it in plain bytes (FreezeRecordSize of them) and hand it over as the
// record it is.
const unsigned long TransferAddress = 0x1F801DA6;

class StreamExportsTest : public HostTest
{
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        ASSERT_NE(nullptr, plugin().SPUplayADPCMchannel);
        ASSERT_NE(nullptr, plugin().SPUplayCDDAchannel);
        ASSERT_NE(nullptr, plugin().SPUfreeze);
        ASSERT_NE(nullptr, plugin().SPUrender);
        init();
    }

    std::vector<unsigned short> readSoundRam(unsigned address, int words)
    {
        plugin().SPUwriteRegister(TransferAddress, static_cast<unsigned short>(address / 8));
        std::vector<unsigned short> out(static_cast<size_t>(words));
        plugin().SPUreadDMAMem(out.data(), words);
        return out;
    }

    static SPUFreeze_t* asRecord(std::vector<unsigned char>& bytes)
    {
        return reinterpret_cast<SPUFreeze_t*>(bytes.data());
    }

    void render(int frames)
    {
        std::vector<short> buffer(2 * static_cast<size_t>(frames));
        plugin().SPUrender(buffer.data(), 4 * static_cast<unsigned long>(frames));
    }
};

std::vector<short> pattern(size_t entries)
{
    std::vector<short> out(entries);
    for (size_t i = 0; i < entries; ++i)
        out[i] = static_cast<short>(i * 977 + 31);
    return out;
}
} // namespace

TEST_F(StreamExportsTest, CddaReachesTheCaptureAreasOneToOne)
{
    std::vector<short> chunk = pattern(1176);
    plugin().SPUplayCDDAchannel(chunk.data(), 2352);
    // 294 frames of pre-roll, the carried silent frame, then the chunk. From frame
    // 588 on the ring is a quarter full and the repeat crossfades what is left.
    const int rendered = 588;
    render(rendered);
    const std::vector<unsigned short> capture = readSoundRam(0, 1024);
    for (int frame = rendered - 512; frame < rendered; ++frame)
    {
        const int word = frame & 511;
        const int source = frame - 295;
        const int left = source < 0 ? 0 : chunk[2 * source];
        const int right = source < 0 ? 0 : chunk[2 * source + 1];
        ASSERT_EQ(left, static_cast<short>(capture[word])) << "frame " << frame;
        ASSERT_EQ(right, static_cast<short>(capture[512 + word])) << "frame " << frame;
    }
}

TEST_F(StreamExportsTest, CdVolumeScalesTheCdInputInTheOutput)
{
    plugin().SPUwriteRegister(0x1F801D80, 0x3FFF); // main volume left
    plugin().SPUwriteRegister(0x1F801D82, 0x3FFF);
    plugin().SPUwriteRegister(0x1F801DAA, 0xC000); // SPU on, unmuted
    std::vector<short> chunk(1176, 16000);
    std::vector<short> silentOut(2 * 700), loudOut(2 * 700);

    plugin().SPUplayCDDAchannel(chunk.data(), 2352);
    plugin().SPUrender(silentOut.data(), 4 * 700);

    plugin().SPUinit();
    plugin().SPUwriteRegister(0x1F801D80, 0x3FFF);
    plugin().SPUwriteRegister(0x1F801D82, 0x3FFF);
    plugin().SPUwriteRegister(0x1F801DAA, 0xC000);
    plugin().SPUwriteRegister(0x1F801DB0, 0x4000); // CD volume left: one half
    plugin().SPUwriteRegister(0x1F801DB2, 0x0000);
    plugin().SPUplayCDDAchannel(chunk.data(), 2352);
    plugin().SPUrender(loudOut.data(), 4 * 700);

    for (int i = 0; i < 700; ++i)
    {
        EXPECT_EQ(0, silentOut[2 * i]) << "CD volume 0 mixes nothing";
        EXPECT_EQ(0, loudOut[2 * i + 1]) << "right CD volume 0";
    }
    EXPECT_EQ(0, loudOut[2 * 100]) << "pre-roll";
    EXPECT_NE(0, loudOut[2 * 600]) << "half of 16000 at the main volume";
}

TEST_F(StreamExportsTest, Stereo8064IsTakenAsBytes)
{
    xa_decode_t xa = {};
    xa.freq = 37800;
    xa.stereo = 1;
    xa.nsamples = 8064;
    plugin().SPUplayADPCMchannel(&xa);
    EXPECT_EQ(2016, xa.nsamples);

    xa.stereo = 0;
    xa.nsamples = 8064;
    plugin().SPUplayADPCMchannel(&xa);
    EXPECT_EQ(4032, xa.nsamples);

    // Stereo -1 would divide by zero: nothing to play, the record left alone.
    xa.stereo = -1;
    xa.nsamples = 8064;
    plugin().SPUplayADPCMchannel(&xa);
    EXPECT_EQ(8064, xa.nsamples);
    xa.stereo = 3;
    plugin().SPUplayADPCMchannel(&xa);
    EXPECT_EQ(8064, xa.nsamples);
}

TEST_F(StreamExportsTest, HostileInputPlaysNothingAndCrashesNothing)
{
    plugin().SPUplayADPCMchannel(nullptr);
    plugin().SPUplayCDDAchannel(nullptr, 2352);
    std::vector<short> data = pattern(1176);
    plugin().SPUplayCDDAchannel(data.data(), -2352);
    plugin().SPUplayCDDAchannel(data.data(), 0);
    plugin().SPUplayCDDAchannel(data.data(), 1);
    plugin().SPUplayCDDAchannel(data.data(), 3);

    xa_decode_t xa = {};
    for (int i = 0; i < 16384; ++i)
        xa.pcm[i] = static_cast<short>(i * 7919);
    const struct
    {
        int32_t freq, stereo, nsamples;
    } cases[] = {
        {37800, 1, -1},    {37800, 1, INT_MIN}, {37800, 1, INT_MAX},    {37800, 1, 8193},
        {37800, 0, 16385}, {37800, 2, 2016},    {37800, INT_MIN, 2016}, {37800, INT_MAX, 8064},
        {-37800, 1, 2016}, {INT_MIN, 0, 4032},  {48000, 1, 2016},       {INT_MAX, 1, 2016},
        {1, 1, 4032},      {1, 0, 1},           {0, 1, 2016},
    };
    for (const auto& c : cases)
    {
        xa.freq = c.freq;
        xa.stereo = c.stereo;
        xa.nsamples = c.nsamples;
        plugin().SPUplayADPCMchannel(&xa);
        EXPECT_EQ(c.nsamples, xa.nsamples);
        render(64);
    }
    // Nothing above reached the capture areas.
    const std::vector<unsigned short> capture = readSoundRam(0, 1024);
    for (unsigned short w : capture)
        ASSERT_EQ(0, w);
}

TEST_F(StreamExportsTest, FreezeSizeQueryWritesOnlyTheHeader)
{
    std::vector<unsigned char> record(FreezeRecordSize, 0x5A);
    EXPECT_EQ(1, plugin().SPUfreeze(2, asRecord(record)));
    EXPECT_EQ(0, std::memcmp(record.data(), "DIRIR\0", 6));
    EXPECT_EQ(0x5A, record[6]);
    EXPECT_EQ(0x5A, record[7]);
    uint32_t version, size;
    std::memcpy(&version, &record[8], 4);
    std::memcpy(&size, &record[12], 4);
    EXPECT_EQ(1u, version);
    EXPECT_EQ(FreezeRecordSize, size);
    for (size_t i = 16; i < FreezeRecordSize; ++i)
        ASSERT_EQ(0x5A, record[i]) << "byte " << i;
    EXPECT_EQ(0, plugin().SPUfreeze(0, nullptr));
    EXPECT_EQ(0, plugin().SPUfreeze(1, nullptr));
    EXPECT_EQ(0, plugin().SPUfreeze(2, nullptr));
}

TEST_F(StreamExportsTest, SaveThenLoadReproducesRegistersAndSoundRam)
{
    std::vector<unsigned short> ram(0x40000);
    for (size_t i = 0; i < ram.size(); ++i)
        ram[i] = static_cast<unsigned short>(i * 40503u + 7);
    plugin().SPUwriteRegister(TransferAddress, 0);
    plugin().SPUwriteDMAMem(ram.data(), static_cast<int>(ram.size()));
    for (unsigned long voice = 0; voice < 24; ++voice)
    {
        const unsigned long base = 0x1F801C00 + 16 * voice;
        plugin().SPUwriteRegister(base + 0, static_cast<unsigned short>(0x1000 + voice));
        plugin().SPUwriteRegister(base + 2, static_cast<unsigned short>(0x2000 + voice));
        plugin().SPUwriteRegister(base + 4, static_cast<unsigned short>(0x0800 + voice));
        plugin().SPUwriteRegister(base + 6, static_cast<unsigned short>(0x0200 + 2 * voice));
        plugin().SPUwriteRegister(base + 8, static_cast<unsigned short>(0x80FF - voice));
        plugin().SPUwriteRegister(base + 10, static_cast<unsigned short>(0x1FC0 + voice));
        plugin().SPUwriteRegister(base + 14, static_cast<unsigned short>(0x0400 + 2 * voice));
    }
    plugin().SPUwriteRegister(0x1F801D80, 0x3000);
    plugin().SPUwriteRegister(0x1F801D82, 0x3100);
    plugin().SPUwriteRegister(0x1F801D84, 0x1234);
    plugin().SPUwriteRegister(0x1F801D86, 0x2345);
    plugin().SPUwriteRegister(0x1F801D90, 0x0006);
    plugin().SPUwriteRegister(0x1F801D94, 0x0010);
    plugin().SPUwriteRegister(0x1F801D98, 0x00A0);
    plugin().SPUwriteRegister(0x1F801DA2, 0xE000);
    plugin().SPUwriteRegister(0x1F801DA4, 0x0800);
    plugin().SPUwriteRegister(0x1F801DB0, 0x5555);
    plugin().SPUwriteRegister(0x1F801DB2, 0x6666);
    for (unsigned long a = 0x1F801DC0; a < 0x1F801E00; a += 2)
        plugin().SPUwriteRegister(a, static_cast<unsigned short>(a * 13));
    plugin().SPUwriteRegister(0x1F801DAA, 0xC084);

    std::vector<unsigned char> saved(FreezeRecordSize);
    ASSERT_EQ(1, plugin().SPUfreeze(1, asRecord(saved)));
    std::vector<unsigned short> readsBefore;
    for (unsigned long a = 0x1F801C00; a < 0x1F801E00; a += 2)
        readsBefore.push_back(plugin().SPUreadRegister(a));

    // Something else entirely, then the load.
    plugin().SPUinit();
    std::vector<unsigned short> other(0x40000, 0xBEEF);
    plugin().SPUwriteDMAMem(other.data(), static_cast<int>(other.size()));
    plugin().SPUwriteRegister(0x1F801D80, 0x0101);
    ASSERT_EQ(1, plugin().SPUfreeze(0, asRecord(saved)));

    // The end flags read back the voices' live state, not the image: the replay
    // writes them like any register, so they are the one read left out here.
    for (unsigned long a = 0x1F801C00, i = 0; a < 0x1F801E00; a += 2, ++i)
    {
        if (a != 0x1F801D9C && a != 0x1F801D9E)
        {
            EXPECT_EQ(readsBefore[i], plugin().SPUreadRegister(a)) << std::hex << "register " << a;
        }
    }
    std::vector<unsigned char> again(FreezeRecordSize);
    ASSERT_EQ(1, plugin().SPUfreeze(1, asRecord(again)));
    EXPECT_EQ(0, std::memcmp(saved.data() + 0x210, again.data() + 0x210, 0x80000)) << "sound RAM";
    EXPECT_EQ(0, std::memcmp(saved.data(), again.data(), 0x210)) << "header and register image";
    EXPECT_EQ(0, std::memcmp(saved.data() + 0x210, ram.data(), 0x80000))
        << "the saved RAM is what was written";
}

TEST_F(StreamExportsTest, LoadQueuesTheRecordsXaPartUpTo4032)
{
    std::vector<unsigned char> record(FreezeRecordSize);
    ASSERT_EQ(1, plugin().SPUfreeze(1, asRecord(record)));
    xa_decode_t xa = {};
    xa.freq = 44100;
    xa.stereo = 1;
    for (int i = 0; i < 16384; ++i)
        xa.pcm[i] = static_cast<short>(1000 + i);

    // 4033 frames: not queued, so the capture areas stay silent.
    xa.nsamples = 4033;
    std::memcpy(&record[0x80210], &xa, sizeof(xa));
    ASSERT_EQ(1, plugin().SPUfreeze(0, asRecord(record)));
    render(600 + 4033 + 100);
    for (unsigned short w : readSoundRam(0, 1024))
        ASSERT_EQ(0, w);

    // 4032 frames are queued: pre-roll (8064 / 2 entries = 2016 frames), then sound.
    plugin().SPUinit();
    xa.nsamples = 4032;
    std::memcpy(&record[0x80210], &xa, sizeof(xa));
    ASSERT_EQ(1, plugin().SPUfreeze(0, asRecord(record)));
    render(2016 + 1 + 100);
    const std::vector<unsigned short> capture = readSoundRam(0, 1024);
    const int lastFrame = 2016 + 1 + 100 - 1;
    EXPECT_EQ(xa.pcm[2 * 99], static_cast<short>(capture[lastFrame & 511]));
    EXPECT_EQ(xa.pcm[2 * 99 + 1], static_cast<short>(capture[512 + (lastFrame & 511)]));
}

TEST_F(StreamExportsTest, HostileXaPartInASaveStateLoadsSafely)
{
    std::vector<unsigned char> record(FreezeRecordSize);
    ASSERT_EQ(1, plugin().SPUfreeze(1, asRecord(record)));
    const int32_t fields[][4] = {
        {37800, 16, 1, -1}, {37800, 16, 1, INT_MIN}, {-1, 16, 1, 2016},     {37800, 16, 99, 2016},
        {1, 16, 1, 4032},   {INT_MAX, 16, 0, 4032},  {37800, 16, -1, 4032}, {0, 0, 0, 0},
    };
    for (const auto& f : fields)
    {
        std::memcpy(&record[0x80210], f, sizeof(f));
        EXPECT_EQ(1, plugin().SPUfreeze(0, asRecord(record)));
        render(3000);
    }
    for (unsigned short w : readSoundRam(0, 1024))
        ASSERT_EQ(0, w);
}
