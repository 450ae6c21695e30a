#pragma once

#include "audio/AudioDevice.h"

class EmulatedSoundBuffer;

// Plays the ring through SDL 1.2's audio (44100 Hz, S16LSB, stereo, 128-frame
// callbacks). SDL is not linked: it is loaded at run time ("libSDL.so", or the
// runtime-only "libSDL-1.2.so.0") and used through ten functions looked up by name,
// so without it the plugin runs silently on the ring's wall clock.
//
// SDL's audio thread calls callbackSDL with SDL's audio lock held; lock/unlock take
// the same lock, so the engine's writes and the callback's takes never overlap.
class AudioDeviceSdl : public AudioDevice
{
public:
    // The audio format record of SDL 1.2, as the library lays it out.
    struct SDL_AudioSpec
    {
        int freq;
        unsigned short format;
        unsigned char channels;
        unsigned char silence;
        unsigned short samples;
        unsigned short padding;
        unsigned int size;
        void (*callback)(void* userdata, unsigned char* stream, int len);
        void* userdata;
    };

    AudioDeviceSdl();
    ~AudioDeviceSdl() override;

    bool init() override;
    bool close() override;
    bool start() override;
    bool stop() override;
    unsigned long getCurrentPosition() override;
    void* lock(unsigned long position, unsigned long length) override;
    void unlock() override;

    static void callbackSDL(void* userdata, unsigned char* stream, int length);

private:
    void* hLibSDL;
    unsigned int (*SDL_WasInit)(unsigned int flags);
    int (*SDL_Init)(unsigned int flags);
    void (*SDL_Quit)(void);
    void (*SDL_LockAudio)(void);
    void (*SDL_UnlockAudio)(void);
    int (*SDL_GetAudioStatus)(void);
    void (*SDL_CloseAudio)(void);
    int (*SDL_OpenAudio)(SDL_AudioSpec* desired, SDL_AudioSpec* obtained);
    void (*SDL_MixAudio)(unsigned char* dst, const unsigned char* src, unsigned int len, int volume);
    void (*SDL_PauseAudio)(int pause_on);
    // False when SDL_OpenAudio failed: no callback will ever drain the ring, so it
    // stays on the wall clock rather than stalling the engine's pacing.
    bool audioOpened;
    EmulatedSoundBuffer* lpesb;
};
