#include "audio/AudioDevice.h"

int AudioDevice::ConfigSoundBufferSize = 0;

unsigned int AudioDevice::configuredRingFrames()
{
    int units = ConfigSoundBufferSize;
    // A file without the key reads it as 0. The least ring (256 frames, two of the
    // drains' 128-frame takes) cannot stay half full, so "not set" means the default.
    if (units < 1)
        units = DefaultSoundBufferSize;
    if (units > 999)
        units = 999;
    return static_cast<unsigned int>(units) * 256;
}
