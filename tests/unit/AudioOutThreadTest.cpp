#include "audio/AudioDevice.h"
#include "audio/AudioOutThread.h"
#include "audio/Clock.h"
#include "audio/CriticalSection.h"
#include "audio/EmulatedSoundBuffer.h"
#include "plugin/Globals.h"
#include "support/AudioOutMethods.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <unistd.h>

namespace
{
// A drain-less device on the wall clock, like OSS without "/dev/dsp" but silent.
class ClockDevice : public AudioDevice
{
public:
    bool init() override { return true; }
    bool close() override { return true; }
    bool start() override
    {
        bufferSamples = 16384;
        ring.reset(new EmulatedSoundBuffer(bufferSamples));
        return true;
    }
    bool stop() override
    {
        ring.reset();
        return true;
    }
    unsigned long getCurrentPosition() override { return ring->getCurrentPosition(); }
    void* lock(unsigned long position, unsigned long length) override { return ring->lock(position, length); }
    void unlock() override { ring->unlock(); }

private:
    std::unique_ptr<EmulatedSoundBuffer> ring;
};

class AudioOutThreadTest : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        initCS();
        savedMethod = theConfig.AudioOutMethod;
        theConfig.AudioOutMethod = GetParam();
        theSPU.init();
        theAudioOut.init(new ClockDevice);
    }
    void TearDown() override
    {
        stopAudioOutThread();
        theAudioOut.close();
        theConfig.AudioOutMethod = savedMethod;
    }
    static unsigned long ticks()
    {
        enterCS();
        const unsigned long t = theSPU.getCurrentTickCount();
        leaveCS();
        return t;
    }
    static void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    int savedMethod = 0;
};
} // namespace

// "Thread" and "Timer" render on their own; after the stop nothing renders any more.
// A busy machine may hold the pacing back for a while, so the test waits for the
// frames of a tenth of a second (with a bound only a fault reaches) rather than
// for a fixed time.
TEST_P(AudioOutThreadTest, PacingRendersWhileStartedAndNotAfterStop)
{
    startAudioOutThread();
    EXPECT_TRUE(theAudioOut.isPlaying());
    const unsigned long before = ticks();
    if (GetParam() == 2)
        sleepMs(200);
    else
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (ticks() - before < 4410 && std::chrono::steady_clock::now() < deadline)
            sleepMs(10);
    }
    const unsigned long during = ticks() - before;
    stopAudioOutThread();
    EXPECT_FALSE(theAudioOut.isPlaying());
    const unsigned long stoppedAt = ticks();
    sleepMs(50);
    EXPECT_EQ(ticks(), stoppedAt) << "rendering after the stop";

    if (GetParam() == 2)
        EXPECT_EQ(during, 0u) << "the SPUasync method leaves pacing to the host";
    else
        EXPECT_GE(during, 4410u) << "no pacing within 20 s";
}

TEST_P(AudioOutThreadTest, SecondStartAndSecondStopAreHarmless)
{
    startAudioOutThread();
    startAudioOutThread();
    sleepMs(20);
    stopAudioOutThread();
    stopAudioOutThread();
    EXPECT_FALSE(theAudioOut.isPlaying());
    // And it starts again afterwards.
    startAudioOutThread();
    EXPECT_TRUE(theAudioOut.isPlaying());
    stopAudioOutThread();
}

// The method changed while running (the real-time window cycles stop/start around
// such a change): the stop still ends what the start began.
TEST_P(AudioOutThreadTest, StopEndsTheMethodThatWasStarted)
{
    startAudioOutThread();
    theConfig.AudioOutMethod = (GetParam() + 1) % 3;
    stopAudioOutThread();
    const unsigned long stoppedAt = ticks();
    sleepMs(50);
    EXPECT_EQ(ticks(), stoppedAt);
}

INSTANTIATE_TEST_SUITE_P(Methods, AudioOutThreadTest, ::testing::Values(0, 1, 2), audioOutMethodName);

TEST(AudioOutLifecycleTest, StopAudioOutWithoutStartIsHarmless)
{
    stopAudioOut();
    stopAudioOutThread();
    EXPECT_FALSE(theAudioOut.isPlaying());
}

TEST(NanosleepStrictTest, SleepsAtLeastTheDelayAndRestoresTheScheduling)
{
    int policyBefore = -1;
    sched_param paramBefore = {};
    pthread_getschedparam(pthread_self(), &policyBefore, &paramBefore);

    const timespec delay = {0, 20000000};
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(nanosleepStrict(&delay), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(20));

    int policyAfter = -2;
    sched_param paramAfter = {};
    pthread_getschedparam(pthread_self(), &policyAfter, &paramAfter);
    EXPECT_EQ(policyAfter, policyBefore);
    EXPECT_EQ(paramAfter.sched_priority, paramBefore.sched_priority);
}

TEST(NanosleepStrictTest, RaisesToRealTimePriorityOnlyForTheSleepWhenRoot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "scheduling is changed only for root";
    // Watched until the sleeper is seen at real-time priority or has finished: a
    // busy machine may start it late.
    std::atomic<bool> done(false);
    std::thread sleeper([&done] {
        const timespec delay = {0, 500000000};
        nanosleepStrict(&delay);
        done = true;
    });
    int policy = -1;
    sched_param param = {};
    int result = 0;
    while (!done)
    {
        result = pthread_getschedparam(sleeper.native_handle(), &policy, &param);
        if (result != 0 || policy == SCHED_FIFO)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sleeper.join();
    ASSERT_EQ(result, 0);
    // A container may refuse SCHED_FIFO; then the thread keeps its policy.
    if (policy != SCHED_FIFO)
        GTEST_SKIP() << "SCHED_FIFO refused here (policy " << policy << ")";
    EXPECT_EQ(param.sched_priority, 1);
}

TEST(GetTickCountTest, AdvancesWithTheWallClock)
{
    const unsigned long first = GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const unsigned long second = GetTickCount();
    EXPECT_GE(second - first, 99u);
    EXPECT_LT(second - first, 100000u) << "no wrap or jump";
}
