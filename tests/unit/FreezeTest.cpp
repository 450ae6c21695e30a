#include "plugin/Freeze.h"
#include "plugin/Globals.h"
#include "synth/Envelope.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

namespace
{
const unsigned long KeyOnLo = 0x1F801D88;
const unsigned long KeyOffLo = 0x1F801D8C;

unsigned long voiceRegister(int voice, int offset)
{
    return 0x1F801C00UL + 16 * voice + offset;
}

class FreezeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StreamSound::ConfigWaitForXABufferIsFree = 0;
        theSPU.init();
        // ADPCM blocks with shift 0, filter 0 and a ramp of nibbles, no loop flags.
        unsigned char* ram = reinterpret_cast<unsigned char*>(theSPU.getSoundBuffer());
        for (int block = 0; block < 512; ++block)
        {
            unsigned char* b = ram + 0x1000 + 16 * block;
            b[0] = 0x00;
            b[1] = 0x00;
            for (int i = 2; i < 16; ++i)
                b[i] = static_cast<unsigned char>(0x11 * ((block + i) & 7));
        }
        record.reset(new SPUFreeze_t());
        for (int v = 0; v < 8; ++v)
        {
            theSPU.writeRegister(voiceRegister(v, 0), 0x3FFF);
            theSPU.writeRegister(voiceRegister(v, 2), 0x3FFF);
            theSPU.writeRegister(voiceRegister(v, 4), 0x1000);
            theSPU.writeRegister(voiceRegister(v, 6), 0x0200); // 0x1000 bytes
            theSPU.writeRegister(voiceRegister(v, 8), 0x00FF); // fast linear attack
            theSPU.writeRegister(voiceRegister(v, 10), 0x1FC0);
        }
    }

    void render(int frames)
    {
        short left, right;
        for (int i = 0; i < frames; ++i)
            theSPU.playSound(left, right);
    }

    std::unique_ptr<SPUFreeze_t> record;
};
} // namespace

TEST_F(FreezeTest, KeyedOnVoicesRestartAndOthersTakeTheReplayedLevel)
{
    theSPU.writeRegister(KeyOnLo, 0x0020); // voice 5 starts first
    render(100);
    theSPU.writeRegister(KeyOnLo, 0x0009); // then voices 0 and 3: the last key-on value
    render(3000);
    ASSERT_GT(theSPU.getVoice(5).getCurrentADSRVolume(), 0);
    ASSERT_EQ(1, freezeSPU(1, record.get()));

    render(3000);
    const int movedAddress = theSPU.getVoice(0).getCurrentAddress();
    ASSERT_NE(theSPU.getVoice(0).getStartAddress() & 0xFFFE, movedAddress);

    ASSERT_EQ(1, freezeSPU(0, record.get()));
    for (int v : {0, 3})
    {
        const Voice& voice = theSPU.getVoice(v);
        EXPECT_EQ(voice.getStartAddress() & 0xFFFE, voice.getCurrentAddress()) << "voice " << v;
        EXPECT_EQ(0x1000, voice.getPosition()) << "voice " << v;
        EXPECT_EQ(Envelope::Attack, voice.getEnvelope().getPhase()) << "voice " << v;
    }
    // Voice 5 is neither keyed on nor off by the replay: its envelope level is the
    // image of its register 0xC, never written, so 0.
    EXPECT_EQ(0, theSPU.getVoice(5).getCurrentADSRVolume());
}

TEST_F(FreezeTest, KeyOffWinsOverKeyOn)
{
    theSPU.writeRegister(KeyOnLo, 0x0003);
    render(500);
    theSPU.writeRegister(KeyOffLo, 0x0002);
    ASSERT_EQ(1, freezeSPU(1, record.get()));
    theSPU.init();
    ASSERT_EQ(1, freezeSPU(0, record.get()));
    EXPECT_EQ(Envelope::Attack, theSPU.getVoice(0).getEnvelope().getPhase());
    EXPECT_EQ(Envelope::Release, theSPU.getVoice(1).getEnvelope().getPhase());
}

TEST_F(FreezeTest, SavedRecordHasHeaderZeroXaPartAndReserved)
{
    std::memset(record.get(), 0x77, sizeof(SPUFreeze_t));
    theSPU.writeRegister(0x1F801DB0, 0x1234);
    ASSERT_EQ(1, freezeSPU(1, record.get()));
    EXPECT_EQ(0, std::memcmp(record->name, "DIRIR\0\0\0", 8));
    EXPECT_EQ(1u, record->version);
    EXPECT_EQ(558640u, record->size);
    EXPECT_EQ(0x1234, record->spuRegister[0x1B0 / 2]);
    const unsigned char* xa = reinterpret_cast<const unsigned char*>(&record->xa);
    for (size_t i = 0; i < sizeof(record->xa); ++i)
        ASSERT_EQ(0, xa[i]);
    for (unsigned char b : record->reserved)
        ASSERT_EQ(0, b);
    EXPECT_EQ(0, std::memcmp(record->soundBuffer, theSPU.getSoundBuffer(), sizeof(record->soundBuffer)));
}

TEST_F(FreezeTest, LoadQueuesXaUpTo4032FramesOnly)
{
    ASSERT_EQ(1, freezeSPU(1, record.get()));
    record->xa.freq = 37800;
    record->xa.stereo = 1;
    record->xa.nsamples = 4033;
    theSPU.init();
    ASSERT_EQ(1, freezeSPU(0, record.get()));
    EXPECT_EQ(0, theSPU.getStream().getWrite()) << "4033 is not queued";

    record->xa.nsamples = 4032;
    ASSERT_EQ(1, freezeSPU(0, record.get()));
    // 4032 stereo frames (16128 bytes) at 37800 Hz: need 9408, ring 18816,
    // pre-roll (18816 - 8064) / 2 = 5376 entries, then the 9408 resampled entries.
    EXPECT_EQ(18816, theSPU.getStream().getSize());
    EXPECT_EQ(5376 + 9408, theSPU.getStream().getWrite());
}

TEST_F(FreezeTest, HostileXaPartIsLoadedButNotQueued)
{
    ASSERT_EQ(1, freezeSPU(1, record.get()));
    theSPU.writeRegister(0x1F801D80, 0x1111);
    const int size = theSPU.getStream().getSize();
    const int32_t hostile[][3] = {
        {37800, 1, -1},   {37800, 1, INT_MIN}, {37800, 5, 2016}, {37800, INT_MIN, 100}, {-44100, 0, 4032},
        {96000, 1, 2016}, {1, 1, 4032},        {INT_MAX, 1, 1},  {37800, -1, 4032},
    };
    for (const auto& h : hostile)
    {
        record->xa.freq = h[0];
        record->xa.stereo = h[1];
        record->xa.nsamples = h[2];
        ASSERT_EQ(1, freezeSPU(0, record.get()));
        EXPECT_EQ(size, theSPU.getStream().getSize()) << h[0] << " " << h[1] << " " << h[2];
        EXPECT_EQ(0, theSPU.getStream().getWrite());
        EXPECT_EQ(h[2], record->xa.nsamples);
        EXPECT_EQ(0, theSPU.getSPURegister()[0x180 / 2]) << "the record was loaded all the same";
    }
}
