#pragma once

#include "audio/AudioDevice.h"

#include <atomic>
#include <pthread.h>

class EmulatedSoundBuffer;

// Plays the ring through the OSS device "/dev/dsp" (44100 Hz, S16LE, stereo). A
// writer thread of its own takes 128 frames at a time from the ring and writes them
// with blocking writes, so the driver's fill level paces the ring's play cursor.
// When the device cannot be opened the ring runs on the wall clock and the writer
// idles: the plugin keeps real-time pace without sound.
//
// The engine calls lock/unlock/getCurrentPosition/signal inside the critical
// section; the writer takes bufferMutex only around its 512-byte take and copy.
class AudioDeviceOss : public AudioDevice
{
public:
    static const char* DEV_DSP;

    AudioDeviceOss();
    ~AudioDeviceOss() override;

    bool init() override;
    bool close() override;
    bool start() override;
    bool stop() override;
    unsigned long getCurrentPosition() override;
    void* lock(unsigned long position, unsigned long length) override;
    void unlock() override;
    void signal() override;

private:
    static void* OssThreadProc(void* param);

    std::atomic<bool> bStopOssThread;
    pthread_t ptOssThread;
    // Only a thread that was created is ever joined.
    bool ossThreadCreated;
    pthread_mutex_t bufferMutex;
    pthread_cond_t dataReady;
    int dsp;
    EmulatedSoundBuffer* lpesb;
};
