#include "synth/Envelope.h"

#include <cmath>
#include <cstdint>

// Constant-initialised before any constructor runs, so the tables built on first
// use can rely on it.
int Envelope::ADSRResolution = (1 << Envelope::ADSRResolutionBit) - 1;
unsigned int Envelope::new_table_ar[128];
unsigned int Envelope::new_table_dr[16];
unsigned int Envelope::new_table_sr[128];
unsigned int Envelope::new_table_rr[32];

Envelope::Envelope()
    : attackExponential(0), attackRate(0), decayRate(0), sustainLevel(0), sustainExponential(0),
      sustainDecrease(0), sustainRate(0), releaseExponential(0), releaseRate(0), adsrVolume(0),
      accumulator(0), phase(Off)
{
    buildTablesOnce();
}

void Envelope::buildTablesOnce()
{
    static const bool built = (initEnvelopeTable(), true);
    (void)built;
}

Envelope::~Envelope() {}

// ADSR word 1: attack exponential (15), attack rate (8-14), decay rate (4-7), sustain level (0-3)
void Envelope::setADSR1(unsigned short v)
{
    attackExponential = (v >> 15) & 1;
    attackRate = (v >> 8) & 0x7F;
    decayRate = (v >> 4) & 0x0F;
    sustainLevel = v & 0x0F;
}

// ADSR word 2: sustain exponential (15), sustain decrease (14), bit 13 unused,
// sustain rate (6-12), release exponential (5), release rate (0-4)
void Envelope::setADSR2(unsigned short v)
{
    sustainExponential = (v >> 15) & 1;
    sustainDecrease = (v >> 14) & 1;
    sustainRate = (v >> 6) & 0x7F;
    releaseExponential = (v >> 5) & 1;
    releaseRate = v & 0x1F;
}

void Envelope::setADSRVolume(int value)
{
    adsrVolume = value;
    accumulator = value << (ADSRResolutionBit - 15);
}

// T(n) = trunc(2^(31 - n/4)) as a 64-bit integer, low 32 bits as unsigned, >> (32 - B).
void Envelope::initEnvelopeTable()
{
    const int shift = 32 - ADSRResolutionBit;
    // shift is a constant expression, which the lambda may use without capturing it.
    auto t = [](int n) {
        const int64_t value = static_cast<int64_t>(std::pow(2.0, 31.0 - n / 4.0));
        return static_cast<uint32_t>(value) >> shift;
    };
    for (int r = 0; r < 128; ++r)
    {
        new_table_ar[r] = t(r + 1);
        new_table_sr[r] = t(r);
    }
    for (int r = 0; r < 16; ++r)
        new_table_dr[r] = (0x80000000u >> r) >> shift;
    for (int r = 0; r < 32; ++r)
        new_table_rr[r] = (0x80000000u >> r) >> shift;
}

int Envelope::run(int frames, int* levels)
{
    for (int k = 0; k < frames; ++k)
    {
        updateADSRVolume();
        levels[k] = adsrVolume;
        if (adsrVolume == 0)
            return k + 1;
        // A sustain whose rate steps by 0 holds its level from here on.
        if (phase == Sustain && new_table_sr[sustainRate] == 0)
        {
            const int level = adsrVolume; // a local: the stores cannot change it
            for (++k; k < frames; ++k)
                levels[k] = level;
            return frames;
        }
    }
    return frames;
}

void Envelope::stoppedInLastStep()
{
    phase = Off;
    accumulator = 0;
    adsrVolume = 0;
}

void Envelope::KeyOn()
{
    phase = Attack;
    adsrVolume = 1;
    accumulator = 1;
}

void Envelope::KeyOff()
{
    phase = Release;
}
