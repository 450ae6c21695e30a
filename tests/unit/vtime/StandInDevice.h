#pragma once

#include "audio/AudioDevice.h"
#include "audio/EmulatedSoundBuffer.h"

#include <cstdint>
#include <memory>
#include <vector>

// A sound card in virtual time: from the moment it is started it takes exactly 128
// frames from its ring every 128/44100 s, the first at once, as the SDL callback
// and the OSS writer do, and keeps every frame it took. The ring is the plugin's
// own EmulatedSoundBuffer with a drain attached.
class StandInDevice : public AudioDevice
{
public:
    static const unsigned long TakeFrames = 128;

    explicit StandInDevice(unsigned int ringFrames) : frames(ringFrames) {}

    bool init() override { return true; }
    bool close() override { return true; }
    bool start() override
    {
        bufferSamples = frames;
        ring.reset(new EmulatedSoundBuffer(bufferSamples));
        ring->setUseClock(false);
        takes = 0;
        return true;
    }
    bool stop() override
    {
        ring.reset();
        return true;
    }
    unsigned long getCurrentPosition() override { return ring->getCurrentPosition(); }
    void* lock(unsigned long position, unsigned long length) override { return ring->lock(position, length); }
    void unlock() override { ring->unlock(); }

    // Takes every block due at or before `ns` (time since start).
    void playUntil(int64_t ns)
    {
        while (ring && takeTime(takes) <= ns)
        {
            const unsigned int* run = static_cast<const unsigned int*>(ring->getPrimaryMix(TakeFrames));
            captured.insert(captured.end(), run, run + TakeFrames);
            consumedSamples += TakeFrames;
            ++takes;
        }
    }

    // The k-th take, at k x 128 / 44100 s.
    static int64_t takeTime(int64_t k) { return k * static_cast<int64_t>(TakeFrames) * 1000000000 / 44100; }

    std::vector<unsigned int> captured;

private:
    unsigned int frames;
    std::unique_ptr<EmulatedSoundBuffer> ring;
    int64_t takes = 0;
};
