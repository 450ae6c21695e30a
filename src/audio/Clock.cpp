#include "audio/Clock.h"

#include "audio/AudioOutThread.h"
#include "audio/CriticalSection.h"

unsigned long Clock::getTickCount()
{
    return GetTickCount();
}

timeval Clock::getTimeOfDay()
{
    timeval now;
    gettimeofday(&now, nullptr);
    return now;
}

int Clock::sleep(const timespec* delay)
{
    return nanosleepStrict(delay);
}

Clock& Clock::wall()
{
    static Clock clock;
    return clock;
}
