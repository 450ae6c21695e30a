#pragma once

#include <cstdint>

class AudioDevice;
class Clock;
class SPU;

// The output engine: turns emulated time (CPU cycles at 33 868 800 Hz, 768 per
// output frame) into frames rendered into the device's ring, keeping about half the
// ring queued ahead of the device's play cursor. After every rendered frame it
// collects the SPU's interrupt hits and calls the host's IRQ callback; with
// ConfigSPUIRQWaitCPUAction on it then holds the paced output until the host
// touches a register or DMA (CPUaction).
//
// Frames come from the SPU it is given (setFrameSource); without one it renders
// silence. Time comes from a Clock: the wall clock unless a test hands the engine a
// virtual one (setClock) to drive it through time of its own.
//
// The plugin's instance is theAudioOut, fed by theSPU. Every operation runs inside
// the critical section.
class AudioOut
{
public:
    // Emulated CPU cycles per output frame: the CPU clock over the output rate.
    static const int CyclesPerFrame = 768;

    // Settings shared by every engine, written only by Config::updateConfigValue
    // (at SPUinit and SPUopen, and by the real-time window inside the critical
    // section): the device init creates, the async mode, and the hold after an
    // interrupt.
    static int ConfigAudioDevice;
    static int ConfigAsyncMode;
    static int ConfigSPUIRQWaitCPUAction;

    AudioOut();
    virtual ~AudioOut();

    // Creates the configured device (1 SDL, every other index OSS) and initialises it.
    bool init();
    // The same with a device given by the caller; the engine takes ownership.
    bool init(AudioDevice* outputDevice);
    bool close();
    bool start();
    bool stop();
    void updateBuffer();
    void async(unsigned long cycles, long minSamples);
    unsigned long playSounds(short* buffer, unsigned long frames);

    void setFrameSource(SPU& spu) { source = &spu; }
    // The clock of updateBuffer and of the "Wait" sleep; the wall clock by default.
    void setClock(Clock& time) { clock = &time; }
    void setexecuteSPUIRQ(void (*callback)(void)) { executeSPUIRQ = callback; }
    void CPUaction() { waitCPUAction = false; }

    // Views for tests.
    bool isPlaying() const { return playing; }
    bool isWaitingForCPU() const { return waitCPUAction; }
    int getPendingIRQCount() const { return spuIRQCount; }
    AudioDevice* getDevice() const { return device; }
    unsigned long getWritePosition() const { return writePosition; }
    int getPendingCycles() const { return pendingCycles; }
    static double getSmoothSampleRate();

private:
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;

    // The ring as one report of time finds it: its size, half and quarter, the
    // frames free ahead of the write cursor, and how far that is from half a ring
    // (positive: less than half queued).
    struct Queue
    {
        int size;
        int half;
        int quarter;
        int freeFrames;
        int excess;
    };

    // The steps of async, in order.
    Queue measureQueue() const;
    int64_t acceptCycles(unsigned long cycles, int size);
    void correctQueue(Queue& queue);
    double outputRate(int64_t accepted, int excess);
    long framesOwed(double framesPerCycle, long minSamples, const Queue& queue) const;
    void renderOwed(long frames, double framesPerCycle, int size);

    // Writes frames of silence at the write cursor (the Wait and Smooth top-ups).
    void writeSilence(int frames);

    AudioDevice* device;
    SPU* source;
    Clock* clock;
    bool playing;
    void (*executeSPUIRQ)(void);
    int spuIRQCount;
    bool waitCPUAction;
    unsigned int writePosition;
    int pendingCycles;
};
