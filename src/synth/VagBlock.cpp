#include "synth/VagBlock.h"

#include "reverb/Reverb.h"
#include "reverb/SoundRam.h"

#include <cstring>

int VagBlock::ConfigCacheVagDecode = 0;
unsigned short* VagBlock::SoundBuffer = nullptr;
VagBlock::CacheBlock VagBlock::CacheBlocks[VagBlock::BlockCount];
VagBlock::DecodedBlock VagBlock::Decoded[VagBlock::DecodedCount];
Reverb* VagBlock::WorkAreaWriter = nullptr;

VagBlock::VagBlock() : window(ownWindow), history1(0), history2(0), nextPulse(0)
{
    std::memset(ownWindow, 0, sizeof(ownWindow));
}

VagBlock::~VagBlock() {}

void VagBlock::setSoundBuffer(unsigned short* soundBuffer, Reverb* reverb)
{
    SoundBuffer = soundBuffer;
    WorkAreaWriter = reverb;
    flushAllCache();
}

void VagBlock::flushAllCache()
{
    for (CacheBlock& block : CacheBlocks)
        block.valid = 0;
    for (DecodedBlock& block : Decoded)
        block.block = -1;
    if (WorkAreaWriter != nullptr)
        WorkAreaWriter->forgetWrites();
}

int VagBlock::getFlag(int unitAddress)
{
    const int byteOffset = (unitAddress & 0xFFFF) * 8;
    return (SoundBuffer[byteOffset >> 1] >> 8) & AllLoopFlags;
}

namespace
{
// Prediction filter coefficients in 1/64. Headers name filters 0..15; the five real
// ones are 0..4, and 5..15 decode as filter 0 (never read past the table).
const int FilterA[5] = {0, 60, 115, 98, 122};
const int FilterB[5] = {0, 0, -52, -55, -60};
} // namespace

void VagBlock::decodeBlock(int unitAddress, int* out)
{
    const unsigned short* block = SoundBuffer + ((unitAddress & 0xFFFE) << 2);
    const int header = block[0] & 0xFF;
    const int shift = header & 0x0F;
    int filter = header >> 4;
    if (filter > 4)
        filter = 0;
    const int a = FilterA[filter];
    const int b = FilterB[filter];
    // d * 2^(18 - shift), exact for every shift 0..15: six extra fraction bits.
    const int scale = (1 << 18) >> shift;

    int h1 = history1;
    int h2 = history2;
    for (int w = 1; w < 8; ++w)
    {
        // Four samples per 16-bit word, low nibble first; (short)(x << 12) >> 12
        // sign-extends the nibble that x's low bits hold.
        const int word = block[w];
        for (int k = 0; k < 4; ++k)
        {
            const int d = static_cast<short>((word >> (4 * k)) << 12) >> 12;
            const int sample = saturate16((d * scale + h1 * a + h2 * b) >> 6);
            *out++ = sample;
            h2 = h1;
            h1 = sample;
        }
    }
    history1 = h1;
    history2 = h2;
}

void VagBlock::decodeOrReuse(int unitAddress, int* out)
{
    const int block = (unitAddress & 0xFFFE) >> 1;
    const int firstWord = block * 8;
    const int lowestWritten = WorkAreaWriter != nullptr ? WorkAreaWriter->getLowestWritten() : SoundRamWords;
    if (firstWord < CaptureWords || firstWord + 8 > lowestWritten)
    {
        decodeBlock(unitAddress, out);
        return;
    }
    DecodedBlock& kept = Decoded[block & (DecodedCount - 1)];
    if (kept.block == block && kept.history1Before == history1 && kept.history2Before == history2)
    {
        std::memcpy(out, kept.samples, sizeof(kept.samples));
        history1 = kept.history1After;
        history2 = kept.history2After;
        return;
    }
    kept.block = block;
    kept.history1Before = history1;
    kept.history2Before = history2;
    decodeBlock(unitAddress, out);
    std::memcpy(kept.samples, out, sizeof(kept.samples));
    kept.history1After = history1;
    kept.history2After = history2;
}

void VagBlock::beginRun(int* run) const
{
    std::memcpy(run, window, WindowSize * sizeof(int));
}

void VagBlock::endRun(const int* lastWindow, int nextPulseAfter)
{
    std::memcpy(ownWindow, lastWindow, WindowSize * sizeof(int));
    window = ownWindow;
    nextPulse = nextPulseAfter;
}

void VagBlock::setVagBlock(int unitAddress, bool reset)
{
    if (ConfigCacheVagDecode == 0)
    {
        if (reset)
        {
            history1 = history2 = 0;
            ownWindow[0] = nextPulse;
        }
        else
        {
            ownWindow[0] = ownWindow[BlockSamples];
        }
        window = ownWindow;
        decodeOrReuse(unitAddress, ownWindow + 1);
        return;
    }

    const int last = window[BlockSamples];
    CacheBlock& entry = CacheBlocks[(unitAddress >> 1) & (BlockCount - 1)];
    window = entry.window;
    window[0] = last;
    if (entry.valid)
    {
        history1 = entry.history1After;
        history2 = entry.history2After;
        return;
    }
    if (reset)
        history1 = history2 = 0;
    decodeBlock(unitAddress, window + 1);
    entry.history1After = history1;
    entry.history2After = history2;
    entry.valid = 1;
}
