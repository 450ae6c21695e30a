#pragma once

#include <cstdint>
#include <vector>

// Encodes 16-bit PCM into the sound processor's ADPCM blocks: 16 bytes per 28
// samples (header byte with shift and filter, flag byte, 14 bytes of 4-bit
// samples). For each block every filter (0-4) and shift (0-12) is tried, each
// nibble is chosen against the decoder's exact arithmetic with the history that
// the decoder will really have, and the combination with the smallest squared error
// is kept. A tool of the project, not part of the plugin.
class AdpcmEncoder
{
public:
    struct Stats
    {
        double maxError = 0; // largest |decoded - input| over all samples
        double rmsError = 0; // root mean square of decoded - input
        double snrDb = 0;    // signal to error ratio in dB (input power / error power)
    };

    // Loop flags of the result. OneShot: the last block has loop end without repeat,
    // so the voice falls silent. Loop: the first block marks the loop start and the
    // last has loop end with repeat, so the voice plays the whole sample again and
    // again. The input is padded with zeros to a whole number of blocks.
    enum class Ending
    {
        OneShot,
        Loop
    };

    static std::vector<uint8_t> encode(const std::vector<int16_t>& pcm, Ending ending);
    // Decodes blocks as the sound processor does (starting from zero history).
    static std::vector<int16_t> decode(const std::vector<uint8_t>& blocks);
    // Compares the decoding of `blocks` with `pcm` (the padding is not counted).
    static Stats measure(const std::vector<int16_t>& pcm, const std::vector<uint8_t>& blocks);

    static const int SamplesPerBlock = 28;
    static const int BytesPerBlock = 16;

private:
    // One decoded sample from nibble d (-8..7) and the two previous samples.
    static int decodeSample(int d, int shift, int filter, int history1, int history2);
    // Encodes one block with fixed shift and filter; returns the squared error and
    // leaves the nibbles and the history after the block.
    static int64_t encodeBlock(const int16_t* x, int shift, int filter, int& history1, int& history2,
                               int8_t nibbles[SamplesPerBlock]);
};
