#include "audio/AudioDevice.h"

int AudioDevice::ConfigSoundBufferSize = 0;

unsigned int AudioDevice::configuredRingFrames()
{
    int units = ConfigSoundBufferSize;
    // A key missing from the file reads as 0: that means the default, not the
    // smallest ring (256 frames would splice hundreds of times a second).
    if (units < 1)
        units = DefaultSoundBufferSize;
    if (units > 999)
        units = 999;
    return static_cast<unsigned int>(units) * 256;
}
