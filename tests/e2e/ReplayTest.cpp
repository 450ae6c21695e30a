// spuhost replay and spuhost info on event logs written here byte by byte, as an
// independent producer of "spulog.spu" would: durations, time stamps, the snapshot,
// and every way a hostile log can break the layout.

#include "HostFixture.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
const size_t Head = 0x80204;

struct HostRun
{
    int status = -1;
    std::string out;
    std::string err;
};

HostRun runHost(const std::string& dir, const std::string& args)
{
    const std::string command = "cd '" + dir + "' && '" SPU_HOST_PATH "' " + args + " >host.out 2>host.err";
    const int raw = std::system(command.c_str());
    HostRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const std::vector<unsigned char> out = readFileBytes(dir + "/host.out");
    const std::vector<unsigned char> err = readFileBytes(dir + "/host.err");
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

// A log with sound RAM and register image given as words; entries are appended.
struct LogBuilder
{
    std::vector<unsigned char> bytes;

    explicit LogBuilder(uint32_t duration, const std::vector<uint16_t>& ram = {},
                        const std::vector<uint16_t>& registers = {})
    {
        bytes.reserve(Head);
        for (size_t i = 0; i < 0x40000; ++i)
            put16(bytes, i < ram.size() ? ram[i] : 0);
        for (size_t i = 0; i < 256; ++i)
            put16(bytes, i < registers.size() ? registers[i] : 0);
        put32(bytes, duration);
    }
    LogBuilder& header(uint32_t time, unsigned char type)
    {
        put32(bytes, time);
        bytes.push_back(type);
        return *this;
    }
    LogBuilder& regWrite(uint32_t time, uint32_t address, uint16_t value)
    {
        header(time, 0);
        put32(bytes, address);
        put16(bytes, value);
        return *this;
    }
    LogBuilder& dmaWrite(uint32_t time, const std::vector<uint16_t>& words)
    {
        header(time, 2);
        put32(bytes, static_cast<uint32_t>(words.size()));
        for (uint16_t w : words)
            put16(bytes, w);
        return *this;
    }
    void save(const std::string& path) const { writeFileBytes(path, bytes); }
};

class ReplayTest : public HostTest
{
protected:
    HostRun replay(const std::string& log = "spulog.spu")
    {
        return runHost(dir, "replay '" SPU_PLUGIN_PATH "' " + log + " --wav out.wav --out out.raw");
    }
    // Expects the replay and info to refuse the log with an error naming the offset.
    void expectRejected(const LogBuilder& log, const std::string& offset)
    {
        log.save(file("spulog.spu"));
        const HostRun run = replay();
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("offset " + offset), std::string::npos) << run.err;
        // Under the sanitizer build a memory fault also ends in a non-zero status.
        EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
        EXPECT_NE(access(file("out.wav").c_str(), F_OK), 0) << "output written for a broken log";
        EXPECT_NE(access(file("out.raw").c_str(), F_OK), 0);
        const HostRun info = runHost(dir, "info spulog.spu");
        EXPECT_NE(info.status, 0);
        EXPECT_NE(info.err.find("offset " + offset), std::string::npos) << info.err;
    }

    std::string file(const std::string& name) const { return dir + "/" + name; }
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

// A looping ADPCM tone of four blocks: filter 0, shift 4, a rising and falling saw.
std::vector<uint16_t> toneBlocks()
{
    std::vector<unsigned char> bytes;
    for (int block = 0; block < 4; ++block)
    {
        bytes.push_back(0x04);                                  // shift 4, filter 0
        bytes.push_back(block == 0 ? 0x04 : block == 3 ? 0x03 : 0x00); // loop start; end + repeat
        for (int i = 0; i < 14; ++i)
            bytes.push_back(
                static_cast<unsigned char>(block < 2 ? 0x77 - (i & 3) * 0x11 : 0x99 + (i & 3) * 0x11));
    }
    std::vector<uint16_t> words;
    for (size_t i = 0; i < bytes.size(); i += 2)
        words.push_back(static_cast<uint16_t>(bytes[i] | bytes[i + 1] << 8));
    return words;
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
    std::vector<unsigned char> record(558640, 0);
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

TEST_F(ReplayTest, ReplayWithoutOutputIsAUsageError)
{
    LogBuilder(10).save(file("spulog.spu"));
    const HostRun run = runHost(dir, "replay '" SPU_PLUGIN_PATH "' spulog.spu");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("usage"), std::string::npos) << run.err;
}
} // namespace
