#include "audio/AudioOut.h"

#include "audio/AudioDeviceOss.h"
#include "audio/AudioDeviceSdl.h"
#include "audio/Clock.h"
#include "spu/SPU.h"

#include <cstdint>
#include <cstring>
#include <ctime>

int AudioOut::ConfigAudioDevice = 0;
int AudioOut::ConfigAsyncMode = 0;
int AudioOut::ConfigSPUIRQWaitCPUAction = 0;

namespace
{
const int SampleRate = 44100;
const uint32_t CyclesPerSecond = AudioOut::CyclesPerFrame * SampleRate; // the CPU clock, 33 868 800 Hz
const double NominalFramesPerCycle = 1.0 / AudioOut::CyclesPerFrame;

enum AsyncMode
{
    AsyncSimple = 0,
    AsyncWait = 1,
    AsyncSmooth = 2
};

// Process-wide bookkeeping of the wall-clock pacing and the Smooth controller; it
// survives stop/start on purpose.
double smoothSampleRate = 44100.0;
bool lastTickCountSet = false;
uint32_t lastTickCount = 0;
uint32_t elapsedMilliSeconds = 0;
uint32_t renderedCycles = 0;

// One call of updateBuffer accounts at most one second of wall clock. A longer
// idle gap (output stopped, waiting for the CPU, a suspended machine) could not be
// queued anyway, and the cap keeps the millisecond and cycle counts far from their
// 32-bit limits: the bookkeeping folds back one second per call.
const int32_t MaxMilliSecondsPerUpdate = 1000;

// The most frames one call renders: half the default ring, so the default ring
// renders as much at once as it ever did. A larger ring fills over several calls
// instead (the time owed stays pending), so that no call holds the critical
// section for long: 8192 frames of 24 voices in the reverb take about 3 ms, half
// of the largest ring twenty times that.
const long MaxFramesPerCall = 8192;
} // namespace

AudioOut::AudioOut()
    : device(nullptr), source(nullptr), clock(&Clock::wall()), playing(false), executeSPUIRQ(nullptr),
      spuIRQCount(0), waitCPUAction(false), writePosition(0), pendingCycles(0)
{
}

AudioOut::~AudioOut()
{
    delete device;
}

double AudioOut::getSmoothSampleRate()
{
    return smoothSampleRate;
}

bool AudioOut::init()
{
    // "DirectSound" and "WaveMapper" belong to another platform: OSS stands in.
    if (ConfigAudioDevice == 1)
        return init(new AudioDeviceSdl);
    return init(new AudioDeviceOss);
}

bool AudioOut::init(AudioDevice* outputDevice)
{
    delete device;
    device = outputDevice;
    return device->init();
}

bool AudioOut::close()
{
    if (device == nullptr)
        return false;
    const bool result = device->close();
    delete device;
    device = nullptr;
    return result;
}

bool AudioOut::start()
{
    if (device == nullptr)
        return false;
    pendingCycles = 0;
    playing = true;
    const bool result = device->start();
    writePosition = static_cast<unsigned int>(device->getBufferSamples() / 2);
    return result;
}

bool AudioOut::stop()
{
    playing = false;
    if (device == nullptr)
        return false;
    return device->stop();
}

void AudioOut::updateBuffer()
{
    if (!playing || (ConfigSPUIRQWaitCPUAction != 0 && waitCPUAction))
        return;

    const uint32_t now = static_cast<uint32_t>(clock->getTickCount());
    if (!lastTickCountSet)
    {
        lastTickCount = now;
        lastTickCountSet = true;
    }
    // A wall clock set back counts as no time; a gap longer than the cap as the cap.
    int32_t step = static_cast<int32_t>(now - lastTickCount);
    lastTickCount = now;
    if (step < 0)
        step = 0;
    if (step > MaxMilliSecondsPerUpdate)
        step = MaxMilliSecondsPerUpdate;
    elapsedMilliSeconds += static_cast<uint32_t>(step);

    const uint32_t total =
        static_cast<uint32_t>(static_cast<uint64_t>(elapsedMilliSeconds) * CyclesPerSecond / 1000);
    async(total - renderedCycles, 0);
    renderedCycles = total;
    if (renderedCycles > CyclesPerSecond)
    {
        renderedCycles -= CyclesPerSecond;
        elapsedMilliSeconds -= 1000;
    }
}

// One report of emulated time: the cycles are added to those owed, the queue is
// measured and corrected as the async mode says, and the frames the owed cycles
// buy at the mode's rate are rendered at the write cursor.
void AudioOut::async(unsigned long cycles, long minSamples)
{
    if (!playing || device == nullptr)
        return;

    Queue queue = measureQueue();
    const int64_t accepted = acceptCycles(cycles, queue.size);
    correctQueue(queue);
    const double framesPerCycle = outputRate(accepted, queue.excess);
    const long frames = framesOwed(framesPerCycle, minSamples, queue);
    if (frames > 0)
        renderOwed(frames, framesPerCycle, queue.size);
}

AudioOut::Queue AudioOut::measureQueue() const
{
    Queue queue;
    queue.size = static_cast<int>(device->getBufferSamples());
    queue.half = queue.size / 2;
    queue.quarter = queue.size / 4;
    queue.freeFrames = static_cast<int>(device->getCurrentPosition()) - static_cast<int>(writePosition);
    if (queue.freeFrames < 0)
        queue.freeFrames += queue.size;
    // Positive: less than half the ring queued; negative: more.
    queue.excess = queue.freeFrames - queue.half;
    return queue;
}

// The cycles owed are held to one ring's worth at the nominal rate: more could never
// be queued, and a host reporting hours at once must not cost hours of rendering
// (nor overflow the 32-bit count). Below that the count is exact. Returns the
// cycles of this report that count.
int64_t AudioOut::acceptCycles(unsigned long cycles, int size)
{
    const int64_t maxPendingCycles = static_cast<int64_t>(size) * CyclesPerFrame;
    const int64_t accepted = cycles < static_cast<unsigned long>(maxPendingCycles)
                                 ? static_cast<int64_t>(cycles)
                                 : maxPendingCycles;
    int64_t pending = pendingCycles + accepted;
    if (pending > maxPendingCycles)
        pending = maxPendingCycles;
    pendingCycles = static_cast<int>(pending);
    return accepted;
}

// Brings the queue back towards half a ring as the async mode does: Simple jumps the
// write cursor to the middle beyond a quarter ring either way; Wait sleeps off a
// surplus and fills a shortage beyond a quarter with silence; Smooth moves the cursor
// or fills only as far as the band's edge and leaves the rest to its rate.
void AudioOut::correctQueue(Queue& queue)
{
    const int excess = queue.excess;
    const int quarter = queue.quarter;
    int write = static_cast<int>(writePosition);

    switch (ConfigAsyncMode)
    {
    case AsyncSimple:
        if (excess < -quarter || excess > quarter)
        {
            write += excess;
            queue.freeFrames -= excess;
        }
        break;
    case AsyncWait:
        if (excess < 0)
        {
            // Let the device play the surplus first.
            const int surplus = -excess;
            timespec delay;
            delay.tv_sec = surplus / SampleRate;
            delay.tv_nsec =
                static_cast<long>(static_cast<int64_t>(surplus % SampleRate) * 1000000000 / SampleRate);
            clock->sleep(&delay);
            queue.freeFrames -= excess;
        }
        else if (excess > quarter)
        {
            writeSilence(excess);
            write += excess;
            queue.freeFrames -= excess;
        }
        break;
    case AsyncSmooth:
        if (excess < -quarter)
        {
            write += excess + quarter;
            queue.freeFrames -= excess + quarter;
        }
        else if (excess > quarter)
        {
            writeSilence(excess - quarter);
            write += excess - quarter;
            queue.freeFrames -= excess - quarter;
        }
        break;
    default:
        break;
    }

    if (write < 0)
        write += queue.size;
    if (write >= queue.size)
        write -= queue.size;
    writePosition = static_cast<unsigned int>(write);
}

// Frames per emulated cycle: the nominal rate, or in Smooth mode the output of its
// proportional-integral control towards half a ring queued.
double AudioOut::outputRate(int64_t accepted, int excess)
{
    if (ConfigAsyncMode != AsyncSmooth)
        return NominalFramesPerCycle;
    smoothSampleRate += (accepted / static_cast<double>(CyclesPerSecond)) * excess * 10 * 10;
    return (smoothSampleRate + 14.0 * excess) / CyclesPerSecond;
}

// The whole frames the owed cycles buy, at least minSamples, within the free part of
// the ring and never more than half a ring or MaxFramesPerCall. Converted with
// bounds: the Smooth rate may be far off.
long AudioOut::framesOwed(double framesPerCycle, long minSamples, const Queue& queue) const
{
    const double wanted = pendingCycles * framesPerCycle;
    long frames = wanted >= queue.half ? queue.half : (wanted <= 0 ? 0 : static_cast<long>(wanted));
    if (frames < minSamples)
        frames = minSamples;
    if (frames <= 0)
        return 0;
    if (frames > queue.freeFrames)
        frames = queue.freeFrames;
    if (frames > queue.half)
        frames = queue.half;
    if (frames > MaxFramesPerCall)
        frames = MaxFramesPerCall;
    return frames;
}

// Renders the frames at the write cursor and pays their cycles.
void AudioOut::renderOwed(long frames, double framesPerCycle, int size)
{
    short* target = static_cast<short*>(device->lock(writePosition, static_cast<unsigned long>(frames)));
    const unsigned long rendered = playSounds(target, static_cast<unsigned long>(frames));
    device->unlock();
    device->signal();

    // Frames forced by minSamples at a rate of zero or below consumed no time.
    if (framesPerCycle > 0)
    {
        const int64_t maxPendingCycles = static_cast<int64_t>(size) * CyclesPerFrame;
        const double left = pendingCycles - rendered / framesPerCycle;
        pendingCycles =
            left < -maxPendingCycles ? static_cast<int>(-maxPendingCycles) : static_cast<int>(left);
    }
    writePosition += static_cast<unsigned int>(rendered);
    if (writePosition >= static_cast<unsigned int>(size))
        writePosition -= size;
}

void AudioOut::writeSilence(int frames)
{
    void* target = device->lock(writePosition, static_cast<unsigned long>(frames));
    std::memset(target, 0, static_cast<size_t>(frames) * 4);
    device->unlock();
    device->signal();
}

// Renders frames into buffer (left, right interleaved) in the SPU's blocks. A block
// ends with the frame that raises an interrupt, which is delivered there, as after
// every frame; with ConfigSPUIRQWaitCPUAction on, a delivery ends the pass after
// that frame so the host can react first.
unsigned long AudioOut::playSounds(short* buffer, unsigned long frames)
{
    unsigned long done = 0;
    while (done < frames)
    {
        const unsigned long left = frames - done;
        const int ask = left < static_cast<unsigned long>(MixBlock::MaxFrames) ? static_cast<int>(left)
                                                                               : MixBlock::MaxFrames;
        int raised = 0;
        if (source == nullptr)
        {
            std::memset(buffer + 2 * done, 0, static_cast<size_t>(ask) * 4);
            done += static_cast<unsigned long>(ask);
            continue;
        }
        done += static_cast<unsigned long>(source->playBlock(buffer + 2 * done, ask, raised));

        // The block ends with the frame that raised an interrupt, if one did.
        spuIRQCount += raised;
        if (spuIRQCount > 0 && executeSPUIRQ != nullptr)
        {
            executeSPUIRQ();
            spuIRQCount = 0;
            if (ConfigSPUIRQWaitCPUAction != 0)
            {
                waitCPUAction = true;
                return done;
            }
        }
    }
    return frames;
}
