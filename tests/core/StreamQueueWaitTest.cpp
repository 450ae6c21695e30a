// The XA / CD-DA queue on a stream of its own, with a renderer the test drives: the
// wait lets the renderer run through the pause it is given and queues the chunk
// once the ring has room, without the overrun crossfade.

#include "synth/MixBlock.h"
#include "synth/StreamQueue.h"
#include "synth/StreamSound.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace
{
// The renderer behind the pauses: each pause plays 64 frames of the stream.
StreamSound* rendered = nullptr;
unsigned long framesRendered = 0;
int pauses = 0;
std::vector<unsigned short> soundRam(0x40000);
MixBlock block;

unsigned long renderedFrames()
{
    return framesRendered;
}

void renderSome()
{
    ++pauses;
    std::memset(&block, 0, sizeof(block));
    rendered->playBlock(64, block, soundRam.data());
    framesRendered += 64;
}

void renderNothing()
{
    ++pauses;
}

class StreamQueueWaitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        stream->init();
        rendered = stream.get();
        framesRendered = 0;
        pauses = 0;
        StreamSound::ConfigWaitForXABufferIsFree = 1;
    }
    void TearDown() override { StreamSound::ConfigWaitForXABufferIsFree = 0; }

    std::unique_ptr<StreamSound> stream = std::make_unique<StreamSound>();
    std::vector<short> chunk = std::vector<short>(1176, 1000);
};

TEST_F(StreamQueueWaitTest, AChunkWithoutRoomWaitsForTheRendererThenGoesInWhole)
{
    StreamQueue queue(*stream, renderedFrames, renderSome);
    queue.playCDDAchannel(chunk.data(), 2352);
    EXPECT_EQ(0, pauses) << "the first chunk finds room";
    queue.playCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(pauses, 0) << "the second waits for the renderer";
    EXPECT_EQ(0, stream->getFade()) << "and goes in without the overrun crossfade";
}

TEST_F(StreamQueueWaitTest, WithoutARendererTheWaitGivesUpOnceThenQueuesAtOnce)
{
    StreamQueue queue(*stream, renderedFrames, renderNothing);
    queue.playCDDAchannel(chunk.data(), 2352);
    queue.playCDDAchannel(chunk.data(), 2352);
    EXPECT_GT(pauses, 0);
    EXPECT_GT(stream->getFade(), 0) << "queued through the overrun after the bounded wait";
    const int pausesAfterGivingUp = pauses;
    queue.playCDDAchannel(chunk.data(), 2352);
    EXPECT_EQ(pausesAfterGivingUp, pauses) << "nothing rendered since: no second wait";
}
} // namespace
