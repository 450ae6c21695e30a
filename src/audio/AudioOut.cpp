#include "audio/AudioOut.h"

#include "plugin/Globals.h"

int AudioOut::ConfigAudioDevice = 0;
int AudioOut::ConfigAsyncMode = 0;
int AudioOut::ConfigSPUIRQWaitCPUAction = 0;

AudioOut::AudioOut()
    : device(nullptr), playing(false), executeSPUIRQ(nullptr), spuIRQCount(0), waitCPUAction(false),
      writePosition(0), pendingCycles(0)
{
}

AudioOut::~AudioOut() {}

// Renders frames into buffer (left, right interleaved). After each frame the SPU's
// interrupt hits are collected and delivered; with ConfigSPUIRQWaitCPUAction on, a
// delivery ends the pass after that frame so the host can react first.
unsigned long AudioOut::playSounds(short* buffer, unsigned long frames)
{
    for (unsigned long i = 0; i < frames; ++i)
    {
        theSPU.playSound(buffer[2 * i], buffer[2 * i + 1]);

        spuIRQCount += theSPU.getSpuIRQCount();
        if (spuIRQCount > 0 && executeSPUIRQ != nullptr)
        {
            executeSPUIRQ();
            spuIRQCount = 0;
            if (ConfigSPUIRQWaitCPUAction != 0)
            {
                waitCPUAction = true;
                return i + 1;
            }
        }
    }
    return frames;
}
