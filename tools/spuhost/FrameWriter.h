#pragma once

#include <cstdio>
#include <string>

// Writes 44100 Hz 16-bit stereo frames (left, right interleaved, little-endian)
// to a file: a RIFF WAVE file, whose header sizes close() fills in, or bare
// samples. The WAVE sizes are 32-bit: past 4 GiB of samples they wrap.
class FrameWriter
{
public:
    enum Format
    {
        Wav,
        Raw,
    };

    FrameWriter();
    ~FrameWriter();

    bool open(const std::string& path, Format format);
    void write(const short* samples, unsigned long frames);
    // Completes the header; false when anything failed to be written.
    bool close();

private:
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    FILE* file = nullptr;
    unsigned long dataBytes = 0;
    Format format = Raw;
    bool failed = false;
};
