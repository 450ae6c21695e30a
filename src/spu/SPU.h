#pragma once

#include "reverb/SoundRam.h"
#include "synth/Mixer.h"
#include "synth/StreamSound.h"
#include "synth/Voice.h"

// The emulated sound processor: 512 KiB of sound RAM, the register window
// 0x1F801C00..0x1F801DFF with its image, 24 voices, the mixer with the reverb unit,
// the CD input, the transfer machinery and the interrupt state.
//
// Register writes are decoded in writeRegisterDispatch into calls of the voice,
// mixer, reverb and stream setters. Three paths share that dispatch: the host's
// SPUwriteRegister (buffered transfers, manual-write flush), writeRegister (the
// same without the export's extras) and restoreRegister (save-state replay and
// reset: transfer data dropped, no flush).
//
// No statics of its own. It writes the voices' shared ones (the IRQ address, the
// noise clock; it collects and clears the hit count) and invalidates the decoder's
// shared caches (VagBlock) at each transfer write and at reset.
//
// Registers that are stored only (kept in the image and read back, with no effect
// on sound) are marked so in the decode: 0xDA0, transfer control, 0xDB4..0xDBE, the
// control word's enable, mute and bits 0, 1 and 3, and the status bits 11-15.
//
// Not thread-safe by itself: every caller holds the critical section.
class SPU
{
public:
    static const int SoundBufferWords = SoundRamWords;
    static const int RegisterCount = 256;
    static const int VoiceCount = 24;
    static const int XferBufferSize = 32;

    SPU();
    virtual ~SPU();

    void init();

    void writeRegister(unsigned long address, unsigned short value);
    unsigned short readRegister(unsigned long address);
    void restoreRegister(unsigned long address, unsigned short value);

    // Sound RAM transfers at the transfer address (byte address, wraps at 512 KiB).
    void writeDMA(unsigned short value);
    unsigned short readDMA();
    void writeDMAMemory(const unsigned short* source, int count);
    void readDMAMemory(unsigned short* destination, int count);
    void flushXferBuffer();
    bool ChkXferAlignment() const;
    void XferAlignmentHack();

    // Interrupt: transfer check and per-frame collection.
    void SPUIRQ();
    int getSpuIRQCount();

    // One output frame (noise, voices, CD input, mix, tick).
    void playSound(short& left, short& right);
    // Up to `frames` output frames (left, right interleaved) as one block, voice by
    // voice, stopping after the first frame that raises the interrupt; returns the
    // frames rendered (at least 1) and adds the interrupts raised to `raised`.
    // Sample for sample what playSound gives followed by getSpuIRQCount.
    int playBlock(short* out, int frames, int& raised);

    unsigned short* getSoundBuffer() { return soundBuffer; }
    unsigned short* getSPURegister() { return spuRegister; }
    unsigned long getCurrentTickCount() const { return tickCount; }
    void LogRegisters() {}
    void LogSoundBuffer() {}

    // Views for the output engine, tests and tools.
    Mixer& getMixer() { return mixer; }
    Voice& getVoice(int index) { return voices[index]; }
    StreamSound& getStream() { return stream; }
    unsigned short getControl() const { return control; }
    int getTransferAddress() const { return transferAddress; }
    int getIRQFlag() const { return irqFlag; }
    int getTransferIRQCount() const { return transferIRQCount; }
    int getXferBufferCount() const { return xferBufferCount; }

private:
    SPU(const SPU&) = delete;
    SPU& operator=(const SPU&) = delete;

    void writeRegisterDispatch(unsigned long address, unsigned short value);
    void writeVoiceRegister(int voice, int reg, unsigned short value);
    void setVoiceBits(int reg, unsigned short value, void (Voice::*set)(int));
    void writeControl(unsigned short value);
    unsigned short readStatus() const;

    // The block length that keeps every effect inside it unobserved (see playBlock).
    int unobservedFrames(int frames) const;
    // Whether the CD capture leaves sound RAM as it is through the next block: it
    // captures silence where silence already is.
    bool captureUnchanging() const;

    Mixer mixer;
    Voice voices[VoiceCount];
    MixBlock block;
    VoiceBlock voiceScratch;
    int voiceOutputs[2][MixBlock::MaxFrames];
    StreamSound stream;
    unsigned short soundBuffer[SoundBufferWords];
    unsigned short spuRegister[RegisterCount];
    unsigned short control;
    unsigned short status; // bits 11-15 as written, stored only
    unsigned short irqAddress;
    int transferAddress;
    int enable; // stored only
    int mute;   // stored only
    int irqEnable;
    int irqFlag;
    int transferIRQCount;
    unsigned int tickCount;
    short xferBuffer[XferBufferSize];
    int xferBufferCount;
    bool restoring;
};
