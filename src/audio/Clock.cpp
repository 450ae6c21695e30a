#include "audio/Clock.h"

#include "audio/CriticalSection.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

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

int nanosleepStrict(const timespec* delay)
{
    const bool root = geteuid() == 0;
    const pthread_t self = pthread_self();
    int policy = SCHED_OTHER;
    sched_param saved = {};
    int result = 0;
    if (root)
    {
        pthread_getschedparam(self, &policy, &saved);
        sched_param fifo = {};
        fifo.sched_priority = 1;
        result = pthread_setschedparam(self, SCHED_FIFO, &fifo);
    }
    timespec remainder;
    result = nanosleep(delay, &remainder);
    if (result != 0)
        result = nanosleep(&remainder, nullptr);
    if (root)
        result = pthread_setschedparam(self, policy, &saved);
    return result;
}
