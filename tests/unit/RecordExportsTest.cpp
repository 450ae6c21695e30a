// The recorder as the exports drive it: each entry point logs its event first,
// with the bytes of the log format, and SPUclose finalises the recording. The last
// test records a scene and plays the log back with spuhost and the built plugin.

#include "support/ScratchDir.h"

#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"
#include "support/Bytes.h"
#include "synth/XaDecode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>

namespace
{
const size_t Head = 0x80204;

class RecordExportsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.ok()) << scratch.error();
        SPUinit(); // reads ./cfg in the temporary folder
        Record::ConfigRecOpt = 0x3F;
    }
    void TearDown() override
    {
        SPUclose();
        SPUshutdown();
        Record::ConfigRecOpt = 0;
    }

    static void startRecordingNow()
    {
        enterCS();
        const bool started = startRecording(theSPU, theRecord);
        leaveCS();
        ASSERT_TRUE(started);
    }
    // Renders through the export and keeps the frames.
    void render(unsigned long frames)
    {
        std::vector<short> buffer(2 * frames);
        SPUrender(buffer.data(), 4 * frames);
        rendered.insert(rendered.end(), buffer.begin(), buffer.end());
    }
    static void header(std::vector<unsigned char>& bytes, uint32_t time, unsigned char type)
    {
        put32(bytes, time);
        bytes.push_back(type);
    }

    ScratchDir scratch{ScratchDir::WorkInside};
    std::vector<short> rendered;
};

TEST_F(RecordExportsTest, EveryExportLogsItsEntryBeforeItsWork)
{
    render(40); // the time stamps count from the start of the recording, not from SPUinit
    startRecordingNow();
    std::vector<unsigned char> expected;

    render(10);
    SPUwriteRegister(0x1F801DA6, 0x0100);
    header(expected, 10, 0);
    put32(expected, 0x1F801DA6);
    put16(expected, 0x0100);

    SPUwriteDMA(0xABCD);
    header(expected, 10, 2);
    put32(expected, 1);
    put16(expected, 0xABCD);

    unsigned short words[3] = {0x0102, 0x8000, 0xFFFF};
    SPUwriteDMAMem(words, 3);
    header(expected, 10, 2);
    put32(expected, 3);
    for (unsigned short w : words)
        put16(expected, w);

    render(5);
    SPUreadRegister(0x1F801DAE);
    header(expected, 15, 1);
    put32(expected, 0x1F801DAE);

    SPUreadDMA();
    header(expected, 15, 3);
    put32(expected, 1);

    unsigned short readBack[4];
    SPUreadDMAMem(readBack, 4);
    header(expected, 15, 3);
    put32(expected, 4);

    // 8064 samples is the count that the stream takes for a byte count and rewrites;
    // the log keeps the record as the host passed it.
    xa_decode_t xa = {};
    xa.freq = 37800;
    xa.stereo = 1;
    xa.nsamples = 8064;
    for (int i = 0; i < 16384; ++i)
        xa.pcm[i] = static_cast<int16_t>(i * 5);
    const xa_decode_t asPassed = xa;
    SPUplayADPCMchannel(&xa);
    header(expected, 15, 4);
    const unsigned char* xaBytes = reinterpret_cast<const unsigned char*>(&asPassed);
    expected.insert(expected.end(), xaBytes, xaBytes + sizeof(asPassed));

    short cdda[4] = {100, -100, 0x7FFF, -0x8000};
    SPUplayCDDAchannel(cdda, 8);
    header(expected, 15, 5);
    put32(expected, 8);
    for (short s : cdda)
        put16(expected, static_cast<uint16_t>(s));

    render(20);
    SPUclose();
    EXPECT_EQ(theRecord, nullptr);

    const std::vector<unsigned char> log = readFileBytes("spulog.spu");
    ASSERT_EQ(log.size(), Head + expected.size());
    EXPECT_EQ(le32(log, 0x80200), 35u);
    EXPECT_EQ(std::vector<unsigned char>(log.begin() + Head, log.end()), expected);
}

TEST_F(RecordExportsTest, NoOptionsLogNothingThroughTheExports)
{
    Record::ConfigRecOpt = 0;
    startRecordingNow();
    unsigned short words[2] = {1, 2};
    SPUwriteRegister(0x1F801C00, 1);
    SPUreadRegister(0x1F801C00);
    SPUwriteDMAMem(words, 2);
    SPUreadDMAMem(words, 2);
    render(7);
    SPUclose();
    const std::vector<unsigned char> log = readFileBytes("spulog.spu");
    ASSERT_EQ(log.size(), Head);
    EXPECT_EQ(le32(log, 0x80200), 7u);
}

TEST_F(RecordExportsTest, RecordingClosedAtOnceLastsZeroFrames)
{
    render(1000);
    startRecordingNow();
    SPUclose();
    EXPECT_EQ(le32(readFileBytes("spulog.spu"), 0x80200), 0u);
}

TEST_F(RecordExportsTest, DurationCountsTheFramesOfSPUrender)
{
    render(1000);
    startRecordingNow();
    std::vector<short> buffer(2 * 44100 + 2);
    SPUrender(buffer.data(), 4 * 44000 + 3); // the odd bytes make no frame
    SPUrender(buffer.data(), 4 * 100);
    SPUclose();
    EXPECT_EQ(le32(readFileBytes("spulog.spu"), 0x80200), 44100u);
}

TEST_F(RecordExportsTest, CloseEndsTheRecording)
{
    startRecordingNow();
    SPUwriteRegister(0x1F801C00, 1);
    SPUclose();
    EXPECT_EQ(theRecord, nullptr);
    SPUwriteRegister(0x1F801C00, 2); // after the close: nothing more is logged
    EXPECT_EQ(readFileBytes("spulog.spu").size(), Head + 11);
}

// A looping ADPCM tone of four blocks (filter 0, shift 4), as words for DMA.
std::vector<unsigned short> toneBlocks(int variant)
{
    std::vector<unsigned char> bytes;
    for (int block = 0; block < 4; ++block)
    {
        bytes.push_back(0x04);
        bytes.push_back(block == 0 ? 0x04 : block == 3 ? 0x03 : 0x00); // loop start; end and repeat
        for (int i = 0; i < 14; ++i)
            bytes.push_back(static_cast<unsigned char>((block + variant) % 2 == 0 ? 0x70 + i : 0x9F - i));
    }
    std::vector<unsigned short> words;
    for (size_t i = 0; i < bytes.size(); i += 2)
        words.push_back(static_cast<unsigned short>(bytes[i] | bytes[i + 1] << 8));
    return words;
}

TEST_F(RecordExportsTest, ReplayOfARecordedSceneRendersTheSameFrames)
{
    // Before the recording: a tone in sound RAM and the main volume, which the
    // replay must take from the log's snapshot.
    std::vector<unsigned short> tone = toneBlocks(0);
    SPUwriteRegister(0x1F801DAA, 0xC020);
    SPUwriteRegister(0x1F801DA6, 0x1000 / 8);
    SPUwriteDMAMem(tone.data(), static_cast<int>(tone.size()));
    SPUwriteRegister(0x1F801D80, 0x3FFF);
    SPUwriteRegister(0x1F801D82, 0x3000);
    render(300);
    rendered.clear();

    startRecordingNow();
    render(17);
    SPUwriteRegister(0x1F801C00, 0x3FFF); // voice 0: the tone at 0x1000
    SPUwriteRegister(0x1F801C02, 0x2000);
    SPUwriteRegister(0x1F801C04, 0x1000);
    SPUwriteRegister(0x1F801C06, 0x1000 / 8);
    SPUwriteRegister(0x1F801C08, 0x000F);
    SPUwriteRegister(0x1F801C0A, 0x0000);
    SPUwriteRegister(0x1F801D88, 0x0001);
    render(1000);
    SPUreadRegister(0x1F801DAE);
    SPUreadRegister(0x1F801D9C);
    // A second tone at 0x2000, one word at a time, then read back by block.
    std::vector<unsigned short> second = toneBlocks(1);
    SPUwriteRegister(0x1F801DA6, 0x2000 / 8);
    for (unsigned short word : second)
        SPUwriteDMA(word);
    SPUwriteRegister(0x1F801DA6, 0x2000 / 8);
    std::vector<unsigned short> readBack(second.size());
    SPUreadDMAMem(readBack.data(), static_cast<int>(readBack.size()));
    EXPECT_EQ(readBack, second);
    SPUwriteRegister(0x1F801C10, 0x2000); // voice 1: the second tone at 0x2000
    SPUwriteRegister(0x1F801C12, 0x3FFF);
    SPUwriteRegister(0x1F801C14, 0x0C00);
    SPUwriteRegister(0x1F801C16, 0x2000 / 8);
    SPUwriteRegister(0x1F801C18, 0x000F);
    SPUwriteRegister(0x1F801D88, 0x0002);
    render(2345);
    short cdda[2 * 64];
    for (int i = 0; i < 2 * 64; ++i)
        cdda[i] = static_cast<short>(i * 300 - 20000);
    SPUplayCDDAchannel(cdda, sizeof(cdda));
    render(500);
    SPUwriteRegister(0x1F801D8C, 0x0001); // key off voice 0
    render(3001);
    SPUclose();

    const std::vector<unsigned char> log = readFileBytes("spulog.spu");
    ASSERT_GT(log.size(), Head);
    ASSERT_EQ(le32(log, 0x80200), rendered.size() / 2);
    int sounding = 0;
    for (short s : rendered)
        sounding += s != 0;
    ASSERT_GT(sounding, 5000) << "a silent scene would prove nothing";

    const std::string command = "'" SPU_HOST_PATH "' replay '" SPU_PLUGIN_PATH
                                "' spulog.spu --wav replay.wav --out replay.raw 2>replay.err";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << std::string(readFileBytes("replay.err").begin(), readFileBytes("replay.err").end());
    std::vector<unsigned char> expected;
    for (short s : rendered)
        put16(expected, static_cast<uint16_t>(s));
    const std::vector<unsigned char> raw = readFileBytes("replay.raw");
    ASSERT_EQ(raw.size(), expected.size());
    size_t firstDifference = 0;
    while (firstDifference < raw.size() && raw[firstDifference] == expected[firstDifference])
        ++firstDifference;
    EXPECT_EQ(firstDifference, raw.size()) << "first different frame " << firstDifference / 4;
    const std::vector<unsigned char> wav = readFileBytes("replay.wav");
    ASSERT_EQ(wav.size(), 44 + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), wav.begin() + 44));
}
} // namespace
