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
// Addresses are in 8-byte units (0..0xFFFF), positions are 20.12 fixed point.
class VagBlock
{
  public:
    struct CacheBlock
    {
        int window[29];
        int history1After;
        int history2After;
        unsigned char valid;
    };

    static const int BlockCount = 32768;

    static int ConfigCacheVagDecode;
    static unsigned short* SoundBuffer;
    static CacheBlock CacheBlocks[BlockCount];

    VagBlock();
    virtual ~VagBlock();

    static void setSoundBuffer(unsigned short* soundBuffer) { SoundBuffer = soundBuffer; }
    static void flushCache(int byteAddress) { CacheBlocks[(byteAddress >> 4) & (BlockCount - 1)].valid = 0; }
    static void flushAllCache();
    static int getFlag(int unitAddress);

    void setVagBlock(int unitAddress, bool reset);
    void decodeBlock(int unitAddress);
    int getPulse(int position);

  protected:
    int ownWindow[29];
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
