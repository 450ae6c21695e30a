#pragma once

#include "synth/Envelope.h"
#include "synth/MixBlock.h"
#include "synth/VagBlock.h"
#include "synth/Volume.h"

class Mixer;

// One of the 24 SPU voices. A voice walks through ADPCM blocks of sound RAM at its
// pitch (step per output sample in 1/4096 source samples), reads one interpolated
// sample (or the noise generator) per output sample, applies its envelope and its
// two volumes and adds the result to the mixer. Block flags make it loop or stop;
// meeting the IRQ address counts an interrupt hit in SpuIRQCount.
//
// The class statics are shared by all voices, as the SPU has one of each: the
// Config statics (fine tuning, the flag-7 interrupt switch), written only by
// Config::updateConfigValue at SPUinit, at SPUopen and on each change in the
// real-time window; the IRQ address, written by the SPU's IRQ address register; the
// hit count, which every voice adds to and the SPU collects and clears after each
// frame or block (getSpuIRQCount); and the noise generator, its clock written by
// the control register, its state ticked once per frame by the renderer.
//
// Two renderers play a voice: playSound one frame at a time (all voices, then the
// next frame), and playBlock a whole block of frames before the next voice runs.
// They give the same samples, flags and hits as long as nothing the voice does in
// the block is seen by another voice or a later frame before the block ends; the
// block renderer asks framesUnobserved how long that holds.
class Voice
{
public:
    // Positions: 28 samples a block in 20.12 fixed point; a step above LastPosition
    // enters the next block. Steps are at most MaxStep (just under 4 samples). Key-on
    // starts at the block's first sample, element 1 of the decoder's window.
    static const int BlockSpan = VagBlock::BlockSamples << 12;
    static const int LastPosition = BlockSpan - 1;
    static const int MaxStep = 0x3FFF;
    static const int KeyOnPosition = 1 << 12;

    // What the frames of a block may observe of a voice: the IRQ address while an
    // interrupt is armed (-1: none armed), the flag-7 switch, and the sound RAM the
    // SPU writes during the block (the CD capture words below capturedWords, the
    // reverb's work area from reverbWord on, at most the end of sound RAM).
    struct Watch
    {
        int irqAddress;
        bool forceFlag7;
        int capturedWords;
        int reverbWord;

        bool written(int unitAddress) const
        {
            const int first = (unitAddress & 0xFFFE) * 4;
            return first < capturedWords || first + 8 > reverbWord;
        }
    };

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
    // Leaves the current block by its loop flags; true when a loop end without
    // repeat silenced the voice.
    bool moveNextVagPosition();
    void playSound(Mixer* mixer);

    // The number of the next `frames` frames (at least 1) that playBlock may render
    // at once: the frames before the first one in which this voice could hit the
    // armed interrupt (that frame included) or read a block that the SPU writes
    // during the block (that frame excluded, unless it is the first).
    int framesUnobserved(int frames, const Watch& watch) const;
    // Plays `frames` frames into the block's sums. modulator: the previous voice's
    // outputs of the same frames; outputs receives this voice's, for all frames
    // when `modulates` (the next voice reads them), else for those it sounds in.
    void playBlock(int frames, const int* noise, const int* modulator, int* outputs, bool modulates,
                   MixBlock& mix, VoiceBlock& scratch);

    static void setSpuIRQAddress(unsigned short value) { SpuIRQAddress = value; }
    static int getSpuIRQCount() { return SpuIRQCount; }
    static void resetSpuIRQCount() { SpuIRQCount = 0; }
    static void setControlNoiseFreq(int bits);
    static void UpdateNoise();
    // UpdateNoise for `frames` frames, storing the noise value after each.
    static void UpdateNoise(int frames, int* values);
    static int getCurrentNoiseValue()
    {
        return static_cast<short>(static_cast<unsigned int>(NoiseState) >> 16);
    }

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
    bool modulated() const { return fmMode != 0 && prevVoice != nullptr; }
    // The step of one sample, given the previous voice's output of the same frame.
    int stepFor(int modulatorOutput) const;
    int stepAt(const int* modulator, int k) const { return stepFor(modulated() ? modulator[k] : 0); }
    // The block loops of playBlock: samples read while sounding (stops after the
    // sample whose loop end silences the voice), and the walk of a silent voice.
    int readSamples(int frames, const int* modulator, VoiceBlock& scratch, bool& stopped);
    int readSamplesWindowByWindow(int frames, const int* modulator, int* samples, bool& stopped);
    // The sample whose step enters the next block: true when its loop end silenced
    // the voice.
    bool enterNextBlock(int step);
    // One sample's step, entering the next block where it reaches it (and decoding
    // that block when `decode`): true when a loop end silenced the voice.
    bool stepSample(int step, bool decode);
    void walkSilent(int from, int frames, const int* modulator);
    // How many of the next `frames` samples, at one step, stay inside the block.
    int stepsInBlock(int step, int frames) const;
    void countHits(int samples)
    {
        if (currentAddress != SpuIRQAddress)
            return;
        SpuIRQCount += samples;
        irqHit = true;
    }

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
