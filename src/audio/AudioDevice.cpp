#include "audio/AudioDevice.h"

int AudioDevice::ConfigSoundBufferSize = 0;
