#pragma once

// ADSR envelope of one voice, stepped once per 44100 Hz output sample.
// The level is an accumulator of ADSRResolutionBit (27) bits; the voice multiplies
// its samples by the 15-bit ADSR volume (accumulator >> 12).
//
// The rate tables are class statics because every envelope and every volume sweep
// (Volume, through new_table_sr) steps by the same rates: the first Envelope or
// Volume constructed builds them (in the plugin, a voice of the global SPU while
// the library loads) and nothing writes them after; ADSRResolution is a constant
// initialised before any constructor runs.
class Envelope
{
public:
    enum Phase
    {
        Off = 0,
        Attack = 1,
        Decay = 2,
        Sustain = 3,
        Release = 4
    };

    static const int ADSRResolutionBit = 27;
    static int ADSRResolution;
    static unsigned int new_table_ar[128];
    static unsigned int new_table_dr[16];
    static unsigned int new_table_sr[128];
    static unsigned int new_table_rr[32];

    Envelope();
    virtual ~Envelope();

    static void initEnvelopeTable();
    // Builds the rate tables on the first call; every Envelope and Volume makes it,
    // so that no step reads an empty table.
    static void buildTablesOnce();

    void setADSR1(unsigned short value);
    void setADSR2(unsigned short value);
    void KeyOn();
    void KeyOff();
    void stop() { phase = Off; }
    int getADSRVolume() const { return adsrVolume; }
    void setADSRVolume(int value);
    void updateADSRVolume();
    // Steps the envelope for up to `frames` samples, storing each new ADSR volume;
    // stops after the step that reaches 0 (the voice falls silent after that
    // sample). Returns the number of steps taken.
    int run(int frames, int* levels);
    // Whether a step leaves the level as it is: a sustain that steps by 0, with the
    // accumulator inside its range and the level it gives.
    bool holds() const
    {
        return phase == Sustain && new_table_sr[sustainRate] == 0 && accumulator >= 0 &&
               accumulator <= ADSRResolution && adsrVolume == levelOf(accumulator);
    }
    // A loop end without repeat during the last step: the phase is Off and that
    // step's level 0, as updateADSRVolume leaves it after stop().
    void stoppedInLastStep();

    int getPhase() const { return phase; }

protected:
    // The 15-bit ADSR volume of an accumulator: never 0 while it is not.
    static int levelOf(int accumulator)
    {
        const int level = accumulator >> (ADSRResolutionBit - 15);
        return level == 0 && accumulator != 0 ? 1 : level;
    }

    int attackExponential;
    int attackRate;
    int decayRate;
    int sustainLevel;
    int sustainExponential;
    int sustainDecrease;
    int sustainRate;
    int releaseExponential;
    int releaseRate;
    int adsrVolume;
    int accumulator;
    int phase;
};

// Inline: it runs once per voice and output sample in the frame loop.
inline void Envelope::updateADSRVolume()
{
    const int v = adsrVolume;
    const int top = ADSRResolution;
    // The accumulator stays within 0..2^27 - 1 and every step is below 2^27, so
    // the sums below fit in 32 bits before the clamp.
    switch (phase)
    {
    case Off:
        accumulator = 0;
        break;
    case Attack:
    {
        const int s = (attackExponential && v > 0x6000) ? 2 : 0;
        accumulator += static_cast<int>(new_table_ar[attackRate] >> s);
        if (accumulator >= top)
            phase = Decay;
        break;
    }
    case Decay:
        accumulator -= static_cast<int>(new_table_dr[decayRate] >> 3) * ((v >> 12) + 1);
        if (accumulator <= ((top >> 4) + 1) * (sustainLevel + 1))
            phase = Sustain;
        break;
    case Sustain:
    {
        const int d = sustainDecrease ? -static_cast<int>(new_table_sr[sustainRate])
                                      : static_cast<int>(new_table_sr[sustainRate]);
        if (sustainExponential)
            accumulator += (d / 5) * (((v * 5) >> 15) + 1);
        else
            accumulator += d;
        break;
    }
    case Release:
        if (releaseExponential)
            accumulator -= static_cast<int>(new_table_rr[releaseRate] >> 3) * ((v >> 12) + 1);
        else
            accumulator -= static_cast<int>(new_table_rr[releaseRate]);
        break;
    default:
        break;
    }

    if (accumulator < 0)
        accumulator = 0;
    else if (accumulator > top)
        accumulator = top;

    adsrVolume = levelOf(accumulator);
}
