#pragma once

#include "synth/VagBlock.h"

// The sums of one block of output frames, filled voice by voice: for each frame the
// sources that are not sent to the reverb (dry) and those that are (send; the main
// sum is the two together), and the noise generator's value for each frame (ticked
// for the whole block before the first voice runs). The block renderer
// (SPU::playBlock) owns one; a block is at most MaxFrames frames.
struct MixBlock
{
    static const int MaxFrames = 256;

    int dryL[MaxFrames];
    int dryR[MaxFrames];
    int sendL[MaxFrames];
    int sendR[MaxFrames];
    int noise[MaxFrames];
};

// One voice's working arrays for a block: its interpolated samples, and its
// envelope levels and volumes per frame, or one of each for the whole block where
// they hold still (levelHeld, volumesFixed: the arrays are then not filled).
struct VoiceBlock
{
    // The voice's windows through the block, one after the other (each block it
    // enters adds its 28 samples). A step is under 4 samples, so a block of frames
    // steps over fewer than 4 * MaxFrames samples and enters at most
    // 4 * MaxFrames / 28 + 1 blocks.
    static const int RunLength =
        VagBlock::WindowSize +
        VagBlock::BlockSamples * (MixBlock::MaxFrames * 4 / VagBlock::BlockSamples + 2);

    int run[RunLength];
    int samples[MixBlock::MaxFrames];
    int levels[MixBlock::MaxFrames];
    int volumeL[MixBlock::MaxFrames];
    int volumeR[MixBlock::MaxFrames];
    bool levelHeld;
    int heldLevel;
    bool volumesFixed;
    int fixedVolumeL;
    int fixedVolumeR;
};
