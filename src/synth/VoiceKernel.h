#pragma once

#include "synth/MixBlock.h"

// The two inner loops of a voice's block, in a plain form that runs on any x86-64
// (SSE2, four frames at a time where it can) and an AVX2 form (eight frames at a
// time) chosen at load time where the processor has it. Both give the same
// numbers: every product fits in 32 bits and every shift is the arithmetic one of
// the frame renderer.
//
// interpolate: the samples read at position, position + step, ... (20.12 fixed
//   point) from a run of windows (VagBlock: each block's samples after the last).
// scaleAndMix: out = (sample * level) >> 15 into outputs, then (out * volume) >> 14
//   per side added to the block's dry sums, or to its reverb send where the voice
//   sends.
// The chosen forms are two statics shared by all voices: set while the library
// loads, and changed after only through useAvx2 (which the tests call).
class VoiceKernel
{
public:
    using Interpolate = void (*)(const int* window, int count, int position, int step, int* out);
    using ScaleAndMix = void (*)(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send);

    static void interpolate(const int* window, int count, int position, int step, int* out)
    {
        interpolateKernel(window, count, position, step, out);
    }
    static void scaleAndMix(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
    {
        scaleAndMixKernel(count, voice, outputs, mix, send);
    }

    // Whether this processor runs the AVX2 form.
    static bool hasAvx2();
    // Chooses the AVX2 form (where the processor has it) or the plain one; returns
    // whether AVX2 is in use. The library starts with the best the processor has,
    // or the plain form when the environment sets TALVANE_KERNEL=plain.
    static bool useAvx2(bool wanted);

    static void interpolatePlain(const int* window, int count, int position, int step, int* out);
    static void scaleAndMixPlain(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send);
    static void interpolateAvx2(const int* window, int count, int position, int step, int* out);
    static void scaleAndMixAvx2(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send);

private:
    static Interpolate interpolateKernel;
    static ScaleAndMix scaleAndMixKernel;
};
