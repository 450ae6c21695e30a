#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Writes 44100 Hz 16-bit stereo frames (left, right interleaved, little-endian)
// to a file: a RIFF WAVE file, whose header sizes close() fills in, or bare
// samples.
//
// The WAVE sizes are 32-bit, so a WAV file holds at most MaxWavFrames frames
// (about 6 h 45 min). A write that would pass that is refused whole: the file keeps
// a header that is true for what it holds, and close() reports the failure. Raw
// files have no such bound.
class FrameWriter
{
public:
    enum Format
    {
        Wav,
        Raw,
    };

    static constexpr long WavHeaderSize = 44;
    static constexpr unsigned BytesPerFrame = 4;
    // The RIFF size field counts the header after its first 8 bytes plus the data:
    // 36 + 4 * frames <= 0xFFFFFFFF.
    static constexpr uint64_t MaxWavFrames = (UINT32_MAX - (WavHeaderSize - 8)) / BytesPerFrame;

    FrameWriter();
    ~FrameWriter();

    bool open(const std::string& path, Format format);
    // False, writing nothing, once anything failed: this write or an earlier one.
    bool write(const short* samples, unsigned long frames);
    // Completes the header; false when anything failed to be written.
    bool close();
    // Why the writer failed: a write error, or a WAV file that grew too long.
    std::string error() const;

private:
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    FILE* file = nullptr;
    uint64_t dataBytes = 0;
    Format format = Raw;
    bool failed = false;
    bool tooLong = false;
};
