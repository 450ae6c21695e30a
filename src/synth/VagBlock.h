#pragma once

// One voice's ADPCM decoder. Sound RAM holds 16-byte blocks (two 8-byte units) of
// 28 four-bit samples; decoding runs a two-tap prediction filter whose history links
// consecutive blocks. The decoder keeps a 29-sample window: element 0 is the sample
// before the block (so reads below position 0x1000 interpolate across the block
// boundary), elements 1..28 the block itself.
//
// With ConfigCacheVagDecode on, windows live in CacheBlocks, one entry per block of
// sound RAM, and a block that is played again is not decoded again. Transfers into
// sound RAM invalidate the entry they touch (flushCache); a whole-RAM replacement
// (reset, save-state load) invalidates all of them (flushAllCache).
//
// With the cache off, decoding is exact and still not repeated without need: a
// block's samples depend only on its 16 bytes and the two samples before it, so
// each decode is kept (Decoded, a direct-mapped table keyed on the block) with the
// history it started from, and a later decode of the same block from the same
// history copies it. A transfer's write to a block drops its entry. The SPU also
// writes sound RAM without a transfer, every frame: the CD capture area (words
// 0..1023) and the hardware reverb's work area. Blocks there are always decoded:
// a block is reused only if it lies below the lowest word the reverb has written
// since the table was last emptied (flushAllCache empties both).
//
// The statics are shared by the 24 voices' decoders, which all read the one sound
// RAM: SoundBuffer and WorkAreaWriter are set once, by the SPU's constructor
// (setSoundBuffer); CacheBlocks and Decoded hold decodes that any voice may reuse;
// ConfigCacheVagDecode is written only by Config::updateConfigValue (at SPUinit, at
// SPUopen and on each change in the real-time window).
//
// Addresses are in 8-byte units (0..0xFFFF), positions are 20.12 fixed point.
class Reverb;

class VagBlock
{
public:
    static const int BlockSamples = 28;
    // The window: the sample before the block, then the block's samples.
    static const int WindowSize = BlockSamples + 1;

    // A block's loop flags, bits 0-2 of its header's second byte (getFlag). Entering
    // a block with LoopStart makes it the repeat address; entering one with LoopEnd
    // raises the voice's end flag, and leaving it jumps to the repeat address, which
    // without LoopRepeat also silences the voice.
    enum LoopFlag
    {
        LoopEnd = 1,
        LoopRepeat = 2,
        LoopStart = 4,
        AllLoopFlags = LoopEnd | LoopRepeat | LoopStart
    };

    struct CacheBlock
    {
        int window[WindowSize];
        int history1After;
        int history2After;
        unsigned char valid;
    };

    // A block decoded with the cache off, and the history it was decoded from.
    struct DecodedBlock
    {
        int block; // 16-byte block index, -1: empty
        int history1Before;
        int history2Before;
        int history1After;
        int history2After;
        int samples[BlockSamples];
    };

    static const int BlockCount = 32768;
    static const int DecodedCount = 4096;

    static int ConfigCacheVagDecode;
    static unsigned short* SoundBuffer;
    static CacheBlock CacheBlocks[BlockCount];
    static DecodedBlock Decoded[DecodedCount];

    VagBlock();
    virtual ~VagBlock();

    // The sound RAM the voices play, and the reverb that writes into it.
    static void setSoundBuffer(unsigned short* soundBuffer, Reverb* reverb);
    static void flushCache(int byteAddress)
    {
        const int block = (byteAddress >> 4) & (BlockCount - 1);
        CacheBlocks[block].valid = 0;
        DecodedBlock& decoded = Decoded[block & (DecodedCount - 1)];
        if (decoded.block == block)
            decoded.block = -1;
    }
    static void flushAllCache();
    static int getFlag(int unitAddress);

    void setVagBlock(int unitAddress, bool reset);
    // The block's 28 samples into out, continuing the filter history.
    void decodeBlock(int unitAddress, int* out);
    // decodeBlock, or the same samples from Decoded.
    void decodeOrReuse(int unitAddress, int* out);
    int getPulse(int position);
    // The block renderer's run of windows (cache off): the window, then each block
    // entered appended to it by appendBlock (as setVagBlock(unitAddress, false) moves
    // the window on), read through at positions counted from the run's start, and
    // the last window taken back by endRun.
    // Whether the window is the decoder's own (a cache entry's is not run through).
    bool canRun() const { return window == ownWindow; }
    void beginRun(int* run) const;
    void appendBlock(int unitAddress, int* lastWindow)
    {
        decodeOrReuse(unitAddress, lastWindow + WindowSize);
    }
    void endRun(const int* lastWindow, int nextPulseAfter);

protected:
    static Reverb* WorkAreaWriter;

    int ownWindow[WindowSize];
    int* window;
    int history1;
    int history2;
    int nextPulse;
};

// Inline: one read per voice and output sample.
inline int VagBlock::getPulse(int position)
{
    const int i = position >> 12;
    const int f = position & 0xFFF;
    const int a = window[i];
    const int b = window[i + 1];
    nextPulse = b;
    return a + (((b - a) * f) >> 12);
}
