#include "synth/Mixer.h"

#include "reverb/SoundRam.h"

#include <cstdint>

Mixer::Mixer()
    : reverbVolumeL(0), reverbVolumeR(0), reverbEnabled(0), mainSumL(0), mainSumR(0), reverbSendL(0),
      reverbSendR(0)
{
}

Mixer::~Mixer() {}

void Mixer::getMixSound(short& left, short& right)
{
    int64_t sumL = mainSumL;
    int64_t sumR = mainSumR;
    if (reverbEnabled != 0)
    {
        int returnL = reverbSendL;
        int returnR = reverbSendR;
        reverb.doReverb(returnL, returnR);
        // 64-bit products: a loud return times 0x7FFF passes 32 bits.
        sumL += (static_cast<int64_t>(returnL) * reverbVolumeL) >> 15;
        sumR += (static_cast<int64_t>(returnR) * reverbVolumeR) >> 15;
    }

    mainVolumeL.updateCurrentVolume();
    mainVolumeR.updateCurrentVolume();

    left = saturate16<short>((sumL * mainVolumeL.getCurrentVolume()) >> 14);
    right = saturate16<short>((sumR * mainVolumeR.getCurrentVolume()) >> 14);

    mainSumL = mainSumR = 0;
    reverbSendL = reverbSendR = 0;
}

void Mixer::mixBlock(int frames, const MixBlock& block, short* out)
{
    // Fixed main volumes: each frame is its sums (and its reverb return) times the
    // volumes, without the sweep steps.
    if (!mainVolumeL.sweeps() && !mainVolumeR.sweeps())
    {
        const int64_t volumeL = mainVolumeL.getCurrentVolume();
        const int64_t volumeR = mainVolumeR.getCurrentVolume();
        if (reverbEnabled == 0)
            for (int k = 0; k < frames; ++k)
            {
                out[2 * k] =
                    saturate16<short>((static_cast<int64_t>(block.dryL[k] + block.sendL[k]) * volumeL) >> 14);
                out[2 * k + 1] =
                    saturate16<short>((static_cast<int64_t>(block.dryR[k] + block.sendR[k]) * volumeR) >> 14);
            }
        else
            for (int k = 0; k < frames; ++k)
            {
                int returnL = block.sendL[k];
                int returnR = block.sendR[k];
                reverb.doReverb(returnL, returnR);
                const int64_t sumL = (block.dryL[k] + block.sendL[k]) +
                                     ((static_cast<int64_t>(returnL) * reverbVolumeL) >> 15);
                const int64_t sumR = (block.dryR[k] + block.sendR[k]) +
                                     ((static_cast<int64_t>(returnR) * reverbVolumeR) >> 15);
                out[2 * k] = saturate16<short>((sumL * volumeL) >> 14);
                out[2 * k + 1] = saturate16<short>((sumR * volumeR) >> 14);
            }
        return;
    }
    for (int k = 0; k < frames; ++k)
    {
        mainSumL = block.dryL[k] + block.sendL[k];
        mainSumR = block.dryR[k] + block.sendR[k];
        reverbSendL = block.sendL[k];
        reverbSendR = block.sendR[k];
        getMixSound(out[2 * k], out[2 * k + 1]);
    }
}
