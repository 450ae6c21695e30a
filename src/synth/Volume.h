#pragma once

// A volume register (voice left/right, main left/right): either a fixed volume or a
// sweep that moves the volume once per output sample. Volumes are 1.14 fixed point
// (0x4000 = 1.0); the accumulator holds them with ADSRResolutionBit (27) bits.
class Volume
{
public:
    Volume();
    virtual ~Volume();

    void setVolume(unsigned short value);
    int getCurrentVolume() const { return currentVolume; }
    void updateCurrentVolume();

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
