#pragma once

#include <atomic>

// An output device: a ring of 44100 Hz stereo frames (32-bit cells, left then right)
// that the output engine fills through lock/unlock at its write cursor while the
// device's drain plays it from the play cursor (getCurrentPosition).
class AudioDevice
{
public:
    // Ring size in units of 256 frames ("SoundBufferSize", 1..999, default 64),
    // shared by both devices; written only by Config::updateConfigValue and read
    // when a device starts, so a new size applies at the next start.
    static int ConfigSoundBufferSize;
    static const int DefaultSoundBufferSize = 64;

    AudioDevice() : bufferSamples(0), consumedSamples(0) {}
    virtual ~AudioDevice() {}

    virtual bool init() = 0;
    virtual bool close() = 0;
    virtual bool start() = 0;
    virtual bool stop() = 0;
    virtual unsigned long getCurrentPosition() = 0;
    virtual void* lock(unsigned long position, unsigned long length) = 0;
    virtual void unlock() = 0;
    virtual void signal() {}

    unsigned long getBufferSamples() const { return bufferSamples; }
    unsigned long getConsumedSamples() const { return consumedSamples; }

protected:
    // ConfigSoundBufferSize x 256 frames. The configuration file is not range
    // checked: a zero or negative size (a key missing from the file reads as 0)
    // means the default 64 units, since a ring without frames would divide by zero
    // in its clock; above the dialog's 999 the size is held to 999.
    static unsigned int configuredRingFrames();

    unsigned int bufferSamples;
    // Added to by the drain's thread, read by others.
    std::atomic<unsigned int> consumedSamples;
};
