#include "spuhost/FrameWriter.h"

#include <algorithm>

// 36 + 4 * 1073741814 = 4294967292 fits; one frame more, 4294967296, does not.
static_assert(FrameWriter::MaxWavFrames == 1073741814, "the most frames a WAV file holds");

namespace
{
const uint32_t SampleRate = 44100;
const uint16_t Channels = 2;
const uint16_t BitsPerSample = 16;
const long HeaderSize = FrameWriter::WavHeaderSize;

void put16(unsigned char* at, uint16_t value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void put32(unsigned char* at, uint32_t value)
{
    put16(at, static_cast<uint16_t>(value));
    put16(at + 2, static_cast<uint16_t>(value >> 16));
}
} // namespace

FrameWriter::FrameWriter() {}

FrameWriter::~FrameWriter()
{
    close();
}

bool FrameWriter::open(const std::string& path, Format fileFormat)
{
    close();
    format = fileFormat;
    dataBytes = 0;
    failed = false;
    tooLong = false;
    file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    if (format == Raw)
        return true;
    // Room for the header, written with its sizes once they are known.
    const unsigned char zeros[HeaderSize] = {};
    failed = std::fwrite(zeros, 1, HeaderSize, file) != HeaderSize;
    return true;
}

bool FrameWriter::write(const short* samples, unsigned long frames)
{
    // After a failure the file is incomplete anyway: nothing more goes in.
    if (file == nullptr || failed)
        return false;
    if (format == Wav && frames > MaxWavFrames - dataBytes / BytesPerFrame)
    {
        failed = tooLong = true;
        return false;
    }
    unsigned char bytes[2 * 2 * 256];
    while (frames > 0)
    {
        const unsigned long chunk = frames < 256 ? frames : 256;
        for (unsigned long i = 0; i < 2 * chunk; ++i)
            put16(bytes + 2 * i, static_cast<uint16_t>(samples[i]));
        failed = failed || std::fwrite(bytes, 1, 4 * chunk, file) != 4 * chunk;
        dataBytes += 4 * chunk;
        samples += 2 * chunk;
        frames -= chunk;
    }
    return !failed;
}

std::string FrameWriter::error() const
{
    if (tooLong)
        return "a WAV file holds at most " + std::to_string(MaxWavFrames) + " frames (" +
               std::to_string(MaxWavFrames / SampleRate) + " s at 44100 Hz)";
    return failed ? "write error" : "";
}

bool FrameWriter::close()
{
    if (file == nullptr)
        return !failed;
    if (format == Raw)
    {
        failed = std::fclose(file) != 0 || failed;
        file = nullptr;
        return !failed;
    }
    unsigned char header[HeaderSize];
    std::copy_n("RIFF", 4, header);
    put32(header + 4, static_cast<uint32_t>(HeaderSize - 8 + dataBytes));
    std::copy_n("WAVEfmt ", 8, header + 8);
    put32(header + 16, 16);
    put16(header + 20, 1); // PCM
    put16(header + 22, Channels);
    put32(header + 24, SampleRate);
    put32(header + 28, SampleRate * Channels * BitsPerSample / 8);
    put16(header + 32, Channels * BitsPerSample / 8);
    put16(header + 34, BitsPerSample);
    std::copy_n("data", 4, header + 36);
    put32(header + 40, static_cast<uint32_t>(dataBytes));
    // Written after a refused write too: the header then tells what the file holds.
    const bool headerWritten =
        std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header, 1, HeaderSize, file) == HeaderSize;
    failed = !headerWritten || failed;
    failed = std::fclose(file) != 0 || failed;
    file = nullptr;
    return !failed;
}
