#include "audio/EmulatedSoundBuffer.h"
#include "vtime/VirtualClock.h"

#include <gtest/gtest.h>

#include <sys/time.h>
#include <thread>

namespace
{
const unsigned long N = 256;

unsigned int* cells(EmulatedSoundBuffer& ring)
{
    return static_cast<unsigned int*>(ring.lock(0, 0));
}
} // namespace

TEST(EmulatedSoundBufferTest, NewRingWithDrainReadsFromOneEighth)
{
    EmulatedSoundBuffer ring(N);
    ring.setUseClock(false);
    EXPECT_EQ(ring.getCurrentPosition(), N / 8);
    for (unsigned long i = 0; i < N; ++i)
        ASSERT_EQ(cells(ring)[i], 0u) << "cell " << i;
}

TEST(EmulatedSoundBufferTest, LockPastTheEndFoldsTheOverflowOnUnlock)
{
    EmulatedSoundBuffer ring(N);
    unsigned int* p = static_cast<unsigned int*>(ring.lock(N - 10, 30));
    for (unsigned int i = 0; i < 30; ++i)
        p[i] = 1000 + i;
    ring.unlock();
    unsigned int* ringCells = cells(ring);
    for (unsigned int i = 0; i < 10; ++i)
        EXPECT_EQ(ringCells[N - 10 + i], 1000 + i);
    for (unsigned int i = 0; i < 20; ++i)
        EXPECT_EQ(ringCells[i], 1010 + i) << "cell " << i;
    EXPECT_EQ(ringCells[20], 0u);
}

TEST(EmulatedSoundBufferTest, UnlockWithinTheRingCopiesNothing)
{
    EmulatedSoundBuffer ring(N);
    unsigned int* p = static_cast<unsigned int*>(ring.lock(N - 30, 30));
    for (unsigned int i = 0; i < 30; ++i)
        p[i] = 7;
    ring.unlock();
    EXPECT_EQ(cells(ring)[0], 0u);
}

TEST(EmulatedSoundBufferTest, PrimaryMixAcrossTheEndIsContiguous)
{
    EmulatedSoundBuffer ring(N);
    ring.setUseClock(false);
    unsigned int* p = static_cast<unsigned int*>(ring.lock(0, N));
    for (unsigned int i = 0; i < N; ++i)
        p[i] = i;
    ring.unlock();

    ring.getPrimaryMix(N - 64 - N / 8); // brings the read cursor to N - 64
    ASSERT_EQ(ring.getCurrentPosition(), N - 64);
    const unsigned int* run = static_cast<const unsigned int*>(ring.getPrimaryMix(128));
    EXPECT_EQ(run, cells(ring) + (N - 64));
    for (unsigned int i = 0; i < 64; ++i)
        EXPECT_EQ(run[i], N - 64 + i);
    for (unsigned int i = 0; i < 64; ++i)
        EXPECT_EQ(run[64 + i], i) << "frame " << 64 + i;
    EXPECT_EQ(ring.getCurrentPosition(), 64u);
}

TEST(EmulatedSoundBufferTest, PrimaryMixEndingExactlyAtTheEndWrapsToZero)
{
    EmulatedSoundBuffer ring(N);
    ring.setUseClock(false);
    ring.getPrimaryMix(N - N / 8);
    EXPECT_EQ(ring.getCurrentPosition(), 0u);
}

// The clock cursor must lie between the frame counts of wall-clock readings taken
// just before and just after it is read.
TEST(EmulatedSoundBufferTest, ClockCursorFollowsTheWallClockAt44100Hz)
{
    const unsigned long size = 999 * 256; // 5.8 s, no wrap during the test
    timeval before;
    gettimeofday(&before, nullptr);
    EmulatedSoundBuffer ring(size);
    ASSERT_TRUE(ring.getUseClock());
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const unsigned long position = ring.getCurrentPosition();
    timeval after;
    gettimeofday(&after, nullptr);

    const double elapsed = (after.tv_sec - before.tv_sec) + (after.tv_usec - before.tv_usec) / 1e6;
    EXPECT_GE(position, 200 * 441 / 10 - 1u);
    EXPECT_LE(position, static_cast<unsigned long>(elapsed * 44100) + 1);
}

// On its clock the cursor is the frames elapsed since the ring was made: whole
// seconds times 44100 plus the microsecond difference (negative across a second)
// times 44100 / 10^6 truncated toward zero, modulo N.
TEST(EmulatedSoundBufferTest, ClockCursorCountsFramesOfItsClockModuloTheSize)
{
    VirtualClock clock;
    clock.advanceTo(7 * 1000000000LL + 999999000); // the base's microseconds are 999 999
    EmulatedSoundBuffer ring(N, clock);
    EXPECT_EQ(ring.getCurrentPosition(), 0u);
    clock.advanceTo(clock.now() + 1000000);               // 1 ms on, across a second
    EXPECT_EQ(ring.getCurrentPosition(), 44100u - 44055); // 1 s and -999 000 us
    clock.advanceTo(clock.now() + 1500 * 1000000LL);
    EXPECT_EQ(ring.getCurrentPosition(), (2 * 44100u - 22005) % N); // 2 s and -499 000 us
    ring.setUseClock(false);
    EXPECT_EQ(ring.getCurrentPosition(), N / 8);
}
