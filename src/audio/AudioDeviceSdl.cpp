#include "audio/AudioDeviceSdl.h"

#include "audio/EmulatedSoundBuffer.h"
#include "audio/HostSignalBlock.h"

#include <cstdio>
#include <dlfcn.h>

namespace
{
const unsigned int SDL_INIT_AUDIO = 0x10;
const int SDL_AUDIO_STOPPED = 0;
const unsigned short AUDIO_S16LSB = 0x8010;
const int SDL_MIX_MAXVOLUME = 128;

template <typename Function> void resolve(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
}

// Loading the threads library globally first, then letting it go, is a habit from
// systems where SDL's threads needed it resolved; a failure means nothing.
void preloadThreadsLibrary(const char* name)
{
    void* library = dlopen(name, RTLD_LAZY | RTLD_GLOBAL);
    if (library != nullptr)
        dlclose(library);
}
} // namespace

AudioDeviceSdl::AudioDeviceSdl()
    : hLibSDL(nullptr), SDL_WasInit(nullptr), SDL_Init(nullptr), SDL_Quit(nullptr), SDL_LockAudio(nullptr),
      SDL_UnlockAudio(nullptr), SDL_GetAudioStatus(nullptr), SDL_CloseAudio(nullptr), SDL_OpenAudio(nullptr),
      SDL_MixAudio(nullptr), SDL_PauseAudio(nullptr), audioOpened(false), lpesb(nullptr)
{
}

AudioDeviceSdl::~AudioDeviceSdl()
{
    // Never leave SDL's thread a ring to read after the device is gone.
    if (lpesb != nullptr)
        stop();
}

bool AudioDeviceSdl::init()
{
    preloadThreadsLibrary("libpthread.so");
    preloadThreadsLibrary("libpthread.so.0");

    // Most machines carry only SDL's runtime library, without the development link.
    hLibSDL = dlopen("libSDL.so", RTLD_LAZY);
    if (hLibSDL == nullptr)
        hLibSDL = dlopen("libSDL-1.2.so.0", RTLD_LAZY);
    if (hLibSDL == nullptr)
    {
        std::fputs("SPU: libSDL.so load error.\r\n", stderr);
        std::fputs("SPU: AudioDevice Disabled.\r\n", stderr);
        return false;
    }

    resolve(hLibSDL, "SDL_WasInit", SDL_WasInit);
    resolve(hLibSDL, "SDL_Init", SDL_Init);
    resolve(hLibSDL, "SDL_Quit", SDL_Quit);
    resolve(hLibSDL, "SDL_LockAudio", SDL_LockAudio);
    resolve(hLibSDL, "SDL_UnlockAudio", SDL_UnlockAudio);
    resolve(hLibSDL, "SDL_GetAudioStatus", SDL_GetAudioStatus);
    resolve(hLibSDL, "SDL_CloseAudio", SDL_CloseAudio);
    resolve(hLibSDL, "SDL_OpenAudio", SDL_OpenAudio);
    resolve(hLibSDL, "SDL_MixAudio", SDL_MixAudio);
    resolve(hLibSDL, "SDL_PauseAudio", SDL_PauseAudio);

    SDL_Init(SDL_INIT_AUDIO);
    if (SDL_GetAudioStatus() != SDL_AUDIO_STOPPED)
        SDL_CloseAudio();

    SDL_AudioSpec spec = {};
    spec.freq = 44100;
    spec.format = AUDIO_S16LSB;
    spec.channels = 2;
    spec.samples = 128;
    spec.callback = callbackSDL;
    spec.userdata = this;
    // SDL's audio thread is created here and inherits the mask.
    const HostSignalBlock block;
    audioOpened = SDL_OpenAudio(&spec, nullptr) == 0;
    return true;
}

bool AudioDeviceSdl::close()
{
    if (hLibSDL == nullptr)
        return false;
    SDL_Quit();
    dlclose(hLibSDL);
    hLibSDL = nullptr;
    return true;
}

bool AudioDeviceSdl::start()
{
    if (lpesb != nullptr)
        return true;
    bufferSamples = configuredRingFrames();
    EmulatedSoundBuffer* ring = new EmulatedSoundBuffer(bufferSamples);
    if (hLibSDL == nullptr)
    {
        lpesb = ring;
        return false;
    }
    ring->setUseClock(!audioOpened);
    // Published under SDL's lock: the callback reads lpesb under that lock.
    SDL_LockAudio();
    lpesb = ring;
    SDL_UnlockAudio();
    SDL_PauseAudio(0);
    return true;
}

bool AudioDeviceSdl::stop()
{
    if (lpesb == nullptr)
        return true;
    EmulatedSoundBuffer* ring = lpesb;
    if (hLibSDL != nullptr)
    {
        SDL_PauseAudio(1);
        // Pausing does not wait for a callback already running; taking SDL's lock
        // does, so the ring is never freed under a callback's feet.
        SDL_LockAudio();
        lpesb = nullptr;
        SDL_UnlockAudio();
    }
    else
        lpesb = nullptr;
    delete ring;
    return true;
}

unsigned long AudioDeviceSdl::getCurrentPosition()
{
    return lpesb != nullptr ? lpesb->getCurrentPosition() : 0;
}

void* AudioDeviceSdl::lock(unsigned long position, unsigned long length)
{
    if (hLibSDL != nullptr)
        SDL_LockAudio();
    return lpesb->lock(position, length);
}

void AudioDeviceSdl::unlock()
{
    lpesb->unlock();
    if (hLibSDL != nullptr)
        SDL_UnlockAudio();
}

void AudioDeviceSdl::callbackSDL(void* userdata, unsigned char* stream, int length)
{
    AudioDeviceSdl* pdsbs = static_cast<AudioDeviceSdl*>(userdata);
    if (pdsbs == nullptr || pdsbs->lpesb == nullptr)
    {
        std::puts("pdsbs or pdsbs->lpesb: NULL");
        return;
    }
    long n = length / 4;
    if (n > static_cast<long>(pdsbs->bufferSamples))
        n = pdsbs->bufferSamples;
    // A negative length from a broken caller must not become a huge take.
    if (n <= 0)
        return;
    const unsigned char* frames = static_cast<const unsigned char*>(pdsbs->lpesb->getPrimaryMix(n));
    pdsbs->SDL_MixAudio(stream, frames, static_cast<unsigned int>(n) * 4, SDL_MIX_MAXVOLUME);
    pdsbs->consumedSamples += static_cast<unsigned int>(n);
}
