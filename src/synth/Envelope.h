#pragma once

// ADSR envelope of one voice, stepped once per 44100 Hz output sample.
// The level is an accumulator of ADSRResolutionBit (27) bits; the voice multiplies
// its samples by the 15-bit ADSR volume (accumulator >> 12). The rate tables are
// shared with the volume sweeps (new_table_sr).
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

    void setADSR1(unsigned short value);
    void setADSR2(unsigned short value);
    void KeyOn();
    void KeyOff();
    void stop() { phase = Off; }
    int getADSRVolume() const { return adsrVolume; }
    void setADSRVolume(int value);
    void updateADSRVolume();

    int getPhase() const { return phase; }

protected:
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
