#pragma once

#include "audio/Clock.h"

#include <atomic>
#include <sys/time.h>

// A software ring of N stereo frames (32-bit cells, left then right) standing in for
// a hardware sound buffer, followed by an overflow area of another N cells so that
// neither the writer nor the reader ever splits a copy at the wrap:
// - the writer (output engine) takes lock(position, length) with length <= N and
//   writes straight on past the end; unlock copies the overflow to the ring's start;
// - the reader (a device's drain) takes getPrimaryMix(count) with count <= N, which
//   first copies the ring's start behind its end so the run is contiguous.
// Without a drain (useClock) the play cursor follows the wall clock at 44100 frames
// per second of its clock (the wall clock unless a test gives a virtual one), so the
// engine keeps real-time pace without sound.
//
// The ring has no lock: the owning device serialises lock..unlock against
// getPrimaryMix. The play cursor is read without that lock, hence atomic.
class EmulatedSoundBuffer
{
public:
    explicit EmulatedSoundBuffer(unsigned long size, Clock& time = Clock::wall());
    virtual ~EmulatedSoundBuffer();

    void* lock(unsigned long position, unsigned long length);
    void unlock();
    unsigned long getCurrentPosition() const;
    void* getPrimaryMix(unsigned long count);

    void setUseClock(bool clock) { useClock = clock; }
    bool getUseClock() const { return useClock; }
    unsigned long getSize() const { return size; }

private:
    EmulatedSoundBuffer(const EmulatedSoundBuffer&) = delete;
    EmulatedSoundBuffer& operator=(const EmulatedSoundBuffer&) = delete;

    unsigned long getClockPosition() const;

    Clock* clock;
    std::atomic<bool> useClock;
    unsigned int* buffer;
    unsigned int size;
    unsigned int lockPosition;
    unsigned int lockLength;
    std::atomic<unsigned int> readPosition;
    timeval clockBase;
};
