#include "audio/AudioDeviceOss.h"
#include "audio/AudioDeviceSdl.h"
#include "audio/AudioOut.h"
#include "audio/EmulatedSoundBuffer.h"
#include "plugin/Globals.h"
#include "vtime/VirtualClock.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <cmath>
#include <vector>

namespace
{
// A device whose play cursor the test sets; the frames go into a real ring.
class FakeDevice : public AudioDevice
{
public:
    struct Lock
    {
        unsigned long position;
        unsigned long length;
    };

    explicit FakeDevice(unsigned long* playCursor) : play(playCursor) {}
    bool init() override { return true; }
    bool close() override { return true; }
    bool start() override
    {
        bufferSamples = ConfigSoundBufferSize * 256;
        ring.reset(new EmulatedSoundBuffer(bufferSamples));
        ring->setUseClock(false);
        return true;
    }
    bool stop() override
    {
        ring.reset();
        return true;
    }
    unsigned long getCurrentPosition() override { return *play; }
    void* lock(unsigned long position, unsigned long length) override
    {
        locks.push_back({position, length});
        return ring->lock(position, length);
    }
    void unlock() override { ring->unlock(); }
    unsigned int cell(unsigned long index) { return static_cast<unsigned int*>(ring->lock(0, 0))[index]; }
    void fill(unsigned int value)
    {
        unsigned int* p = static_cast<unsigned int*>(ring->lock(0, 2 * bufferSamples));
        for (unsigned long i = 0; i < 2 * bufferSamples; ++i)
            p[i] = value;
    }

    std::vector<Lock> locks;
    std::unique_ptr<EmulatedSoundBuffer> ring;

private:
    unsigned long* play;
};

const unsigned long N = 16384; // the default ring: SoundBufferSize 64
const unsigned long Half = N / 2;
const unsigned long Quarter = N / 4;
const unsigned long Millisecond = 33868; // cycles in 1 ms, truncated

class AudioOutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedBufferSize = AudioDevice::ConfigSoundBufferSize;
        savedAsyncMode = AudioOut::ConfigAsyncMode;
        savedWait = AudioOut::ConfigSPUIRQWaitCPUAction;
        AudioDevice::ConfigSoundBufferSize = 64;
        AudioOut::ConfigAsyncMode = 0;
        AudioOut::ConfigSPUIRQWaitCPUAction = 0;
        theSPU.init();
        play = N / 8;
        device = new FakeDevice(&play);
        engine.setClock(clock);
        engine.setFrameSource(theSPU);
        engine.init(device);
        engine.start();
        device->fill(0xA5A5A5A5);
    }
    void TearDown() override
    {
        engine.stop();
        engine.close();
        AudioDevice::ConfigSoundBufferSize = savedBufferSize;
        AudioOut::ConfigAsyncMode = savedAsyncMode;
        AudioOut::ConfigSPUIRQWaitCPUAction = savedWait;
    }

    // Frames rendered by the SPU during f().
    template <typename F> unsigned long framesRenderedBy(F f)
    {
        const unsigned long before = theSPU.getCurrentTickCount();
        f();
        return theSPU.getCurrentTickCount() - before;
    }
    // Puts the play cursor so that `freeFrames` frames are free before the writer.
    void setFree(unsigned long freeFrames) { play = (engine.getWritePosition() + freeFrames) % N; }

    VirtualClock clock;
    AudioOut engine;
    FakeDevice* device = nullptr;
    unsigned long play = 0;
    int savedBufferSize = 0;
    int savedAsyncMode = 0;
    int savedWait = 0;
};
} // namespace

TEST_F(AudioOutTest, StartPutsTheWriterHalfARingInAndClearsPendingCycles)
{
    EXPECT_TRUE(engine.isPlaying());
    EXPECT_EQ(engine.getWritePosition(), Half);
    EXPECT_EQ(engine.getPendingCycles(), 0);
}

// Default ring, drain attached: 10 240 frames free (excess 2 048, inside the band).
TEST_F(AudioOutTest, OneMillisecondReportRenders44FramesInEveryCorrectingMode)
{
    for (int mode = 0; mode <= 1; ++mode)
    {
        AudioOut::ConfigAsyncMode = mode;
        device->locks.clear();
        const unsigned long write = engine.getWritePosition();
        setFree(10240);
        const int pendingBefore = engine.getPendingCycles();
        EXPECT_EQ(framesRenderedBy([&] { engine.async(Millisecond, 0); }), 44u) << "mode " << mode;
        ASSERT_EQ(device->locks.size(), 1u) << "mode " << mode;
        EXPECT_EQ(device->locks[0].position, write);
        EXPECT_EQ(device->locks[0].length, 44u);
        EXPECT_EQ(engine.getWritePosition(), write + 44);
        EXPECT_EQ(engine.getPendingCycles(), pendingBefore + static_cast<int>(Millisecond) - 44 * 768);
    }
}

TEST_F(AudioOutTest, RenderedFramesLandAtTheWriteCursor)
{
    engine.async(Millisecond, 0);
    EXPECT_EQ(device->cell(Half - 1), 0xA5A5A5A5u);
    for (unsigned long i = 0; i < 44; ++i)
        EXPECT_EQ(device->cell(Half + i), 0u) << "frame " << i; // the idle SPU renders silence
    EXPECT_EQ(device->cell(Half + 44), 0xA5A5A5A5u);
}

TEST_F(AudioOutTest, LessThanOneFrameOfCyclesStaysPending)
{
    EXPECT_EQ(framesRenderedBy([&] { engine.async(700, 0); }), 0u);
    EXPECT_TRUE(device->locks.empty());
    EXPECT_EQ(engine.getPendingCycles(), 700);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(100, 0); }), 1u);
    EXPECT_EQ(engine.getPendingCycles(), 800 - 768);
}

TEST_F(AudioOutTest, AsyncZeroOneForcesAFrameWhoseCyclesAreOwed)
{
    EXPECT_EQ(framesRenderedBy([&] { engine.async(0, 1); }), 1u);
    EXPECT_EQ(engine.getPendingCycles(), -768);

    EXPECT_EQ(framesRenderedBy([&] { engine.async(767, 0); }), 0u); // pays the debt but for one cycle
    EXPECT_EQ(engine.getPendingCycles(), -1);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(3 * 768 + 1 + 700, 0); }), 3u);
    EXPECT_EQ(engine.getPendingCycles(), 700);
}

TEST_F(AudioOutTest, AsyncZeroOneRendersAllWholeFramesOwed)
{
    engine.async(500, 0);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(0, 1); }), 1u);
    EXPECT_EQ(engine.getPendingCycles(), 500 - 768);

    // Owed frames held back by a full ring come out at the next async(0, 1).
    engine.stop();
    engine.start();
    setFree(2);
    AudioOut::ConfigAsyncMode = 3; // no correction: the ring stays nearly full
    engine.async(5 * 768 + 10, 0);
    EXPECT_EQ(engine.getPendingCycles(), 3 * 768 + 10);
    setFree(100);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(0, 1); }), 3u);
    EXPECT_EQ(engine.getPendingCycles(), 10);
}

TEST_F(AudioOutTest, SimpleJumpsBackWhenMoreThanThreeQuartersAreQueued)
{
    setFree(Quarter - 1);
    const unsigned long playAt = play;
    const unsigned long rendered = framesRenderedBy([&] { engine.async(Millisecond, 0); });
    EXPECT_EQ(rendered, 44u);
    EXPECT_EQ(device->locks.at(0).position, (playAt + N - Half) % N);
    EXPECT_EQ(engine.getWritePosition(), (playAt + N - Half + 44) % N);
}

TEST_F(AudioOutTest, SimpleJumpsForwardWhenLessThanAQuarterIsQueued)
{
    setFree(N - Quarter + 1);
    const unsigned long playAt = play;
    engine.async(Millisecond, 0);
    EXPECT_EQ(device->locks.at(0).position, (playAt + N - Half) % N);
    EXPECT_EQ(device->locks.at(0).length, 44u);
}

TEST_F(AudioOutTest, SimpleLeavesTheCursorAloneInsideTheBand)
{
    for (unsigned long freeFrames : {Quarter, N - Quarter, Half + 100})
    {
        device->locks.clear();
        const unsigned long write = engine.getWritePosition();
        setFree(freeFrames);
        engine.async(Millisecond, 0);
        ASSERT_EQ(device->locks.size(), 1u);
        EXPECT_EQ(device->locks[0].position, write) << "free " << freeFrames;
    }
}

TEST_F(AudioOutTest, RenderIsLimitedByTheFreeSpace)
{
    setFree(Quarter);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(N * 768, 0); }), Quarter);
}

TEST_F(AudioOutTest, WaitSleepsForTheSurplusAtTheOutputRate)
{
    AudioOut::ConfigAsyncMode = 1;
    const unsigned long write = engine.getWritePosition();
    setFree(Half - 441); // 441 frames too many: 10 ms
    engine.async(Millisecond, 0);
    EXPECT_EQ(clock.sleeps, 1);
    EXPECT_EQ(clock.sleptNs, 10000000);
    ASSERT_EQ(device->locks.size(), 1u);
    EXPECT_EQ(device->locks[0].position, write);
    EXPECT_EQ(device->locks[0].length, 44u);

    // Nearly half a ring too many: 8 191 frames, 185.7 ms, in nanoseconds truncated.
    engine.stop();
    engine.start();
    clock.sleptNs = 0;
    setFree(1);
    AudioOut::ConfigAsyncMode = 1;
    const long surplus = static_cast<long>(Half) - 1;
    engine.async(0, 0);
    EXPECT_EQ(clock.sleptNs, static_cast<int64_t>(surplus) * 1000000000 / 44100);
}

TEST_F(AudioOutTest, WaitTopsAShortQueueUpWithSilence)
{
    AudioOut::ConfigAsyncMode = 1;
    const unsigned long write = engine.getWritePosition();
    const unsigned long excess = Quarter + 100;
    setFree(Half + excess);
    engine.async(Millisecond, 0);
    ASSERT_EQ(device->locks.size(), 2u);
    EXPECT_EQ(device->locks[0].position, write);
    EXPECT_EQ(device->locks[0].length, excess);
    EXPECT_EQ(device->locks[1].position, write + excess);
    EXPECT_EQ(device->locks[1].length, 44u);
    for (unsigned long i = 0; i < excess; ++i)
        ASSERT_EQ(device->cell(write + i), 0u) << "silence frame " << i;
    EXPECT_EQ(engine.getWritePosition(), write + excess + 44);
}

TEST_F(AudioOutTest, WaitLeavesAQueueInsideTheLowerBandAlone)
{
    AudioOut::ConfigAsyncMode = 1;
    setFree(Half + Quarter);
    engine.async(Millisecond, 0);
    EXPECT_EQ(device->locks.size(), 1u);
}

namespace
{
// Frames that Smooth renders from nothing pending, computed from the controller's
// formula and its integral term before the call.
long smoothFrames(double rateBefore, unsigned long cycles, int excess)
{
    const double rate = rateBefore + (cycles / 33868800.0) * excess * 10 * 10;
    const double f = (rate + 14 * excess) / 33868800.0;
    return static_cast<long>(cycles * f);
}
} // namespace

TEST_F(AudioOutTest, SmoothMovesAnOverfullQueueOnlyToTheBandEdge)
{
    AudioOut::ConfigAsyncMode = 2;
    setFree(1000);
    const unsigned long playAt = play;
    const int excess = 1000 - static_cast<int>(Half);
    const double rateBefore = AudioOut::getSmoothSampleRate();
    const unsigned long cycles = 10 * Millisecond;
    const unsigned long rendered = framesRenderedBy([&] { engine.async(cycles, 0); });

    const long expected = smoothFrames(rateBefore, cycles, excess);
    EXPECT_EQ(static_cast<long>(rendered), expected > 0 ? expected : 0);
    EXPECT_EQ(engine.getWritePosition(), (playAt + N - Quarter + rendered) % N); // a quarter free
    EXPECT_LT(AudioOut::getSmoothSampleRate(), rateBefore);
    EXPECT_LT(rendered, 440u) << "both terms act downwards";
}

TEST_F(AudioOutTest, SmoothTopsAStarvedQueueUpToTheBandEdge)
{
    AudioOut::ConfigAsyncMode = 2;
    const unsigned long write = engine.getWritePosition();
    const unsigned long freeFrames = N - 1000;
    setFree(freeFrames);
    const int excess = static_cast<int>(freeFrames - Half);
    const double rateBefore = AudioOut::getSmoothSampleRate();
    const unsigned long cycles = 10 * Millisecond;
    const unsigned long rendered = framesRenderedBy([&] { engine.async(cycles, 0); });

    ASSERT_EQ(device->locks.size(), 2u);
    const unsigned long silence = excess - Quarter;
    EXPECT_EQ(device->locks[0].position, write);
    EXPECT_EQ(device->locks[0].length, silence); // leaves 3N/4 free
    EXPECT_EQ(device->locks[1].position, (write + silence) % N);
    EXPECT_GT(AudioOut::getSmoothSampleRate(), rateBefore);
    EXPECT_EQ(static_cast<long>(rendered), smoothFrames(rateBefore, cycles, excess));
    EXPECT_GT(rendered, 441u) << "the proportional term raises the rate";
}

TEST_F(AudioOutTest, SmoothWithoutExcessKeepsItsRate)
{
    AudioOut::ConfigAsyncMode = 2;
    setFree(Half);
    const double rateBefore = AudioOut::getSmoothSampleRate();
    const unsigned long rendered = framesRenderedBy([&] { engine.async(10 * Millisecond, 0); });
    EXPECT_EQ(AudioOut::getSmoothSampleRate(), rateBefore);
    EXPECT_EQ(static_cast<long>(rendered), smoothFrames(rateBefore, 10 * Millisecond, 0));
}

TEST_F(AudioOutTest, HugeCycleCountsRenderAtMostHalfARingAndStayBounded)
{
    setFree(N - 1);
    EXPECT_EQ(framesRenderedBy([&] { engine.async(ULONG_MAX, 0); }), Half);
    EXPECT_LE(engine.getPendingCycles(), static_cast<int>(N * 768));
    EXPECT_GE(engine.getPendingCycles(), 0);
    engine.async(ULONG_MAX, 0);
    EXPECT_LE(engine.getPendingCycles(), static_cast<int>(N * 768));
}

TEST_F(AudioOutTest, NothingHappensWhileStopped)
{
    engine.stop();
    EXPECT_FALSE(engine.isPlaying());
    EXPECT_EQ(framesRenderedBy([&] { engine.async(N * 768, 1); }), 0u);
    EXPECT_EQ(framesRenderedBy([&] { engine.updateBuffer(); }), 0u);
    engine.start();
}

namespace
{
int irqCalls = 0;
void countIRQ()
{
    ++irqCalls;
}

// Arms a transfer interrupt that the next rendered frame delivers.
void raiseTransferInterrupt()
{
    theSPU.writeRegister(0x1F801DAA, 0x8040); // SPU on, IRQ enabled
    theSPU.writeRegister(0x1F801DA4, 0x0200); // IRQ address
    theSPU.writeRegister(0x1F801DA6, 0x0200); // transfer address on it
}
} // namespace

TEST_F(AudioOutTest, InterruptWithWaitCPUActionEndsTheRenderAfterThatFrame)
{
    AudioOut::ConfigSPUIRQWaitCPUAction = 1;
    irqCalls = 0;
    engine.setexecuteSPUIRQ(countIRQ);
    raiseTransferInterrupt();

    EXPECT_EQ(framesRenderedBy([&] { engine.async(10 * Millisecond, 0); }), 1u);
    EXPECT_EQ(irqCalls, 1);
    EXPECT_TRUE(engine.isWaitingForCPU());
    EXPECT_EQ(engine.getWritePosition(), Half + 1);
    EXPECT_EQ(engine.getPendingCycles(), static_cast<int>(10 * Millisecond) - 768);

    // Paced updates stay idle until the CPU acts ...
    EXPECT_EQ(framesRenderedBy([&] { engine.updateBuffer(); }), 0u);
    // ... but the host's own async still renders.
    EXPECT_GT(framesRenderedBy([&] { engine.async(0, 0); }), 0u);
    engine.CPUaction();
    EXPECT_FALSE(engine.isWaitingForCPU());
    engine.setexecuteSPUIRQ(nullptr);
}

TEST_F(AudioOutTest, InterruptWithoutWaitCPUActionRendersOn)
{
    irqCalls = 0;
    engine.setexecuteSPUIRQ(countIRQ);
    raiseTransferInterrupt();
    EXPECT_EQ(framesRenderedBy([&] { engine.async(Millisecond, 0); }), 44u);
    EXPECT_EQ(irqCalls, 1);
    EXPECT_FALSE(engine.isWaitingForCPU());
    engine.setexecuteSPUIRQ(nullptr);
}

TEST_F(AudioOutTest, InterruptsWithoutCallbackAreKeptForLater)
{
    raiseTransferInterrupt();
    engine.async(Millisecond, 0);
    EXPECT_GT(engine.getPendingIRQCount(), 0);
    irqCalls = 0;
    engine.setexecuteSPUIRQ(countIRQ);
    engine.async(Millisecond, 0);
    EXPECT_EQ(irqCalls, 1);
    EXPECT_EQ(engine.getPendingIRQCount(), 0);
    engine.setexecuteSPUIRQ(nullptr);
}

// updateBuffer turns the clock's milliseconds into cycles: 100 ms are 3 386 880
// cycles, exactly 4 410 frames at 768 cycles a frame.
TEST_F(AudioOutTest, UpdateBufferRendersTheElapsedClock)
{
    clock.advanceTo(5000 * 1000000LL);
    engine.updateBuffer(); // brings the time base up to now
    engine.stop();         // drops what that owed; the time base stays
    engine.start();
    clock.advanceTo(5100 * 1000000LL);
    EXPECT_EQ(framesRenderedBy([&] { engine.updateBuffer(); }), 4410u);
    EXPECT_EQ(engine.getPendingCycles(), 0);

    // A third of a millisecond does not count yet; the whole one does.
    clock.advanceTo(5100 * 1000000LL + 333333);
    EXPECT_EQ(framesRenderedBy([&] { engine.updateBuffer(); }), 0u);
    clock.advanceTo(5101 * 1000000LL);
    EXPECT_EQ(framesRenderedBy([&] { engine.updateBuffer(); }), 44u);
}

TEST(AudioOutDeviceTest, DeviceIndexChoosesTheDevice)
{
    const int saved = AudioOut::ConfigAudioDevice;
    for (int index : {0, 1, 2, 3, 7})
    {
        AudioOut engine;
        AudioOut::ConfigAudioDevice = index;
        engine.init();
        if (index == 1)
            EXPECT_NE(dynamic_cast<AudioDeviceSdl*>(engine.getDevice()), nullptr);
        else
            EXPECT_NE(dynamic_cast<AudioDeviceOss*>(engine.getDevice()), nullptr) << "index " << index;
        engine.close();
        EXPECT_EQ(engine.getDevice(), nullptr);
    }
    AudioOut::ConfigAudioDevice = saved;
}

TEST(AudioOutDeviceTest, StopAndCloseWithoutDeviceAreHarmless)
{
    AudioOut engine;
    EXPECT_FALSE(engine.start());
    EXPECT_FALSE(engine.isPlaying());
    engine.async(1000000, 1);
    engine.updateBuffer();
    EXPECT_FALSE(engine.stop());
    EXPECT_FALSE(engine.close());
}

TEST(AudioOutDeviceTest, WithoutAFrameSourceTheEngineRendersSilence)
{
    AudioOut engine;
    std::vector<short> frames(2 * 300, 0x5555);
    EXPECT_EQ(engine.playSounds(frames.data(), 300), 300u);
    EXPECT_EQ(std::vector<short>(2 * 300, 0), frames);
}
