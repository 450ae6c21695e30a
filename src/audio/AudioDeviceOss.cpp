#include "audio/AudioDeviceOss.h"

#include "audio/EmulatedSoundBuffer.h"
#include "audio/HostSignalBlock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/soundcard.h>
#include <unistd.h>

const char* AudioDeviceOss::DEV_DSP = "/dev/dsp";

namespace
{
const unsigned long BlockFrames = 128;
} // namespace

AudioDeviceOss::AudioDeviceOss()
    : bStopOssThread(true), ptOssThread(), ossThreadCreated(false), dsp(-1), lpesb(nullptr)
{
    pthread_mutex_init(&bufferMutex, nullptr);
    pthread_cond_init(&dataReady, nullptr);
}

AudioDeviceOss::~AudioDeviceOss()
{
    // A device destroyed while still started must not leave its writer reading a
    // freed ring.
    if (lpesb != nullptr)
        stop();
    pthread_cond_destroy(&dataReady);
    pthread_mutex_destroy(&bufferMutex);
}

bool AudioDeviceOss::init()
{
    dsp = open(DEV_DSP, O_WRONLY);
    if (dsp < 0)
    {
        char message[256];
        std::snprintf(message, sizeof(message), "SPU: open(\"%s\", O_WRONLY)", DEV_DSP);
        perror(message);
        std::fputs("\rSPU: AudioDevice Disabled.\r\n", stderr);
        return false;
    }

    // At most 4 fragments of 2^11 bytes: the driver holds at most 2048 frames (46 ms).
    int fragment = 0x0004000B;
    ioctl(dsp, SNDCTL_DSP_SETFRAGMENT, &fragment);

    audio_buf_info abi;
    if (ioctl(dsp, SNDCTL_DSP_GETOSPACE, &abi) == -1)
        perror("ioctl(dsp, SNDCTL_DSP_GETOSPACE, &abi)");

    int format = 44100;
    if (ioctl(dsp, SNDCTL_DSP_SPEED, &format) == -1)
    {
        perror("ioctl(dsp, SNDCTL_DSP_SPEED, &format)");
        return false;
    }
    format = 2;
    if (ioctl(dsp, SNDCTL_DSP_CHANNELS, &format) == -1)
    {
        perror("ioctl(dsp, SNDCTL_DSP_CHANNELS, &format)");
        return false;
    }
    format = AFMT_S16_LE;
    if (ioctl(dsp, SNDCTL_DSP_SETFMT, &format) == -1)
    {
        perror("ioctl(dsp, SNDCTL_DSP_SETFMT, &format)");
        return false;
    }
    return true;
}

bool AudioDeviceOss::close()
{
    int arg = 0;
    ioctl(dsp, SNDCTL_DSP_RESET, &arg);
    ::close(dsp);
    // Forgotten, so that a second close cannot close a descriptor reused meanwhile.
    dsp = -1;
    return true;
}

bool AudioDeviceOss::start()
{
    if (lpesb != nullptr)
        return true;
    bufferSamples = configuredRingFrames();
    lpesb = new EmulatedSoundBuffer(bufferSamples);
    if (dsp >= 0)
        lpesb->setUseClock(false);
    bStopOssThread = false;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    int result;
    {
        const HostSignalBlock block;
        result = pthread_create(&ptOssThread, &attr, OssThreadProc, this);
    }
    pthread_attr_destroy(&attr);
    ossThreadCreated = result == 0;
    if (!ossThreadCreated)
    {
        errno = result;
        perror("pthread_create(&ptOssThread, NULL, OssThreadProc, this)");
        return false;
    }
    return true;
}

bool AudioDeviceOss::stop()
{
    if (lpesb == nullptr)
        return true;
    bStopOssThread = true;
    pthread_cond_signal(&dataReady);
    if (ossThreadCreated)
        pthread_join(ptOssThread, nullptr);
    ossThreadCreated = false;
    // Lets the driver play out what it holds.
    ioctl(dsp, SNDCTL_DSP_SYNC, nullptr);
    delete lpesb;
    lpesb = nullptr;
    return true;
}

unsigned long AudioDeviceOss::getCurrentPosition()
{
    return lpesb != nullptr ? lpesb->getCurrentPosition() : 0;
}

void* AudioDeviceOss::lock(unsigned long position, unsigned long length)
{
    pthread_mutex_lock(&bufferMutex);
    return lpesb->lock(position, length);
}

void AudioDeviceOss::unlock()
{
    lpesb->unlock();
    pthread_mutex_unlock(&bufferMutex);
}

void AudioDeviceOss::signal()
{
    pthread_cond_signal(&dataReady);
}

void* AudioDeviceOss::OssThreadProc(void* param)
{
    AudioDeviceOss* self = static_cast<AudioDeviceOss*>(param);
    pthread_setname_np(pthread_self(), "spu-oss");

    // The writer never takes the critical section, so the pacing timer's SIGALRM
    // has no business here: it would only interrupt a write (EINTR). SIGPIPE is
    // blocked too, so a device that goes away (a pipe whose reader left) makes the
    // write fail with EPIPE instead of killing the host.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGALRM);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    unsigned char block[BlockFrames * 4];
    while (!self->bStopOssThread)
    {
        if (self->dsp < 0)
        {
            usleep(100000);
            continue;
        }

        pthread_mutex_lock(&self->bufferMutex);
        std::memcpy(block, self->lpesb->getPrimaryMix(BlockFrames), sizeof(block));
        pthread_mutex_unlock(&self->bufferMutex);

        size_t written = 0;
        while (written < sizeof(block))
        {
            const ssize_t result = write(self->dsp, block + written, sizeof(block) - written);
            if (result > 0)
            {
                written += static_cast<size_t>(result);
                continue;
            }
            perror("SPU: write() error");
            std::fputs("\r", stderr);
            usleep(10000);
            if (self->bStopOssThread)
                break;
        }
        self->consumedSamples += BlockFrames;
    }
    return nullptr;
}
