#pragma once

#include "synth/XaDecode.h"

class StreamSound;

// The XA and CD-DA chunks on their way into the stream ring: the work of
// SPUplayADPCMchannel and SPUplayCDDAchannel, and of the XA part of a loaded save
// state. Both play functions run inside the critical section.
//
// When StreamSound::ConfigWaitForXABufferIsFree is set they wait for room in the
// ring, letting the renderer run meanwhile (pause). The wait is bounded: when no
// frame has been rendered for StallLimitMs (nothing drains the ring, e.g. the
// plugin is not open, or rendering is held for the CPU that is blocked here) the
// chunk is queued as if waiting were off, and later chunks do not wait until a
// frame has been rendered again.
class StreamQueue
{
public:
    // The frames rendered so far (the SPU's tick count): the wait sees the ring
    // drain by it.
    typedef unsigned long (*FrameCount)();
    // Lets the renderer run once: the plugin leaves the critical section around a
    // yield of the processor.
    typedef void (*Pause)();

    static constexpr int StallLimitMs = 100;

    StreamQueue(StreamSound& stream, FrameCount renderedFrames, Pause pause);

    // The host's XA record; mono or stereo records of up to 16384 entries play,
    // anything else is ignored.
    void playADPCMchannel(xa_decode_t* xa);
    void playCDDAchannel(const short* data, int length);

private:
    StreamQueue(const StreamQueue&) = delete;
    StreamQueue& operator=(const StreamQueue&) = delete;

    template <typename NextChunk> void queueWaiting(NextChunk nextChunk);
    bool queueChunk(const short* samples, int length, int rate, int channels, bool force);

    StreamSound& stream;
    FrameCount renderedFrames;
    Pause pause;
    // A wait that gave up, and the frame count it gave up at.
    bool renderStalled;
    unsigned long stalledAtTick;
};
