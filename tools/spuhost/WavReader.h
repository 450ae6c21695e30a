#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a whole 16-bit PCM WAV file (any rate, any channel count). Writing frames
// as WAV is FrameWriter's.
class WavReader
{
  public:
    struct Pcm
    {
        int channels = 0;
        int rate = 0;
        std::vector<int16_t> samples; // interleaved
    };

    // Reads a RIFF/WAVE file with 16-bit PCM data; false with `error` set otherwise.
    static bool read(const std::string& path, Pcm& pcm, std::string& error);
};
