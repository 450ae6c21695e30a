#include "synth/Volume.h"

#include "synth/Envelope.h"

Volume::Volume()
    : sweepMode(0), fixedVolume(0), sweepRate(0), sweepExponential(0), sweepDecrease(0), sweepNegative(0),
      currentVolume(0), accumulator(0)
{
    // The sweeps step by the sustain rates of the envelope's tables.
    Envelope::buildTablesOnce();
}

Volume::~Volume() {}

// Volume register: sweep mode (15); fixed: volume in bits 0-13 with bit 14 as sign;
// sweep: exponential (14), decrease (13), negative (12), rate (0-6). Every field is
// decoded on every write, whatever the mode.
void Volume::setVolume(unsigned short v)
{
    sweepMode = (v >> 15) & 1;
    fixedVolume = (v & 0x4000) ? static_cast<int>(v & 0x3FFF) - 0x4000 : (v & 0x3FFF);
    sweepRate = v & 0x7F;
    sweepExponential = (v >> 14) & 1;
    sweepDecrease = (v >> 13) & 1;
    sweepNegative = (v >> 12) & 1;
    if (sweepMode == 0)
    {
        currentVolume = fixedVolume;
        accumulator = fixedVolume * (1 << (Envelope::ADSRResolutionBit - 14));
    }
}

void Volume::run(int frames, int* volumes)
{
    if (sweepMode == 0)
    {
        const int volume = currentVolume; // a local: the stores cannot change it
        for (int k = 0; k < frames; ++k)
            volumes[k] = volume;
        return;
    }
    for (int k = 0; k < frames; ++k)
    {
        updateCurrentVolume();
        volumes[k] = currentVolume;
    }
}
