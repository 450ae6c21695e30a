#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a whole 16-bit PCM WAV file (any rate, any channel count). Writing frames
// as WAV is FrameWriter's.
//
// Files come from anywhere: every chunk size is taken against the bytes there
// are, so a hostile size (up to 2^32 - 1) reads no further than the file's end.
class WavReader
{
public:
    struct Pcm
    {
        int channels = 0;
        int rate = 0;
        std::vector<int16_t> samples; // interleaved, whole frames
    };

    // Reads a RIFF/WAVE file with 16-bit PCM data; false with `error` set otherwise.
    static bool read(const std::string& path, Pcm& pcm, std::string& error);
    // The same for the bytes of a file in memory; `name` is for the messages.
    static bool parse(const unsigned char* data, size_t size, Pcm& pcm, std::string& error,
                      const std::string& name = "the WAV data");
    // Every frame's channels averaged (rounded toward zero) into one sample.
    static std::vector<int16_t> mixToMono(const Pcm& pcm);
};
