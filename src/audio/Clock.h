#pragma once

#include <sys/time.h>
#include <ctime>

// The time the output runs on: the engine's millisecond count (updateBuffer turns it
// into cycles), the time of day a drain-less ring derives its play cursor from, and
// the sleep of the "Wait" async mode. The base class is the wall clock every
// production object uses; a test derives a virtual clock from it to drive the engine
// and a stand-in device through time it controls.
//
// Called inside the critical section (the engine) or from any thread (a ring's play
// cursor); the wall clock holds no state of its own beyond GetTickCount's base.
class Clock
{
public:
    virtual ~Clock() {}

    // Milliseconds as GetTickCount counts them.
    virtual unsigned long getTickCount();
    // The time of day as gettimeofday gives it.
    virtual timeval getTimeOfDay();
    // Sleeps delay as nanosleepStrict does; returns its result.
    virtual int sleep(const timespec* delay);

    // The one wall clock, the default of every user.
    static Clock& wall();
};

// Sleeps delay; run as root it raises the calling thread to SCHED_FIFO priority 1
// for the sleep and restores its policy afterwards. An interrupted sleep is resumed
// once for the remainder. Returns the result of the last scheduling call or sleep.
int nanosleepStrict(const timespec* delay);
