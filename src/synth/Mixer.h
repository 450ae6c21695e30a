#pragma once

#include "reverb/Reverb.h"
#include "synth/MixBlock.h"
#include "synth/Volume.h"

// Sums the voices and the CD input of one output sample into a main pair and a
// reverb send, runs the selected reverb on the send, adds its return at the reverb
// output volume (1.15), applies the main volume (1.14) and clamps to 16 bits.
// No statics of its own; it reads Reverb::ConfigReverbType to tell whether the
// reverb writes sound RAM.
class Mixer
{
public:
    Mixer();
    virtual ~Mixer();

    void setMainVolumeL(unsigned short value) { mainVolumeL.setVolume(value); }
    void setMainVolumeR(unsigned short value) { mainVolumeR.setVolume(value); }
    void setReverbVolumeL(unsigned short value) { reverbVolumeL = reverbVolumeFromRegister(value); }
    void setReverbVolumeR(unsigned short value) { reverbVolumeR = reverbVolumeFromRegister(value); }
    void setControlReverbEnabled(int value) { reverbEnabled = value; }
    void setReverb(unsigned short* block) { reverb.setReverb(block); }
    void setReverbWorkAddr(unsigned short value) { reverb.setStartAddress(value); }
    void setSoundBuffer(unsigned short* ram) { reverb.setSoundBuffer(ram); }

    void mixSound(int left, int right, int reverbOn)
    {
        mainSumL += left;
        mainSumR += right;
        if (reverbOn == 1)
        {
            reverbSendL += left;
            reverbSendR += right;
        }
    }
    void getMixSound(short& left, short& right);
    // getMixSound for each frame of a block that the voices and the CD input have
    // mixed; out holds left, right interleaved.
    void mixBlock(int frames, const MixBlock& block, short* out);
    // Whether the reverb writes sound RAM while it runs: the hardware model, enabled.
    bool reverbWritesSoundRam() const { return reverbEnabled != 0 && Reverb::ConfigReverbType == 4; }

    // Read-only views for tests.
    const Volume& getMainVolumeL() const { return mainVolumeL; }
    const Volume& getMainVolumeR() const { return mainVolumeR; }
    int getReverbVolumeL() const { return reverbVolumeL; }
    int getReverbVolumeR() const { return reverbVolumeR; }
    int getReverbEnabled() const { return reverbEnabled; }
    Reverb& getReverb() { return reverb; }
    const Reverb& getReverb() const { return reverb; }

private:
    // Bit 15 set: the value minus 0x8000, so the reverb volume is never negative.
    static int reverbVolumeFromRegister(unsigned short value)
    {
        return (value & 0x8000) ? value - 0x8000 : value;
    }

    Volume mainVolumeL;
    Volume mainVolumeR;
    Reverb reverb;
    int reverbVolumeL;
    int reverbVolumeR;
    int reverbEnabled;
    int mainSumL;
    int mainSumR;
    int reverbSendL;
    int reverbSendR;
};
