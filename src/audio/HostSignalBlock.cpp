#include "audio/HostSignalBlock.h"

#include <pthread.h>

HostSignalBlock::HostSignalBlock()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    addHostSignals(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
}

HostSignalBlock::~HostSignalBlock()
{
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

namespace
{
const int HostSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2};
} // namespace

void HostSignalBlock::addHostSignals(sigset_t* set)
{
    for (int signal : HostSignals)
        sigaddset(set, signal);
}

void HostSignalBlock::removeHostSignalsIn(sigset_t* set, const sigset_t* blocked)
{
    for (int signal : HostSignals)
        if (sigismember(blocked, signal) == 1)
            sigdelset(set, signal);
}
