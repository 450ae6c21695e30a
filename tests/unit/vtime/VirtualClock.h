#pragma once

#include "audio/Clock.h"

#include <cstdint>
#include <functional>

// Time that a test moves by hand, in nanoseconds from 0. Whatever runs on its own
// in the real system while the code under test waits (a device's drain) is given
// as the background and runs, in time order, up to each point the clock moves to;
// the "Wait" sleep of the engine moves the clock by its delay and so lets the
// drain play meanwhile, as it would.
class VirtualClock : public Clock
{
public:
    int64_t now() const { return nowNs; }

    // Runs the background up to `ns` (never backwards), then stands there.
    void advanceTo(int64_t ns)
    {
        if (ns < nowNs)
            return;
        if (background)
            background(ns);
        nowNs = ns;
    }
    void setBackground(std::function<void(int64_t)> run) { background = std::move(run); }

    unsigned long getTickCount() override { return static_cast<unsigned long>(nowNs / 1000000); }
    timeval getTimeOfDay() override
    {
        timeval t;
        t.tv_sec = static_cast<time_t>(nowNs / 1000000000);
        t.tv_usec = static_cast<suseconds_t>(nowNs % 1000000000 / 1000);
        return t;
    }
    int sleep(const timespec* delay) override
    {
        ++sleeps;
        sleptNs += static_cast<int64_t>(delay->tv_sec) * 1000000000 + delay->tv_nsec;
        advanceTo(nowNs + static_cast<int64_t>(delay->tv_sec) * 1000000000 + delay->tv_nsec);
        return 0;
    }

    int sleeps = 0;
    int64_t sleptNs = 0;

private:
    int64_t nowNs = 0;
    std::function<void(int64_t)> background;
};
