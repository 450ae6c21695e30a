#pragma once

#include "synth/Envelope.h"

// A volume register (voice left/right, main left/right): either a fixed volume or a
// sweep that moves the volume once per output sample. Volumes are 1.14 fixed point
// (0x4000 = 1.0); the accumulator holds them with ADSRResolutionBit (27) bits.
// No statics of its own: a sweep steps by the envelope's rate table (Envelope).
class Volume
{
public:
    Volume();
    virtual ~Volume();

    void setVolume(unsigned short value);
    int getCurrentVolume() const { return currentVolume; }
    bool sweeps() const { return sweepMode != 0; }
    void updateCurrentVolume();
    // Steps the volume for `frames` samples, storing each new value.
    void run(int frames, int* volumes);

protected:
    int sweepMode;
    int fixedVolume;
    int sweepRate;
    int sweepExponential;
    int sweepDecrease;
    int sweepNegative;
    int currentVolume;
    int accumulator;
};

// Inline: it runs twice per voice and output sample in the frame loop.
inline void Volume::updateCurrentVolume()
{
    if (sweepMode == 0)
        return;

    const int top = Envelope::ADSRResolution;
    int a = accumulator < 0 ? -accumulator : accumulator;
    int d = static_cast<int>(Envelope::new_table_sr[sweepRate]);
    if (sweepDecrease)
        d = -d;
    // |accumulator| <= 2^27 and |d| <= 2^26: a * 5 and the sums fit in 32 bits.
    if (sweepExponential)
        a = a + (d / 5) * (((a * 5) >> Envelope::ADSRResolutionBit) + 1);
    else
        a = a + d;
    if (a >= top)
        a = top;
    else if (a <= 0)
        a = 0;

    accumulator = sweepNegative ? -a : a;
    currentVolume = accumulator >> (Envelope::ADSRResolutionBit - 14);
}
