#include "audio/AudioOutThread.h"

#include "audio/AudioOut.h"
#include "audio/CriticalSection.h"
#include "audio/HostSignalBlock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace
{
enum AudioOutMethod
{
    MethodThread = 0,
    MethodTimer = 1,
    MethodSPUasync = 2
};
const int MethodNone = -1;

pthread_t hAudioOutThread;
// Only a pacing thread that was created is joined.
bool audioOutThreadCreated = false;
std::atomic<bool> bAudioOutThreadStop(true);

timer_t m_hTimer;
bool timerCreated = false;
struct sigaction sigactOrg;
// The host's own SIGALRM disposition, put back when the library is unloaded.
bool sigalrmHandlerInstalled = false;
// Raised while the timer paces the engine. A SIGALRM still queued when the timer
// is deleted, or one the host raises later, then finds the handler idle.
std::atomic<bool> timerPacing(false);

int noMethodGiven()
{
    return MethodThread;
}

// Until the plugin hands over its own: no engine, the "Thread" method, no window.
AudioOutPacing pacing = {nullptr, noMethodGiven, nullptr, nullptr};

// Every pacing step renders through this; a pacing without an engine renders nothing.
void updateEngine()
{
    if (pacing.engine != nullptr)
        pacing.engine->updateBuffer();
}

void stopEngine()
{
    if (pacing.engine != nullptr)
        pacing.engine->stop();
}

// The method whose pacing runs (MethodNone while the engine is stopped), so that
// stop undoes what start did even if the configuration changed meanwhile, and a
// second start or stop does nothing.
int runningMethod = MethodNone;
// Between startAudioOut and stopAudioOut: SPUopen twice or SPUclose alone is harmless.
bool audioOutOpen = false;

void* AudioOutThreadMain_Thread(void*)
{
    // Named so that a debugger or /proc tells the plugin's threads from the host's.
    pthread_setname_np(pthread_self(), "spu-pacing");
    while (!bAudioOutThreadStop)
    {
        timespec delay = {0, 1000000};
        timespec remainder;
        if (nanosleep(&delay, &remainder) != 0)
            nanosleep(&remainder, nullptr);
        enterCS();
        updateEngine();
        leaveCS();
    }
    return nullptr;
}

void startAudioOutThread_Thread()
{
    bAudioOutThreadStop = false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    int result;
    {
        const HostSignalBlock block;
        result = pthread_create(&hAudioOutThread, &attr, AudioOutThreadMain_Thread, nullptr);
    }
    pthread_attr_destroy(&attr);
    audioOutThreadCreated = result == 0;
    if (!audioOutThreadCreated)
    {
        errno = result;
        perror("pthread_create(&hAudioOutThread, &attr, AudioOutThreadMain_Thread, NULL)");
    }
}

void stopAudioOutThread_Thread()
{
    bAudioOutThreadStop = true;
    // Outside the critical section: the thread needs it to finish its iteration.
    if (audioOutThreadCreated)
        pthread_join(hAudioOutThread, nullptr);
    audioOutThreadCreated = false;
}

void onAudioOutTimer(int)
{
    // A thread inside the section: do not wait for the mutex in a signal handler;
    // the tick is owed, and that thread renders it when it leaves the section.
    if (!timerPacing)
        return;
    if (bInCS)
    {
        oweTick();
        return;
    }
    const int savedErrno = errno;
    enterCS();
    updateEngine();
    leaveCS();
    errno = savedErrno;
}

// A tick the timer's handler skipped, rendered by the thread leaving the section.
void renderOwedTick()
{
    if (!timerPacing)
        return;
    enterCS();
    updateEngine();
    leaveCS();
}

void startAudioOutThread_Timer()
{
    setOwedTickHandler(renderOwedTick);
    bInCS = false;
    struct sigaction act = {};
    act.sa_handler = onAudioOutTimer;
    sigemptyset(&act.sa_mask);
    act.sa_flags = 0;
    // Only the first installation saves a disposition: later ones would save our own.
    struct sigaction previous;
    if (sigaction(SIGALRM, &act, &previous) != 0)
        perror("startAudioOutThread_Timer() sigaction(SIGVTALRM, &act, &sigactOrg)");
    else if (!sigalrmHandlerInstalled)
    {
        sigactOrg = previous;
        sigalrmHandlerInstalled = true;
    }

    timerPacing = true;
    timerCreated = timer_create(CLOCK_REALTIME, nullptr, &m_hTimer) == 0;
    if (!timerCreated)
    {
        perror("timer_create(CLOCK_REALTIME, NULL, &m_hTimer)");
        return;
    }
    itimerspec it;
    it.it_value.tv_sec = 0;
    it.it_value.tv_nsec = 10000000;
    it.it_interval = it.it_value;
    if (timer_settime(m_hTimer, 0, &it, nullptr) != 0)
        perror("timer_settime(m_hTimer, 0, &it, NULL)");
}

void stopAudioOutThread_Timer()
{
    enterCS();
    timerPacing = false;
    if (timerCreated && timer_delete(m_hTimer) != 0)
        perror("timer_delete(m_hTimer)");
    timerCreated = false;
    stopEngine();
    leaveCS();
}

// The handler stays installed while the library is loaded; once it is unloaded the
// handler's code is gone, so the host's own disposition comes back.
struct RestoreSigalrm
{
    ~RestoreSigalrm()
    {
        if (sigalrmHandlerInstalled)
            sigaction(SIGALRM, &sigactOrg, nullptr);
    }
} restoreSigalrm;

} // namespace

void setAudioOutPacing(const AudioOutPacing& given)
{
    pacing = given;
    if (pacing.audioOutMethod == nullptr)
        pacing.audioOutMethod = noMethodGiven;
}

void startAudioOut()
{
    if (audioOutOpen)
        return;
    audioOutOpen = true;
    if (pacing.engine != nullptr)
        pacing.engine->init();
    startAudioOutThread();
    if (pacing.openRealtimeWindow != nullptr)
        pacing.openRealtimeWindow();
}

void stopAudioOut()
{
    if (!audioOutOpen)
        return;
    if (pacing.closeRealtimeWindow != nullptr)
        pacing.closeRealtimeWindow();
    stopAudioOutThread();
    if (pacing.engine != nullptr)
        pacing.engine->close();
    audioOutOpen = false;
}

void startAudioOutThread()
{
    if (runningMethod != MethodNone)
        return;
    if (pacing.engine != nullptr)
        pacing.engine->start();
    const int method = pacing.audioOutMethod();
    if (method == MethodThread)
        startAudioOutThread_Thread();
    else if (method == MethodTimer)
        startAudioOutThread_Timer();
    runningMethod = method == MethodThread || method == MethodTimer ? method : MethodSPUasync;
}

void stopAudioOutThread()
{
    if (runningMethod == MethodNone)
        return;
    if (runningMethod == MethodTimer)
        stopAudioOutThread_Timer();
    else if (runningMethod == MethodThread)
    {
        stopAudioOutThread_Thread();
        // Inside the section: a host thread may be rendering through
        // SPUreadRegister ("UpdateBeforeRegisterAccess") while the device's ring
        // is freed. Callers leave the section around a "Thread" stop.
        enterCS();
        stopEngine();
        leaveCS();
    }
    else
        stopEngine(); // the real-time window calls this one inside the section
    runningMethod = MethodNone;
}
