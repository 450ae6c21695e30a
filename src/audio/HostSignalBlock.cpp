#include "audio/HostSignalBlock.h"

#include <initializer_list>
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

void HostSignalBlock::addHostSignals(sigset_t* set)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2})
        sigaddset(set, signal);
}
