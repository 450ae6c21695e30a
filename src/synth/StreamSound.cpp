#include "synth/StreamSound.h"

#include "synth/Mixer.h"

#include <cstring>

int StreamSound::ConfigWaitForXABufferIsFree = 0;

StreamSound::StreamSound()
    : volumeL(0), volumeR(0), cdReverbEnabled(0), size(0), ring(nullptr), write(0), read(0), phase(0), fade(0),
      refill(0), captureIndex(0)
{
    std::memset(staging, 0, sizeof(staging));
}

StreamSound::~StreamSound()
{
    delete[] ring;
}

void StreamSound::init()
{
    volumeL = volumeR = 0;
    captureIndex = 0;
    write = read = 0;
    phase = fade = refill = 0;
}

void StreamSound::playSound(Mixer* mixer, unsigned short* soundBuffer)
{
    int left = 0;
    int right = 0;
    if (read != write)
    {
        left = ring[read];
        right = ring[read + 1];
        read += 2;
        if (read >= size)
            read = 0;
        mixer->mixSound((left * volumeL) >> 15, (right * volumeR) >> 15, cdReverbEnabled);
    }
    // CD capture areas: left at words 0..511, right at 512..1023. Not a transfer:
    // no cache invalidation, no IRQ check.
    soundBuffer[captureIndex] = static_cast<unsigned short>(left);
    soundBuffer[512 + captureIndex] = static_cast<unsigned short>(right);
    captureIndex = (captureIndex + 1) & 511;
}
