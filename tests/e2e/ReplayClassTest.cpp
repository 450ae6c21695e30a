// LogFile and Replay in-process, as the fuzz harness drives them: a log opened from
// bytes in memory, checked, and replayed through a Plugin whose pointers may be
// filled in by hand, with or without output files.

#include "HostFixture.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/LogFile.h"
#include "spuhost/Replay.h"
#include "support/Bytes.h"
#include "support/HostRun.h"
#include "support/LogBuilder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
// A voice keyed on at frame 100 over a snapshot holding its tone: the replay sounds.
LogBuilder soundingLog(uint32_t duration)
{
    std::vector<uint16_t> ram(0x1000 / 2, 0);
    const std::vector<uint16_t> tone = toneBlocks();
    ram.insert(ram.end(), tone.begin(), tone.end());
    std::vector<uint16_t> registers(256, 0);
    registers[(0x1D80 - 0x1C00) / 2] = 0x3FFF; // main volume
    registers[(0x1D82 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1DAA - 0x1C00) / 2] = 0xC000; // SPU on, unmuted
    LogBuilder log(duration, ram, registers);
    log.regWrite(0, 0x1F801C00, 0x3FFF).regWrite(0, 0x1F801C02, 0x2000).regWrite(0, 0x1F801C04, 0x1000);
    log.regWrite(0, 0x1F801C06, 0x0200).regWrite(0, 0x1F801C08, 0x000F).regWrite(0, 0x1F801C0A, 0x0000);
    log.regWrite(100, 0x1F801D88, 0x0001).regRead(200, 0x1F801DAE).dmaRead(300, 16);
    return log;
}

// The log's bytes as a stream, as fmemopen gives them; the bytes must outlive it.
FILE* memoryStream(std::vector<unsigned char>& bytes)
{
    return fmemopen(bytes.data(), bytes.size(), "rb");
}

class ReplayClassTest : public HostTest
{
};

TEST_F(ReplayClassTest, LogFromMemoryReplaysLikeTheCommand)
{
    LogBuilder log = soundingLog(3000);
    log.save(file("spulog.spu"));
    const HostRun command = runHost(dir, "replay '" SPU_PLUGIN_PATH "' spulog.spu --out command.raw");
    ASSERT_EQ(command.status, 0) << command.err;

    LogFile reader;
    ASSERT_TRUE(reader.open(memoryStream(log.bytes))) << reader.error();
    EXPECT_EQ(3000u, reader.duration());
    LogFile::Summary summary;
    ASSERT_TRUE(reader.check(summary)) << reader.error();
    EXPECT_EQ(7u, summary.counts[LogFile::REGwrite]);
    EXPECT_EQ(1u, summary.counts[LogFile::REGread]);
    EXPECT_EQ(1u, summary.counts[LogFile::DMAread]);
    EXPECT_FALSE(summary.needsXA());
    EXPECT_FALSE(summary.needsCDDA());
    EXPECT_EQ(nullptr, Replay::missingExport(plugin(), summary));

    FrameWriter raw;
    ASSERT_TRUE(raw.open(file("class.raw"), FrameWriter::Raw));
    Replay replay(plugin(), reader);
    replay.setOutputs(nullptr, &raw);
    ASSERT_EQ(Replay::Completed, replay.run());
    ASSERT_TRUE(raw.close());
    EXPECT_EQ(3000u, replay.framesRendered());

    const std::vector<unsigned char> frames = readFileBytes(file("class.raw"));
    EXPECT_EQ(readFileBytes(file("command.raw")), frames);
    size_t sounding = 0;
    for (size_t i = 0; i + 1 < frames.size(); i += 2)
        sounding += le16(frames, i) != 0;
    EXPECT_GT(sounding, 1000u) << "the scene is silent, so the comparison proves little";
}

TEST_F(ReplayClassTest, HandFilledPluginReplaysWithoutOutputs)
{
    // What a program that links a plugin's exports directly does: no load().
    Plugin linked;
    const Plugin& loaded = plugin();
    linked.SPUinit = loaded.SPUinit;
    linked.SPUshutdown = loaded.SPUshutdown;
    linked.SPUwriteRegister = loaded.SPUwriteRegister;
    linked.SPUreadRegister = loaded.SPUreadRegister;
    linked.SPUwriteDMAMem = loaded.SPUwriteDMAMem;
    linked.SPUreadDMAMem = loaded.SPUreadDMAMem;
    linked.SPUrender = loaded.SPUrender;
    linked.SPUfreeze = loaded.SPUfreeze;

    LogBuilder log = soundingLog(10000);
    LogFile reader;
    ASSERT_TRUE(reader.open(memoryStream(log.bytes))) << reader.error();
    LogFile::Summary summary;
    ASSERT_TRUE(reader.check(summary)) << reader.error();
    ASSERT_EQ(nullptr, Replay::missingExport(linked, summary));
    std::vector<uint32_t> reported;
    Replay replay(linked, reader);
    replay.setProgress([&reported](uint32_t done, uint32_t total) {
        EXPECT_EQ(10000u, total);
        reported.push_back(done);
    });
    ASSERT_EQ(Replay::Completed, replay.run());
    EXPECT_EQ(10000u, replay.framesRendered());
    // Chunks of 4096 frames, cut at the entries' time stamps.
    EXPECT_EQ((std::vector<uint32_t>{100, 200, 300, 4396, 8492, 10000}), reported);
}

TEST_F(ReplayClassTest, StopFlagEndsTheRunBetweenChunks)
{
    volatile sig_atomic_t stop = 1;
    {
        LogBuilder log = soundingLog(50000);
        LogFile reader;
        ASSERT_TRUE(reader.open(memoryStream(log.bytes)));
        Replay replay(plugin(), reader);
        replay.setStopFlag(&stop);
        EXPECT_EQ(Replay::Interrupted, replay.run());
        EXPECT_EQ(0u, replay.framesRendered());
    }
    {
        // Set after the fourth chunk, as a signal handler would set it.
        stop = 0;
        LogBuilder log = soundingLog(50000);
        LogFile reader;
        ASSERT_TRUE(reader.open(memoryStream(log.bytes)));
        FrameWriter wav;
        ASSERT_TRUE(wav.open(file("stopped.wav"), FrameWriter::Wav));
        Replay replay(plugin(), reader);
        replay.setOutputs(&wav, nullptr);
        replay.setStopFlag(&stop);
        replay.setProgress([&stop](uint32_t done, uint32_t) { stop = done >= 4396; });
        EXPECT_EQ(Replay::Interrupted, replay.run());
        EXPECT_EQ(4396u, replay.framesRendered());
        ASSERT_TRUE(wav.close());
        const std::vector<unsigned char> bytes = readFileBytes(file("stopped.wav"));
        ASSERT_EQ(44u + 4 * 4396, bytes.size());
        EXPECT_EQ(4u * 4396, le32(bytes, 40));
    }
}

TEST_F(ReplayClassTest, EntryBreakingTheFormatMidwayEndsTheRun)
{
    LogBuilder log(1000);
    log.regWrite(10, 0x1F801C00, 1).header(20, 9);
    put32(log.bytes, 0);
    put16(log.bytes, 0);

    LogFile reader;
    ASSERT_TRUE(reader.open(memoryStream(log.bytes)));
    LogFile::Summary summary;
    EXPECT_FALSE(reader.check(summary));
    EXPECT_EQ("offset 0x8020F: unknown entry type 9", reader.error());

    // Replayed unchecked: played up to the entry before, then stopped with the error.
    LogFile unchecked;
    ASSERT_TRUE(unchecked.open(memoryStream(log.bytes)));
    Replay replay(plugin(), unchecked);
    EXPECT_EQ(Replay::BadEntry, replay.run());
    EXPECT_EQ(10u, replay.framesRendered());
    EXPECT_EQ("offset 0x8020F: unknown entry type 9", replay.error());
}

TEST_F(ReplayClassTest, CdInputEntriesReachTheirExports)
{
    std::vector<uint16_t> registers(256, 0);
    registers[(0x1D80 - 0x1C00) / 2] = 0x3FFF; // main volume
    registers[(0x1D82 - 0x1C00) / 2] = 0x3FFF;
    registers[(0x1DAA - 0x1C00) / 2] = 0xC000; // SPU on, unmuted
    registers[(0x1DB0 - 0x1C00) / 2] = 0x7FFF; // CD volume
    registers[(0x1DB2 - 0x1C00) / 2] = 0x7FFF;
    LogBuilder log(6000, {}, registers);
    xa_decode_t xa = {};
    xa.freq = 37800;
    xa.stereo = 1;
    xa.nsamples = 2016;
    for (int i = 0; i < 2 * 2016; ++i)
        xa.pcm[i] = static_cast<int16_t>(i * 31);
    log.header(0, 4);
    const unsigned char* record = reinterpret_cast<const unsigned char*>(&xa);
    log.bytes.insert(log.bytes.end(), record, record + sizeof(xa));
    // An odd byte count: the export is handed every byte, and no byte more is read.
    log.header(100, 5);
    put32(log.bytes, 2353);
    log.bytes.resize(log.bytes.size() + 2353, 0x11);

    LogFile reader;
    ASSERT_TRUE(reader.open(memoryStream(log.bytes)));
    LogFile::Summary summary;
    ASSERT_TRUE(reader.check(summary)) << reader.error();
    EXPECT_TRUE(summary.needsXA());
    EXPECT_TRUE(summary.needsCDDA());
    Plugin bare;
    EXPECT_STREQ("SPUinit", Replay::missingExport(bare, summary));
    EXPECT_EQ(nullptr, Replay::missingExport(plugin(), summary));

    FrameWriter raw;
    ASSERT_TRUE(raw.open(file("cd.raw"), FrameWriter::Raw));
    Replay replay(plugin(), reader);
    replay.setOutputs(nullptr, &raw);
    ASSERT_EQ(Replay::Completed, replay.run());
    ASSERT_TRUE(raw.close());
    const std::vector<unsigned char> frames = readFileBytes(file("cd.raw"));
    size_t sounding = 0;
    for (size_t i = 0; i + 1 < frames.size(); i += 2)
        sounding += le16(frames, i) != 0;
    EXPECT_GT(sounding, 0u) << "the XA record did not play";
}

TEST_F(ReplayClassTest, StreamsThatCannotHoldALogAreRefused)
{
    LogFile reader;
    EXPECT_FALSE(reader.open(static_cast<FILE*>(nullptr)));
    LogFile::Entry entry;
    EXPECT_EQ(LogFile::Bad, reader.next(entry)) << "no log, no entry";

    std::vector<unsigned char> shortHead(100, 0);
    EXPECT_FALSE(reader.open(memoryStream(shortHead)));
    EXPECT_EQ("offset 0x64: truncated head: the file has 0x64 bytes, a log at least 0x80204", reader.error());
    EXPECT_EQ(LogFile::Bad, reader.next(entry));

    LogBuilder damaged(0xFFFFFFFFu);
    EXPECT_FALSE(reader.open(memoryStream(damaged.bytes)));
    EXPECT_NE(std::string::npos,
              reader.error().find("offset 0x80200: duration 4294967295 frames is over 24 hours"))
        << reader.error();

    // A good log after the bad ones: the reader starts afresh, and rewinds.
    LogBuilder good(50);
    good.regWrite(5, 0x1F801C00, 1).dmaRead(6, 0x40000);
    ASSERT_TRUE(reader.open(memoryStream(good.bytes))) << reader.error();
    for (int pass = 0; pass < 2; ++pass)
    {
        ASSERT_EQ(LogFile::Ok, reader.next(entry));
        EXPECT_EQ(5u, entry.time);
        ASSERT_EQ(LogFile::Ok, reader.next(entry));
        EXPECT_EQ(LogFile::DMAread, entry.type);
        EXPECT_EQ(0x40000, entry.count);
        EXPECT_EQ(LogFile::End, reader.next(entry));
        ASSERT_TRUE(reader.rewind());
    }
}
} // namespace
