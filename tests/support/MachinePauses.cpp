#include "support/MachinePauses.h"

#include <pthread.h>
#include <sched.h>

void MachinePauses::start()
{
    stopRequested = false;
    pauses.clear();
    thread = std::thread([this] {
        sched_param priority = {};
        priority.sched_priority = 20;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
        using Clock = std::chrono::steady_clock;
        const std::chrono::milliseconds tick(1);
        while (!stopRequested)
        {
            const Clock::time_point before = Clock::now();
            std::this_thread::sleep_for(tick);
            const double late =
                std::chrono::duration<double, std::milli>(Clock::now() - before - tick).count();
            if (late >= minMs)
                pauses.push_back({before, late});
        }
    });
}

std::vector<MachinePauses::Pause> MachinePauses::stop()
{
    stopRequested = true;
    if (thread.joinable())
        thread.join();
    return pauses;
}
