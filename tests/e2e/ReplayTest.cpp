// spuhost replay and spuhost info on event logs written here byte by byte, as an
// independent producer of "spulog.spu" would: durations, time stamps, the snapshot,
// and every way a hostile log can break the layout.

#include "HostFixture.h"
#include "support/Bytes.h"
#include "support/HostRun.h"
#include "support/LogBuilder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
class ReplayTest : public HostTest
{
protected:
    HostRun replay(const std::string& log = "spulog.spu")
    {
        return runHost(dir, "replay '" SPU_PLUGIN_PATH "' " + log + " --wav out.wav --out out.raw");
    }
    // Expects the replay and info to refuse the log with an error naming the offset
    // (and saying `what`).
    void expectRejected(const LogBuilder& log, const std::string& offset, const std::string& what = "")
    {
        log.save(file("spulog.spu"));
        const HostRun run = replay();
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("offset " + offset), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(what), std::string::npos) << run.err;
        // Under the sanitizer build a memory fault also ends in a non-zero status.
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
        EXPECT_NE(access(file("out.wav").c_str(), F_OK), 0) << "output written for a broken log";
        EXPECT_NE(access(file("out.raw").c_str(), F_OK), 0);
        const HostRun info = runHost(dir, "info spulog.spu");
        EXPECT_NE(info.status, 0);
        EXPECT_NE(info.err.find("offset " + offset), std::string::npos) << info.err;
        EXPECT_NE(info.err.find(what), std::string::npos) << info.err;
    }
};

TEST_F(ReplayTest, DurationZeroGivesAnEmptyWav)
{
    LogBuilder(0).save(file("spulog.spu"));
    const HostRun run = replay();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> wav = readFileBytes(file("out.wav"));
    ASSERT_EQ(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), 36u);
    EXPECT_EQ(le32(wav, 40), 0u);
    EXPECT_TRUE(readFileBytes(file("out.raw")).empty());
}

TEST_F(ReplayTest, RendersTheRecordedDuration)
{
    LogBuilder(44100).save(file("spulog.spu"));
    const HostRun run = replay();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> wav = readFileBytes(file("out.wav"));
    ASSERT_EQ(wav.size(), 44u + 44100 * 4);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le16(wav, 20), 1);       // PCM
    EXPECT_EQ(le16(wav, 22), 2);       // stereo
    EXPECT_EQ(le32(wav, 24), 44100u);  // frames per second
    EXPECT_EQ(le32(wav, 28), 176400u); // bytes per second
    EXPECT_EQ(le16(wav, 32), 4);
    EXPECT_EQ(le16(wav, 34), 16);
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(le32(wav, 40), 176400u);
    const std::vector<unsigned char> raw = readFileBytes(file("out.raw"));
    EXPECT_EQ(raw, std::vector<unsigned char>(wav.begin() + 44, wav.end()));
}

TEST_F(ReplayTest, EntriesPlayAtTheirTimeStampsOverTheSnapshot)
{
    // The snapshot holds the tone at 0x1000 and the main volume; the entries set up
    // voice 0 at frame 0, key it on at frame 100, copy the tone to 0x2000 by DMA at
    // frame 700 and move voice 1 there, keyed on at frame 1500, until frame 3000.
    std::vector<uint16_t> ram(0x1000 / 2, 0);
    const std::vector<uint16_t> tone = toneBlocks();
    ram.insert(ram.end(), tone.begin(), tone.end());
    std::vector<uint16_t> registers(256, 0);
    registers[(0x1D80 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1D82 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1DAA - 0x1C00) / 2] = 0xC000;
    struct Write
    {
        uint32_t time, address;
        uint16_t value;
    };
    const std::vector<Write> writes = {
        {0, 0x1F801C00, 0x3FFF},    {0, 0x1F801C02, 0x2000},    {0, 0x1F801C04, 0x1000},
        {0, 0x1F801C06, 0x0200},    {0, 0x1F801C08, 0x000F},    {0, 0x1F801C0A, 0x0000},
        {100, 0x1F801D88, 0x0001},  {700, 0x1F801DAA, 0xC020},  {700, 0x1F801DA6, 0x0400},
        {1500, 0x1F801C10, 0x1000}, {1500, 0x1F801C12, 0x3FFF}, {1500, 0x1F801C14, 0x0800},
        {1500, 0x1F801C16, 0x0400}, {1500, 0x1F801C18, 0x000F}, {1500, 0x1F801D88, 0x0002}};
    const uint32_t duration = 3000;
    LogBuilder log(duration, ram, registers);
    for (const Write& w : writes)
    {
        log.regWrite(w.time, w.address, w.value);
        if (w.address == 0x1F801DA6)
            log.dmaWrite(w.time, tone);
    }
    log.save(file("spulog.spu"));
    const HostRun run = replay();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> replayed = readFileBytes(file("out.raw"));
    ASSERT_EQ(replayed.size(), duration * 4);

    // The same calls made here through the plugin's exports, frame for frame.
    Plugin& host = plugin();
    ASSERT_NE(host.SPUfreeze, nullptr);
    ASSERT_NE(host.SPUrender, nullptr);
    host.SPUinit();
    std::vector<unsigned char> record(FreezeRecordSize, 0);
    std::memcpy(record.data(), "DIRIR", 6);
    std::memcpy(record.data() + 16, log.bytes.data() + 0x80000, 512);
    std::memcpy(record.data() + 528, log.bytes.data(), 0x80000);
    host.SPUfreeze(0, reinterpret_cast<SPUFreeze_t*>(record.data()));
    std::vector<short> frames(2 * duration);
    uint32_t now = 0;
    for (const Write& w : writes)
    {
        host.SPUrender(frames.data() + 2 * now, (w.time - now) * 4);
        now = w.time;
        host.SPUwriteRegister(w.address, w.value);
        if (w.address == 0x1F801DA6)
        {
            std::vector<uint16_t> words = tone;
            host.SPUwriteDMAMem(words.data(), static_cast<int>(words.size()));
        }
    }
    host.SPUrender(frames.data() + 2 * now, (duration - now) * 4);
    host.SPUshutdown();

    std::vector<unsigned char> expected;
    for (short s : frames)
        put16(expected, static_cast<uint16_t>(s));
    EXPECT_EQ(replayed, expected);
    int sounding = 0;
    for (size_t i = 0; i < frames.size(); ++i)
        sounding += frames[i] != 0;
    EXPECT_GT(sounding, 1000) << "the scene is silent, so the comparison proves little";
    for (size_t i = 0; i < 2 * 100; ++i)
        ASSERT_EQ(frames[i], 0) << "sound before the key-on at frame 100";
}

TEST_F(ReplayTest, InfoDescribesALog)
{
    LogBuilder log(88200);
    log.regWrite(0, 0x1F801C00, 1).regWrite(5, 0x1F801C02, 2).dmaWrite(9, {1, 2, 3});
    log.header(10, 1);
    put32(log.bytes, 0x1F801DAE);
    log.header(11, 5);
    put32(log.bytes, 4);
    put32(log.bytes, 0);
    log.save(file("spulog.spu"));
    const HostRun run = runHost(dir, "info spulog.spu");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("duration: 88200 frames (2.000 s)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("REGwrite: 2\nREGread: 1\nDMAwrite: 1\nDMAread: 0\nXAplay: 0\nCDDAplay: 1\n"),
              std::string::npos)
        << run.out;
}

TEST_F(ReplayTest, InfoStillDescribesAPlugin)
{
    const HostRun run = runHost(dir, "info '" SPU_PLUGIN_PATH "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("name: Talvane SPU Plugin\n"), std::string::npos) << run.out;
}

TEST_F(ReplayTest, TruncatedHeadIsRejected)
{
    writeFileBytes(file("spulog.spu"), std::vector<unsigned char>(0x80000, 0));
    const HostRun run = replay();
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("offset 0x80000"), std::string::npos) << run.err;
    EXPECT_NE(access(file("out.wav").c_str(), F_OK), 0);
}

TEST_F(ReplayTest, MissingLogIsRejected)
{
    const HostRun run = replay("nothing.spu");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("nothing.spu"), std::string::npos) << run.err;
}

TEST_F(ReplayTest, TruncatedEntryHeaderIsRejected)
{
    LogBuilder log(10);
    log.regWrite(0, 0x1F801C00, 1);
    log.bytes.insert(log.bytes.end(), {0, 0, 0});
    expectRejected(log, "0x8020F");
}

TEST_F(ReplayTest, TruncatedRegisterWriteIsRejected)
{
    LogBuilder log(10);
    log.header(0, 0);
    put32(log.bytes, 0x1F801C00);
    expectRejected(log, "0x80204");
}

TEST_F(ReplayTest, DMACountBeyondTheFileIsRejected)
{
    LogBuilder log(10);
    log.regWrite(0, 0x1F801C00, 1).header(1, 2);
    put32(log.bytes, 1000);
    for (int i = 0; i < 10; ++i)
        put16(log.bytes, 0x1234);
    expectRejected(log, "0x8020F");
}

TEST_F(ReplayTest, HugeCDDACountIsRejected)
{
    LogBuilder log(10);
    log.header(0, 5);
    put32(log.bytes, 0x7FFFFFFF);
    put32(log.bytes, 0);
    expectRejected(log, "0x80204");
}

TEST_F(ReplayTest, TruncatedXARecordIsRejected)
{
    LogBuilder log(10);
    log.header(2, 4);
    log.bytes.resize(log.bytes.size() + 32799, 0);
    expectRejected(log, "0x80204");
}

TEST_F(ReplayTest, NegativeCountsAreRejected)
{
    for (unsigned char type : {2, 3, 5})
    {
        LogBuilder log(10);
        log.header(0, type);
        put32(log.bytes, static_cast<uint32_t>(-5));
        put32(log.bytes, 0);
        SCOPED_TRACE(static_cast<int>(type));
        expectRejected(log, "0x80204");
    }
}

TEST_F(ReplayTest, UnknownTypesAreRejected)
{
    for (unsigned char type : {6, 0xFF})
    {
        LogBuilder log(10);
        log.regWrite(0, 0x1F801C00, 1).header(0, type);
        put32(log.bytes, 0);
        put16(log.bytes, 0);
        SCOPED_TRACE(static_cast<int>(type));
        expectRejected(log, "0x8020F");
    }
}

TEST_F(ReplayTest, TimeStampGoingBackwardsIsRejected)
{
    LogBuilder log(1000);
    log.regWrite(100, 0x1F801C00, 1).regWrite(100, 0x1F801C00, 2).regWrite(99, 0x1F801C00, 3);
    expectRejected(log, "0x8021A");
}

TEST_F(ReplayTest, TimeStampBeyondTheDurationIsRejected)
{
    LogBuilder log(1000);
    log.regWrite(1000, 0x1F801C00, 1).regWrite(1001, 0x1F801C00, 2);
    expectRejected(log, "0x8020F");
}

// Sound RAM holds 0x40000 words; a transfer past its end wraps round, so a longer
// one only asks the player for work (2^31 words took seconds per entry).
TEST_F(ReplayTest, TransfersOfMoreWordsThanSoundRamAreRejected)
{
    {
        SCOPED_TRACE("DMA read");
        LogBuilder log(10);
        log.regWrite(0, 0x1F801DA6, 0).dmaRead(1, 0x40001);
        expectRejected(log, "0x8020F", "DMAread of 262145 words is more than sound RAM holds (262144)");
    }
    {
        SCOPED_TRACE("DMA read of 2^31 - 1 words");
        LogBuilder log(10);
        log.dmaRead(0, 0x7FFFFFFF);
        expectRejected(log, "0x80204", "more than sound RAM holds");
    }
    {
        SCOPED_TRACE("DMA write, all its words present");
        LogBuilder log(10);
        log.regWrite(0, 0x1F801DA6, 0).dmaWrite(0, std::vector<uint16_t>(0x40001, 0x1234));
        expectRejected(log, "0x8020F", "DMAwrite of 262145 words is more than sound RAM holds");
    }
}

TEST_F(ReplayTest, TransfersOfAllSoundRamPlay)
{
    std::vector<uint16_t> ram(0x40000);
    for (size_t i = 0; i < ram.size(); ++i)
        ram[i] = static_cast<uint16_t>(i * 40503u);
    LogBuilder log(100);
    log.regWrite(0, 0x1F801DA6, 0).dmaWrite(0, ram).regWrite(50, 0x1F801DA6, 0).dmaRead(50, 0x40000);
    log.save(file("spulog.spu"));
    const HostRun run = replay();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readFileBytes(file("out.raw")).size(), 100u * 4);
    const HostRun info = runHost(dir, "info spulog.spu");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("REGwrite: 2\nREGread: 0\nDMAwrite: 1\nDMAread: 1\n"), std::string::npos)
        << info.out;
}

// 24 hours at 44100 Hz are 3 810 240 000 frames; a 4-byte duration past that is
// damage, and would have the replay render for minutes into gigabytes.
TEST_F(ReplayTest, DurationOver24HoursIsRejectedAsDamaged)
{
    expectRejected(LogBuilder(3810240001u), "0x80200", "is over 24 hours");
    expectRejected(LogBuilder(0xFFFFFFFFu), "0x80200", "the log is damaged");

    LogBuilder(3810240000u).save(file("spulog.spu"));
    const HostRun info = runHost(dir, "info spulog.spu");
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("duration: 3810240000 frames (86400.000 s)\n"), std::string::npos) << info.out;
}

TEST_F(ReplayTest, AFewFramesPlay)
{
    LogBuilder(5).save(file("spulog.spu"));
    const HostRun run = replay();
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<unsigned char> wav = readFileBytes(file("out.wav"));
    ASSERT_EQ(wav.size(), 44u + 5 * 4);
    EXPECT_EQ(le32(wav, 4), 36u + 5 * 4);
    EXPECT_EQ(le32(wav, 40), 5u * 4);
    EXPECT_EQ(readFileBytes(file("out.raw")).size(), 5u * 4);
}

// A WAV header's sizes are 32-bit: the RIFF size, 36 + 4 bytes a frame, fits up to
// 1 073 741 814 frames. A longer replay with --wav is refused before any file is
// opened, instead of writing gigabytes under a header that lies.
TEST_F(ReplayTest, WavPastWhatItsHeaderCountsIsRefusedBeforeAnythingIsWritten)
{
    LogBuilder(1073741815u).save(file("spulog.spu"));
    const std::vector<unsigned char> earlier = {'k', 'e', 'e', 'p'};
    writeFileBytes(file("out.wav"), earlier);
    const HostRun run = replay();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(
        run.err.find("spuhost replay: spulog.spu: 1073741815 frames do not fit a WAV file, which holds at "
                     "most 1073741814 frames"),
        std::string::npos)
        << run.err;
    EXPECT_EQ(readFileBytes(file("out.wav")), earlier) << "the earlier file was touched";
    EXPECT_NE(access(file("out.raw").c_str(), F_OK), 0) << "the raw file was opened";

    const HostRun wavOnly = runHost(dir, "replay '" SPU_PLUGIN_PATH "' spulog.spu --wav new.wav");
    EXPECT_EQ(wavOnly.status, 1);
    EXPECT_NE(access(file("new.wav").c_str(), F_OK), 0);
}

TEST_F(ReplayTest, ReplayWithoutOutputIsAUsageError)
{
    LogBuilder(10).save(file("spulog.spu"));
    const HostRun run = runHost(dir, "replay '" SPU_PLUGIN_PATH "' spulog.spu");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
}
} // namespace
