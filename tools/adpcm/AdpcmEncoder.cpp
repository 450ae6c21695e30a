#include "adpcm/AdpcmEncoder.h"

#include <cmath>
#include <cstdlib>

namespace
{
// Prediction filters in 1/64, the same table the sound processor decodes with.
const int FilterA[5] = {0, 60, 115, 98, 122};
const int FilterB[5] = {0, 0, -52, -55, -60};
const int FilterCount = 5;
// Shifts above 12 only give steps below one sample unit; they never win.
const int MaxShift = 12;
} // namespace

int AdpcmEncoder::decodeSample(int d, int shift, int filter, int history1, int history2)
{
    const int sum = (d * (1 << 18) >> shift) + history1 * FilterA[filter] + history2 * FilterB[filter];
    const int sample = sum >> 6;
    return sample > 32767 ? 32767 : (sample < -32768 ? -32768 : sample);
}

int64_t AdpcmEncoder::encodeBlock(const int16_t* x, int shift, int filter, int& history1, int& history2,
                                  int8_t nibbles[SamplesPerBlock])
{
    const int stepUnits = (1 << 18) >> shift; // one nibble step, in 1/64 sample units
    int64_t error = 0;
    for (int n = 0; n < SamplesPerBlock; ++n)
    {
        const int prediction = history1 * FilterA[filter] + history2 * FilterB[filter];
        const double ideal = (static_cast<double>(x[n]) * 64 - prediction) / stepUnits;
        int best = 0;
        int bestSample = 0;
        int64_t bestError = -1;
        // The floor in the decoder can make a neighbour of the rounded nibble better.
        const int centre = static_cast<int>(std::lround(ideal));
        for (int d = centre - 1; d <= centre + 1; ++d)
        {
            const int clamped = d < -8 ? -8 : (d > 7 ? 7 : d);
            const int sample = decodeSample(clamped, shift, filter, history1, history2);
            const int64_t e = static_cast<int64_t>(sample - x[n]) * (sample - x[n]);
            if (bestError < 0 || e < bestError)
            {
                bestError = e;
                best = clamped;
                bestSample = sample;
            }
        }
        nibbles[n] = static_cast<int8_t>(best);
        history2 = history1;
        history1 = bestSample;
        error += bestError;
    }
    return error;
}

std::vector<uint8_t> AdpcmEncoder::encode(const std::vector<int16_t>& pcm, Ending ending)
{
    const size_t blocks = pcm.empty() ? 1 : (pcm.size() + SamplesPerBlock - 1) / SamplesPerBlock;
    std::vector<int16_t> padded(pcm);
    padded.resize(blocks * SamplesPerBlock, 0);
    std::vector<uint8_t> out(blocks * BytesPerBlock, 0);

    int history1 = 0, history2 = 0;
    for (size_t b = 0; b < blocks; ++b)
    {
        const int16_t* x = padded.data() + b * SamplesPerBlock;
        int64_t bestError = -1;
        int bestShift = 0, bestFilter = 0, bestH1 = 0, bestH2 = 0;
        int8_t bestNibbles[SamplesPerBlock] = {};
        for (int filter = 0; filter < FilterCount; ++filter)
            for (int shift = 0; shift <= MaxShift; ++shift)
            {
                int h1 = history1, h2 = history2;
                int8_t nibbles[SamplesPerBlock];
                const int64_t error = encodeBlock(x, shift, filter, h1, h2, nibbles);
                if (bestError < 0 || error < bestError)
                {
                    bestError = error;
                    bestShift = shift;
                    bestFilter = filter;
                    bestH1 = h1;
                    bestH2 = h2;
                    for (int n = 0; n < SamplesPerBlock; ++n)
                        bestNibbles[n] = nibbles[n];
                }
            }
        history1 = bestH1;
        history2 = bestH2;

        uint8_t* block = out.data() + b * BytesPerBlock;
        block[0] = static_cast<uint8_t>(bestFilter << 4 | bestShift);
        int flags = 0;
        if (ending == Ending::Loop && b == 0)
            flags |= 4;
        if (b == blocks - 1)
            flags |= ending == Ending::Loop ? 3 : 1;
        block[1] = static_cast<uint8_t>(flags);
        for (int n = 0; n < SamplesPerBlock; n += 2)
            block[2 + n / 2] = static_cast<uint8_t>((bestNibbles[n] & 0xF) | (bestNibbles[n + 1] & 0xF) << 4);
    }
    return out;
}

std::vector<int16_t> AdpcmEncoder::decode(const std::vector<uint8_t>& blocks)
{
    std::vector<int16_t> pcm;
    int history1 = 0, history2 = 0;
    for (size_t b = 0; b + BytesPerBlock <= blocks.size(); b += BytesPerBlock)
    {
        const int shift = blocks[b] & 0xF;
        int filter = blocks[b] >> 4;
        if (filter >= FilterCount)
            filter = 0;
        for (int n = 0; n < SamplesPerBlock; ++n)
        {
            const int byte = blocks[b + 2 + n / 2];
            const int nibble = (n & 1) ? byte >> 4 : byte & 0xF;
            const int d = nibble >= 8 ? nibble - 16 : nibble;
            const int sample = decodeSample(d, shift, filter, history1, history2);
            pcm.push_back(static_cast<int16_t>(sample));
            history2 = history1;
            history1 = sample;
        }
    }
    return pcm;
}

AdpcmEncoder::Stats AdpcmEncoder::measure(const std::vector<int16_t>& pcm, const std::vector<uint8_t>& blocks)
{
    const std::vector<int16_t> decoded = decode(blocks);
    Stats stats;
    double errorPower = 0, signalPower = 0;
    for (size_t i = 0; i < pcm.size() && i < decoded.size(); ++i)
    {
        const double e = static_cast<double>(decoded[i]) - pcm[i];
        errorPower += e * e;
        signalPower += static_cast<double>(pcm[i]) * pcm[i];
        stats.maxError = std::max(stats.maxError, std::fabs(e));
    }
    if (!pcm.empty())
        stats.rmsError = std::sqrt(errorPower / pcm.size());
    stats.snrDb = errorPower > 0 ? 10 * std::log10(signalPower / errorPower) : INFINITY;
    return stats;
}
