#include "synth/StreamQueue.h"

#include "synth/StreamSound.h"

#include <chrono>

StreamQueue::StreamQueue(StreamSound& ring, FrameCount frameCount, Pause letRendererRun)
    : stream(ring), renderedFrames(frameCount), pause(letRendererRun), renderStalled(false), stalledAtTick(0)
{
}

// Queues one chunk, waiting for room as configured. nextChunk(force) re-reads the
// chunk's fields, returns true when it is done (queued, or nothing to play) and
// queues regardless of room when force is set.
template <typename NextChunk> void StreamQueue::queueWaiting(NextChunk nextChunk)
{
    typedef std::chrono::steady_clock Clock;
    unsigned long tick = renderedFrames();
    if (renderStalled && tick == stalledAtTick)
    {
        nextChunk(true);
        return;
    }
    renderStalled = false;
    Clock::time_point progressAt = Clock::now();
    while (!nextChunk(false))
    {
        pause();
        const Clock::time_point now = Clock::now();
        if (renderedFrames() != tick)
        {
            tick = renderedFrames();
            progressAt = now;
        }
        else if (now - progressAt > std::chrono::milliseconds(StallLimitMs))
        {
            renderStalled = true;
            stalledAtTick = tick;
            nextChunk(true);
            return;
        }
    }
}

// Queues samples of channels-entry frames; true when done, false when it must wait.
bool StreamQueue::queueChunk(const short* samples, int length, int rate, int channels, bool force)
{
    // Nothing to play counts as done, so that a caller waiting for room never waits
    // for a chunk that will not be queued.
    if (samples == nullptr || !StreamSound::canPlay(length, rate, channels))
        return true;
    // Given up waiting, the chunk goes through the overrun crossfade, as with
    // waiting off.
    if (!stream.checkStreamBuffer(length, rate, channels) && !force)
        return false;
    stream.playStream(samples, length, rate, channels);
    return true;
}

void StreamQueue::playADPCMchannel(xa_decode_t* xa)
{
    if (xa == nullptr)
        return;
    // 8064 is a byte count: 2016 stereo or 4032 mono frames. Only a record that is
    // mono or stereo is rewritten; any other stereo value (-1 among them, which
    // would divide by zero) plays nothing and leaves the record alone.
    if (xa->nsamples == 8064 && (xa->stereo == 0 || xa->stereo == 1))
        xa->nsamples = 8064 / (2 * xa->stereo + 2);
    const int stereo = xa->stereo;
    const int frames = xa->nsamples;
    // The record holds 16384 entries; a count beyond them would read past the
    // host's record, so such a record (garbage, or a hostile save state) is ignored.
    // Larger CD-DA chunks have their data and are resampled in pieces.
    if ((stereo == 0 || stereo == 1) && frames > 0 && frames <= 16384 / (stereo + 1))
    {
        const int length = (2 * stereo + 2) * frames;
        queueWaiting([this, xa, length](bool force) {
            // Read again on every try: stereo -1 or frequency 0 means nothing to play;
            // other garbage is refused by queueChunk.
            const int stereoNow = xa->stereo;
            if (stereoNow != 0 && stereoNow != 1)
                return true;
            return queueChunk(xa->pcm, length, xa->freq, stereoNow + 1, force);
        });
    }
}

void StreamQueue::playCDDAchannel(const short* data, int length)
{
    if (data != nullptr && length > 0)
        queueWaiting([this, data, length](bool force) { return queueChunk(data, length, 44100, 2, force); });
}
