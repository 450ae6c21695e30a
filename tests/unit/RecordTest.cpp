// The event recorder at its own interface: the head of "spulog.spu", the duration,
// the layout of each entry type and the option bits that select them.

#include "support/ScratchDir.h"

#include "plugin/Globals.h"
#include "record/Record.h"
#include "support/Bytes.h"
#include "synth/XaDecode.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace
{
const size_t Head = 0x80204;

class RecordTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.ok()) << scratch.error();
        theSPU.init();
        Record::ConfigRecOpt = 0x3F;
    }
    void TearDown() override
    {
        if (running)
            recorder.stopRecord();
        Record::ConfigRecOpt = 0;
    }

    void start()
    {
        running = true;
        ASSERT_TRUE(recorder.startRecord(&theSPU));
    }
    std::vector<unsigned char> stop()
    {
        recorder.stopRecord();
        running = false;
        return readFileBytes("spulog.spu");
    }
    static void render(int frames)
    {
        short left, right;
        for (int i = 0; i < frames; ++i)
            theSPU.playSound(left, right);
    }
    // Logs one event of every type.
    void logEveryType()
    {
        unsigned short words[2] = {0x1111, 0x2222};
        xa_decode_t xa = {};
        short cdda[2] = {1, 2};
        recorder.logREGwrite(0x1F801C00, 1);
        recorder.logREGread(0x1F801C00);
        recorder.logDMAwrite(words, 2);
        recorder.logDMAread(2);
        recorder.logXAplay(&xa);
        recorder.logCDDAplay(cdda, 4);
    }

    ScratchDir scratch{ScratchDir::WorkInside};
    Record recorder;
    bool running = false;
};

TEST_F(RecordTest, NoOptionsLeaveOnlyTheHead)
{
    Record::ConfigRecOpt = 0;
    start();
    logEveryType();
    render(10);
    const std::vector<unsigned char> log = stop();
    EXPECT_EQ(log.size(), 0x80204u);
    EXPECT_EQ(le32(log, 0x80200), 10u);
}

TEST_F(RecordTest, HeadHoldsSoundRamAndRegisterImageAsTheyWereAtTheStart)
{
    unsigned short* ram = theSPU.getSoundBuffer();
    for (int i = 0; i < SPU::SoundBufferWords; ++i)
        ram[i] = static_cast<unsigned short>(i * 7 + 3);
    theSPU.writeRegister(0x1F801D80, 0x1234); // main volume left: image index 0xC0
    theSPU.writeRegister(0x1F801C06, 0xBEEF); // voice 0 start address: index 3
    start();
    ram[5] = 0;
    theSPU.writeRegister(0x1F801D80, 0x5555);
    const std::vector<unsigned char> log = stop(); // the SPU's own changes are not logged

    ASSERT_EQ(log.size(), Head);
    for (int i = 0; i < SPU::SoundBufferWords; ++i)
        ASSERT_EQ(le16(log, 2 * i), static_cast<unsigned short>(i * 7 + 3)) << "word " << i;
    EXPECT_EQ(le16(log, 0x80000 + 2 * 0xC0), 0x1234);
    EXPECT_EQ(le16(log, 0x80000 + 2 * 3), 0xBEEF);
}

TEST_F(RecordTest, RecordingStoppedAtOnceLastsZeroFrames)
{
    render(123); // the tick count is not zero at the start
    start();
    EXPECT_EQ(le32(stop(), 0x80200), 0u);
}

TEST_F(RecordTest, DurationCountsTheFramesRenderedSinceTheStart)
{
    render(500);
    start();
    render(44100);
    EXPECT_EQ(le32(stop(), 0x80200), 44100u);
}

TEST_F(RecordTest, TimeStampsAreFramesSinceTheStart)
{
    render(77);
    start();
    recorder.logREGread(0x1F801DAE);
    render(250);
    recorder.logREGread(0x1F801DAE);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 18);
    EXPECT_EQ(le32(log, Head), 0u);
    EXPECT_EQ(le32(log, Head + 9), 250u);
}

TEST_F(RecordTest, RegisterWriteKeepsTheLowSixteenBitsOfTheValue)
{
    start();
    unsigned long value = 0x12345;
    recorder.logREGwrite(0x1F801C00, value); // converted as a host passing an unsigned short does
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 11);
    EXPECT_EQ(le16(log, Head + 9), 0x2345);
}

TEST_F(RecordTest, RegisterAddressIsLoggedAsPassed)
{
    start();
    recorder.logREGread(0x1F801DFF); // odd and at the window's end
    recorder.logREGwrite(0x00001234, 7);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 9 + 11);
    EXPECT_EQ(log[Head + 4], Record::REGread);
    EXPECT_EQ(le32(log, Head + 5), 0x1F801DFFu);
    EXPECT_EQ(le32(log, Head + 9 + 5), 0x1234u);
}

TEST_F(RecordTest, TransfersOfNothingAreLoggedAsEmpty)
{
    const unsigned short word = 1;
    start();
    recorder.logDMAwrite(&word, -3);
    recorder.logDMAwrite(nullptr, 4);
    recorder.logDMAread(-1);
    recorder.logCDDAplay(nullptr, 8);
    recorder.logCDDAplay(reinterpret_cast<const short*>(&word), -2);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 5 * 9);
    for (size_t at = Head; at < log.size(); at += 9)
        EXPECT_EQ(le32(log, at + 5), 0u) << "entry at " << at;
}

TEST_F(RecordTest, TransferLargerThanSoundRamIsLoggedInEntriesThatFitIt)
{
    // 0x40000 words is all of sound RAM; a longer transfer wraps round it, and a
    // log reader refuses an entry that announces more.
    const int words = 2 * 0x40000 + 3;
    std::vector<unsigned short> data(words);
    for (int i = 0; i < words; ++i)
        data[i] = static_cast<unsigned short>(i * 7);
    start();
    recorder.logDMAwrite(data.data(), words);
    recorder.logDMAread(0x40001);
    const std::vector<unsigned char> log = stop();

    size_t at = Head;
    const uint32_t writes[] = {0x40000, 0x40000, 3};
    int next = 0;
    for (uint32_t count : writes)
    {
        ASSERT_LE(at + 9 + 2 * count, log.size());
        EXPECT_EQ(2, log[at + 4]) << "a DMA write";
        ASSERT_EQ(count, le32(log, at + 5));
        for (uint32_t i = 0; i < count; ++i, ++next)
            ASSERT_EQ(data[next], log[at + 9 + 2 * i] | log[at + 10 + 2 * i] << 8) << "word " << next;
        at += 9 + 2 * count;
    }
    const uint32_t reads[] = {0x40000, 1};
    for (uint32_t count : reads)
    {
        ASSERT_LE(at + 9, log.size());
        EXPECT_EQ(3, log[at + 4]) << "a DMA read";
        EXPECT_EQ(count, le32(log, at + 5));
        at += 9;
    }
    EXPECT_EQ(log.size(), at);
}

TEST_F(RecordTest, CDDAEntryHoldsTheCountAndTheBytes)
{
    const short samples[3] = {0x0102, -2, 0x7FFF};
    start();
    recorder.logCDDAplay(samples, 5); // an odd byte count is kept as passed
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 9 + 5);
    EXPECT_EQ(log[Head + 4], Record::CDDAplay);
    EXPECT_EQ(le32(log, Head + 5), 5u);
    const std::vector<unsigned char> expected = {0x02, 0x01, 0xFE, 0xFF, 0xFF};
    EXPECT_EQ(std::vector<unsigned char>(log.begin() + Head + 9, log.end()), expected);
}

TEST_F(RecordTest, EachOptionBitSelectsOnlyItsType)
{
    for (int type = 0; type < 6; ++type)
    {
        Record::ConfigRecOpt = 1 << type;
        start();
        logEveryType();
        const std::vector<unsigned char> log = stop();
        ASSERT_GT(log.size(), Head) << "type " << type;
        EXPECT_EQ(log[Head + 4], type);
        const size_t sizes[6] = {11, 9, 13, 9, 32805, 13};
        EXPECT_EQ(log.size(), Head + sizes[type]) << "type " << type;
    }
}

TEST_F(RecordTest, OptionChangeTakesEffectAtTheNextEvent)
{
    Record::ConfigRecOpt = 0x01;
    start();
    recorder.logREGwrite(0x1F801C00, 1);
    Record::ConfigRecOpt = 0x02;
    recorder.logREGwrite(0x1F801C00, 2);
    recorder.logREGread(0x1F801C00);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head + 11 + 9);
    EXPECT_EQ(log[Head + 11 + 4], Record::REGread);
}

TEST_F(RecordTest, NewRecordingReplacesTheOldFile)
{
    writeFileBytes("spulog.spu", std::vector<unsigned char>(0x90000, 0xAA));
    Record::ConfigRecOpt = 0;
    start();
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), Head);
    EXPECT_EQ(log[0x1000], 0); // sound RAM is clear after init
    EXPECT_EQ(le32(log, 0x80200), 0u);
}

TEST_F(RecordTest, FileThatCannotBeCreatedWritesNothing)
{
    ASSERT_EQ(mkdir("spulog.spu", 0755), 0); // a directory of that name: no file can be made, even by root
    Record failed;
    EXPECT_FALSE(failed.startRecord(&theSPU));
    failed.logREGwrite(0x1F801C00, 1); // no stream: these must do nothing
    failed.logCDDAplay(nullptr, 0);
    failed.stopRecord();
    struct stat info;
    ASSERT_EQ(stat("spulog.spu", &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}
} // namespace
