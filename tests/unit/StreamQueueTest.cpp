#include "support/ScratchDir.h"

#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Freeze.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"
#include "synth/StreamQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

namespace
{
class StreamQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StreamSound::ConfigWaitForXABufferIsFree = 0;
        theSPU.init();
    }
    void TearDown() override { StreamSound::ConfigWaitForXABufferIsFree = 0; }

    std::vector<short> chunk = std::vector<short>(1176, 1000);
};
} // namespace

TEST_F(StreamQueueTest, WaitGivesUpWhenNothingRenders)
{
    StreamSound::ConfigWaitForXABufferIsFree = 1;
    SPUplayCDDAchannel(chunk.data(), 2352);
    const StreamSound& stream = theSPU.getStream();
    EXPECT_EQ(588 + 1176, stream.getWrite());
    // No room for a second chunk and nothing drains the ring: after the bounded
    // wait the chunk goes in through the overrun crossfade instead of hanging.
    SPUplayCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(stream.getFade(), 0) << "queued through the overrun";
    // Still nothing rendered: the next chunk is queued the same way at once.
    const std::vector<short> before(stream.getRing(), stream.getRing() + stream.getSize());
    std::vector<short> other(1176, -3000);
    SPUplayCDDAchannel(other.data(), 2352);
    EXPECT_NE(before, std::vector<short>(stream.getRing(), stream.getRing() + stream.getSize()));
}

TEST_F(StreamQueueTest, WaitLeavesTheCriticalSectionForTheRenderer)
{
    StreamSound::ConfigWaitForXABufferIsFree = 1;
    std::atomic<bool> stop(false);
    std::thread renderer([&stop] {
        short left, right;
        while (!stop)
        {
            enterCS();
            for (int i = 0; i < 32; ++i)
                theSPU.playSound(left, right);
            leaveCS();
            std::this_thread::yield();
        }
    });
    // Until the renderer has rendered a frame, an earlier give-up (another test's)
    // still counts and chunks are not held.
    for (bool rendered = false; !rendered; std::this_thread::yield())
    {
        enterCS();
        rendered = theSPU.getCurrentTickCount() > 0;
        leaveCS();
    }
    // A chunk that finds no room can only be queued without an overrun after the
    // renderer drained the ring meanwhile, which needs the critical section that
    // the waiting export must leave.
    int waits = 0, waitsWithRendering = 0;
    for (int i = 0; i < 8; ++i)
    {
        enterCS();
        const StreamSound& stream = theSPU.getStream();
        int free = stream.getRead() - stream.getWrite();
        if (free <= 0)
            free += stream.getSize();
        const bool mustWait = stream.getSize() == 2352 && free < 1176;
        const unsigned long before = theSPU.getCurrentTickCount();
        leaveCS();
        SPUplayCDDAchannel(chunk.data(), 2352);
        enterCS();
        const unsigned long after = theSPU.getCurrentTickCount();
        leaveCS();
        waits += mustWait;
        waitsWithRendering += mustWait && after > before;
    }
    EXPECT_GT(waits, 0);
    EXPECT_GT(waitsWithRendering, 0);
    stop = true;
    renderer.join();
}

TEST_F(StreamQueueTest, WithoutWaitingChunksOverrunAtOnce)
{
    SPUplayCDDAchannel(chunk.data(), 2352);
    SPUplayCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(theSPU.getStream().getFade(), 0);
}

namespace
{
double threadCpuSeconds()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}
} // namespace

// Chunks that arrive while the ring still holds the previous ones overrun it again
// and again before anything plays; each call holds the critical section. A guard
// against that cost growing with the square of the chunk (it once took seconds),
// on CPU time with a bound far above what the calls cost even under sanitizers;
// the figures come from the stream benchmark.
TEST_F(StreamQueueTest, ChunksThatFloodTheRingCostLittleCpu)
{
    const double bound = 0.25;
    std::vector<short> cdda(1 << 19, 1234);
    std::unique_ptr<xa_decode_t> xa(new xa_decode_t());
    for (int i = 0; i < 16384; ++i)
        xa->pcm[i] = static_cast<short>(i * 7);
    auto playXa = [&xa](int rate, int stereo, int frames) {
        xa->freq = rate;
        xa->stereo = stereo;
        xa->nsamples = frames;
        SPUplayADPCMchannel(xa.get());
    };
    struct Case
    {
        const char* name;
        std::function<void()> call;
    };
    std::unique_ptr<SPUFreeze_t> record(new SPUFreeze_t());
    const Case cases[] = {
        {"CD-DA of the largest ring", [&cdda] { SPUplayCDDAchannel(cdda.data(), 152916); }},
        {"1 MiB of CD-DA", [&cdda] { SPUplayCDDAchannel(cdda.data(), 1 << 20); }},
        {"XA of 4032 stereo frames at 170 Hz", [&playXa] { playXa(170, 1, 4032); }},
        {"XA of 16384 mono samples at 18900 Hz", [&playXa] { playXa(18900, 0, 16384); }},
        {"a save state whose XA part fills the largest ring",
         [&record, &xa] {
             record->xa = *xa;
             record->xa.freq = 4700;
             record->xa.stereo = 1;
             record->xa.nsamples = 4032;
             freezeSPU(0, record.get());
         }},
    };
    for (const Case& c : cases)
    {
        theSPU.init();
        for (int call = 0; call < 3; ++call)
        {
            const double start = threadCpuSeconds();
            c.call();
            EXPECT_LT(threadCpuSeconds() - start, bound) << c.name << ", call " << call;
        }
    }
}

TEST_F(StreamQueueTest, XaRecordBeyondItsSamplesIsIgnored)
{
    std::unique_ptr<xa_decode_t> xa(new xa_decode_t());
    xa->freq = 37800;
    xa->stereo = 1;
    xa->nsamples = 8193; // 16386 entries: past the record's 16384
    const int size = theSPU.getStream().getSize();
    SPUplayADPCMchannel(xa.get());
    EXPECT_EQ(size, theSPU.getStream().getSize());
    EXPECT_EQ(0, theSPU.getStream().getWrite());
    xa->nsamples = 8192;
    SPUplayADPCMchannel(xa.get());
    // 32768 bytes: need (32768 * 44100 / 37800) / 2 = 19114 entries.
    EXPECT_EQ(2 * 19114, theSPU.getStream().getSize());
    EXPECT_GT(theSPU.getStream().getWrite(), 0);
}

TEST_F(StreamQueueTest, NullAndEmptyChunksAreLoggedButPlayNothing)
{
    ScratchDir scratch(ScratchDir::WorkInside);
    ASSERT_TRUE(scratch.ok()) << scratch.error();
    const int size = theSPU.getStream().getSize();
    Record::ConfigRecOpt = 0x30;
    enterCS();
    ASSERT_TRUE(startRecording(theSPU, theRecord));
    leaveCS();
    SPUplayCDDAchannel(nullptr, 2352);
    SPUplayCDDAchannel(chunk.data(), -4);
    SPUplayADPCMchannel(nullptr);
    enterCS();
    stopRecording(theRecord);
    leaveCS();
    Record::ConfigRecOpt = 0;
    EXPECT_EQ(size, theSPU.getStream().getSize());
    EXPECT_EQ(0, theSPU.getStream().getWrite());

    // Two CD-DA events announcing 0 bytes (time stamp, type 5, length 0); the
    // recorder leaves a null XA record out.
    std::ifstream in("spulog.spu", std::ios::binary);
    const std::vector<unsigned char> log((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    const std::vector<unsigned char> event = {0, 0, 0, 0, 5, 0, 0, 0, 0};
    ASSERT_GE(log.size(), 2 * event.size());
    EXPECT_EQ(event, std::vector<unsigned char>(log.end() - 18, log.end() - 9));
    EXPECT_EQ(event, std::vector<unsigned char>(log.end() - 9, log.end()));
}
