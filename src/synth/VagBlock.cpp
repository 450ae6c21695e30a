#include "synth/VagBlock.h"

#include <cstring>

int VagBlock::ConfigCacheVagDecode = 0;
unsigned short* VagBlock::SoundBuffer = nullptr;
VagBlock::CacheBlock VagBlock::CacheBlocks[VagBlock::BlockCount];

VagBlock::VagBlock() : window(ownWindow), history1(0), history2(0), nextPulse(0)
{
    std::memset(ownWindow, 0, sizeof(ownWindow));
}

VagBlock::~VagBlock() {}

void VagBlock::flushAllCache()
{
    for (CacheBlock& block : CacheBlocks)
        block.valid = 0;
}

int VagBlock::getFlag(int unitAddress)
{
    const int byteOffset = (unitAddress & 0xFFFF) * 8;
    return (SoundBuffer[byteOffset >> 1] >> 8) & 7;
}

namespace
{
// Prediction filter coefficients in 1/64. Headers name filters 0..15; the five real
// ones are 0..4, and 5..15 decode as filter 0 (never read past the table).
const int FilterA[5] = {0, 60, 115, 98, 122};
const int FilterB[5] = {0, 0, -52, -55, -60};
} // namespace

void VagBlock::decodeBlock(int unitAddress)
{
    const unsigned short* block = SoundBuffer + ((unitAddress & 0xFFFE) << 2);
    const int header = block[0] & 0xFF;
    const int shift = header & 0x0F;
    int filter = header >> 4;
    if (filter > 4)
        filter = 0;
    const int a = FilterA[filter];
    const int b = FilterB[filter];

    for (int n = 0; n < 28; ++n)
    {
        const int byte = (block[1 + (n >> 2)] >> ((n & 3) * 4)) & 0xF;
        const int d = static_cast<signed char>(byte << 4) >> 4;
        // d * 2^(18 - shift): six extra fraction bits, exact for every shift 0..15.
        const int sum = (d * (1 << 18) >> shift) + history1 * a + history2 * b;
        int sample = sum >> 6;
        if (sample > 32767)
            sample = 32767;
        else if (sample < -32768)
            sample = -32768;
        window[n + 1] = sample;
        history2 = history1;
        history1 = sample;
    }
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
            ownWindow[0] = ownWindow[28];
        }
        window = ownWindow;
        decodeBlock(unitAddress);
        return;
    }

    const int last = window[28];
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
    decodeBlock(unitAddress);
    entry.history1After = history1;
    entry.history2After = history2;
    entry.valid = 1;
}

int VagBlock::getPulse(int position)
{
    const int i = position >> 12;
    const int f = position & 0xFFF;
    const int a = window[i];
    const int b = window[i + 1];
    nextPulse = b;
    return a + (((b - a) * f) >> 12);
}
