#include "audio/CriticalSection.h"

#include "audio/HostSignalBlock.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <sys/time.h>

std::atomic<bool> bInCS(false);

namespace
{
// A timer tick that found the section taken, and who renders it (set by the
// pacing code: this file knows nothing of the output engine).
std::atomic<bool> tickOwed(false);
std::atomic<void (*)()> owedTickHandler(nullptr);
} // namespace

void setOwedTickHandler(void (*handler)())
{
    owedTickHandler = handler;
}

void oweTick()
{
    tickOwed = true;
}

namespace
{
sigset_t sigMask;
// The mask of the thread inside the section as it was before enterCS.
sigset_t sigMaskOrg;
// Statically initialised as well, so that a host calling an export before SPUinit
// finds a usable mutex rather than an uninitialised one.
pthread_mutex_t mutexCS = PTHREAD_MUTEX_INITIALIZER;
} // namespace

void initCS()
{
    if (sigemptyset(&sigMask) != 0)
        perror("initCS() sigemptyset(&sigMask)");
    if (sigaddset(&sigMask, SIGALRM) != 0)
        perror("initCS() sigaddset(&sigMask, SIGALRM)");
    // A host's Ctrl-C handler calls SPUclose, which enters the section: run on a
    // thread that holds it (the timer's handler renders on the emulation thread),
    // it would wait for itself. Held back, it runs once the section is left.
    HostSignalBlock::addHostSignals(&sigMask);
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutex_init(&mutexCS, nullptr);
    pthread_mutexattr_destroy(&attr);
}

void deleteCS()
{
    if (sigemptyset(&sigMask) != 0)
        perror("deleteCS() sigemptyset(&sigMask)");
    pthread_mutex_destroy(&mutexCS);
}

void enterCS()
{
    bInCS = true;
    sigset_t previous;
    if (sigprocmask(SIG_BLOCK, &sigMask, &previous) != 0)
        perror("enterCS() sigprocmask(SIG_BLOCK, &sigMask, &sigMaskOrg)");
    pthread_mutex_lock(&mutexCS);
    // Shared, but only written and read by the thread that holds the mutex.
    sigMaskOrg = previous;
}

void leaveCS()
{
    // SIGALRM is unblocked as always; the host's signals only where they were not
    // blocked before: the plugin's own threads keep them blocked for good.
    sigset_t unblock = sigMask;
    HostSignalBlock::removeHostSignalsIn(&unblock, &sigMaskOrg);
    pthread_mutex_unlock(&mutexCS);
    if (sigprocmask(SIG_UNBLOCK, &unblock, nullptr) != 0)
        perror("leaveCS() sigprocmask(SIG_UNBLOCK, &sigMask, NULL)");
    bInCS = false;
    // The thread that kept the timer out pays its tick back: a game polling the
    // registers holds the section most of the time, and dropped ticks would leave
    // the ring unfilled until the queue ran dry.
    void (*const handler)() = owedTickHandler;
    if (tickOwed && handler != nullptr && tickOwed.exchange(false))
        handler();
}

namespace
{
class GetTime
{
public:
    GetTime() { gettimeofday(&base, nullptr); }
    unsigned long getMilliSeconds() const
    {
        timeval now;
        gettimeofday(&now, nullptr);
        // The base's microseconds are not subtracted: the count steps with whole
        // wall-clock seconds and starts between 0 and 999.
        return static_cast<unsigned int>((now.tv_sec - base.tv_sec) * 1000 + now.tv_usec / 1000);
    }

private:
    timeval base;
};
} // namespace

unsigned long GetTickCount()
{
    static GetTime time;
    return time.getMilliSeconds();
}
