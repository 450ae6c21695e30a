#include "audio/CriticalSection.h"
#include "plugin/Globals.h"
#include "plugin/StreamQueue.h"

#include <gtest/gtest.h>

#include <atomic>
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
    playCDDAchannel(chunk.data(), 2352);
    const StreamSound& stream = theSPU.getStream();
    EXPECT_EQ(588 + 1176, stream.getWrite());
    // No room for a second chunk and nothing drains the ring: after the bounded
    // wait the chunk goes in through the overrun crossfade instead of hanging.
    playCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(stream.getFade(), 0) << "queued through the overrun";
    // Still nothing rendered: the next chunk is queued the same way at once.
    const std::vector<short> before(stream.getRing(), stream.getRing() + stream.getSize());
    const std::vector<short> other(1176, -3000);
    playCDDAchannel(other.data(), 2352);
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
        playCDDAchannel(chunk.data(), 2352);
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
    playCDDAchannel(chunk.data(), 2352);
    playCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(theSPU.getStream().getFade(), 0);
}

TEST_F(StreamQueueTest, XaRecordBeyondItsSamplesIsIgnored)
{
    std::unique_ptr<xa_decode_t> xa(new xa_decode_t());
    xa->freq = 37800;
    xa->stereo = 1;
    xa->nsamples = 8193; // 16386 entries: past the record's 16384
    playADPCMchannel(xa.get());
    EXPECT_EQ(0, theSPU.getStream().getSize());
    xa->nsamples = 8192;
    playADPCMchannel(xa.get());
    // 32768 bytes: need (32768 * 44100 / 37800) / 2 = 19114 entries.
    EXPECT_EQ(2 * 19114, theSPU.getStream().getSize());
}
