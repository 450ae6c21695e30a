#include "fuzz/Watchdog.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace fuzz
{
namespace
{
const double LimitSeconds = 1.0;

clockid_t fuzzingThreadClock;
// The CPU and wall-clock times at which the running input began, negative while
// no input runs.
std::atomic<double> inputCpuStart(-1.0);
std::atomic<double> inputWallStart(-1.0);

double seconds(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

void watch()
{
    for (;;)
    {
        timespec tick = {0, 50 * 1000 * 1000};
        nanosleep(&tick, nullptr);
        const double cpuStart = inputCpuStart.load();
        const double wallStart = inputWallStart.load();
        if (cpuStart < 0)
            continue;
        const double cpu = seconds(fuzzingThreadClock) - cpuStart;
        const double wall = seconds(CLOCK_MONOTONIC) - wallStart;
        if (inputCpuStart.load() == cpuStart && (cpu > LimitSeconds || wall > 10 * LimitSeconds))
        {
            std::fprintf(stderr,
                         "fuzz watchdog: one input has run %.2f s of CPU time (%.2f s on the clock)\n", cpu,
                         wall);
            std::abort();
        }
    }
}
} // namespace

Watchdog::Watchdog()
{
    pthread_getcpuclockid(pthread_self(), &fuzzingThreadClock);
    std::thread(watch).detach();
}

Watchdog& Watchdog::instance()
{
    static Watchdog dog;
    return dog;
}

void Watchdog::beginInput()
{
    inputWallStart = seconds(CLOCK_MONOTONIC);
    inputCpuStart = seconds(fuzzingThreadClock);
}

void Watchdog::endInput()
{
    inputCpuStart = -1.0;
}
} // namespace fuzz
