#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// 16-bit PCM WAV files: reading a whole file (any rate, any channel count), and
// writing 44100 Hz stereo frames as they are rendered (the sizes in the header are
// filled in by close()).
class WavFile
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

    WavFile() {}
    ~WavFile() { close(); }

    bool create(const std::string& path);
    void append(const short* frames, size_t count); // interleaved stereo frames
    bool close();                                   // false when a write failed
    size_t frameCount() const { return frames; }

  private:
    WavFile(const WavFile&) = delete;
    WavFile& operator=(const WavFile&) = delete;

    FILE* file = nullptr;
    size_t frames = 0;
    bool failed = false;
};
