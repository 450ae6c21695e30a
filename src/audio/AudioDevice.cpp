#include "audio/AudioDevice.h"

int AudioDevice::ConfigSoundBufferSize = 0;

unsigned int AudioDevice::configuredRingFrames()
{
    int units = ConfigSoundBufferSize;
    if (units < 1)
        units = 1;
    if (units > 999)
        units = 999;
    return static_cast<unsigned int>(units) * 256;
}
