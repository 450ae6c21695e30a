#pragma once

#include "synth/Envelope.h"
#include "synth/VagBlock.h"
#include "synth/Volume.h"

class Mixer;

// One of the 24 SPU voices. A voice walks through ADPCM blocks of sound RAM at its
// pitch (step per output sample in 1/4096 source samples), reads one interpolated
// sample (or the noise generator) per output sample, applies its envelope and its
// two volumes and adds the result to the mixer. Block flags make it loop or stop;
// meeting the IRQ address counts an interrupt hit in SpuIRQCount.
//
// The class statics are shared by all voices: fine tuning, the IRQ address and hit
// count, and the noise generator (ticked once per frame by the renderer).
class Voice
{
public:
    static int ConfigFinetune;
    static int ConfigFinetuneRate;
    static int ConfigSPUIRQForceInterruptFlag7;
    static int SpuIRQAddress;
    static int SpuIRQCount;
    static int NoiseClock;
    static int NoiseCount;
    static int NoiseState;

    Voice();
    virtual ~Voice();

    void init();
    void setPrevVoice(Voice* voice) { prevVoice = voice; }

    void setVolumeL(unsigned short value) { volumeL.setVolume(value); }
    void setVolumeR(unsigned short value) { volumeR.setVolume(value); }
    void setPitch(unsigned short value);
    void setStartAddress(unsigned short value) { startAddress = value; }
    void setRepeatAddress(unsigned short value) { repeatAddress = value; }
    int getRepeatAddress() const { return repeatAddress; }
    void setADSR1(unsigned short value) { envelope.setADSR1(value); }
    void setADSR2(unsigned short value) { envelope.setADSR2(value); }
    void setCurrentADSRVolume(unsigned short value) { envelope.setADSRVolume(value); }
    int getCurrentADSRVolume() const { return envelope.getADSRVolume(); }
    void setKeyOn(int on);
    void setKeyOff(int off);
    void setFMMode(int value) { fmMode = value; }
    void setNoiseMode(int value) { noiseMode = value; }
    void setReverbMode(int value) { reverbMode = value; }
    void setChannelActive(int value);
    int getChannelActive() const { return channelActive; }
    int getCurrentOutX() const { return currentOutput; }

    void processVagHeader();
    void moveNextVagPosition();
    void playSound(Mixer* mixer);

    static void setSpuIRQAddress(unsigned short value) { SpuIRQAddress = value; }
    static int getSpuIRQCount() { return SpuIRQCount; }
    static void resetSpuIRQCount() { SpuIRQCount = 0; }
    static void setControlNoiseFreq(int bits);
    static void UpdateNoise();
    static int getCurrentNoiseValue() { return static_cast<short>(static_cast<unsigned int>(NoiseState) >> 16); }

    // Read-only views for tests and the render benchmark.
    int getPitch() const { return pitch; }
    int getStartAddress() const { return startAddress; }
    int getCurrentAddress() const { return currentAddress; }
    int getPosition() const { return position; }
    int getFMMode() const { return fmMode; }
    int getNoiseMode() const { return noiseMode; }
    int getReverbMode() const { return reverbMode; }
    const Envelope& getEnvelope() const { return envelope; }
    const Volume& getVolumeL() const { return volumeL; }
    const Volume& getVolumeR() const { return volumeR; }

protected:
    bool irqHit;
    VagBlock decoder;
    Volume volumeL;
    Volume volumeR;
    Envelope envelope;
    int pitch;
    int startAddress;
    int repeatAddress;
    int fmMode;
    int noiseMode;
    int reverbMode;
    int channelActive;
    int position;
    int currentAddress;
    Voice* prevVoice;
    int currentOutput;
};
