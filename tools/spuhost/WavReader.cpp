#include "spuhost/WavReader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace
{
const size_t ChunkHeaderSize = 8;
const size_t PcmFormatSize = 16; // format tag, channels, rate, byte rate, block align, bits
const uint16_t FormatPcm = 1;
const uint16_t FormatExtensible = 0xFFFE; // carries plain PCM in 16-bit files too

uint32_t le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

} // namespace

bool WavReader::read(const std::string& path, Pcm& pcm, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot read '" + path + "'";
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    return parse(bytes.data(), bytes.size(), pcm, error, "'" + path + "'");
}

bool WavReader::parse(const unsigned char* data, size_t size, Pcm& pcm, std::string& error,
                      const std::string& name)
{
    pcm = Pcm();
    if (data == nullptr || size < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0)
    {
        error = name + " is not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    // pos never passes size: each step moves past a chunk cut to what remains.
    while (size - pos >= ChunkHeaderSize)
    {
        const unsigned char* const id = data + pos;
        const uint32_t declared = le32(data + pos + 4);
        const size_t body = pos + ChunkHeaderSize;
        // A size past the end (a cut file, or one written while streaming) is cut
        // to what is there.
        const size_t length = declared < size - body ? declared : size - body;
        if (std::memcmp(id, "fmt ", 4) == 0)
        {
            if (length < PcmFormatSize)
            {
                error =
                    name + " has a format chunk of " + std::to_string(length) + " bytes, too short for PCM";
                return false;
            }
            const uint16_t format = le16(data + body);
            const uint16_t channels = le16(data + body + 2);
            const uint32_t rate = le32(data + body + 4);
            const uint16_t bits = le16(data + body + 14);
            if ((format != FormatPcm && format != FormatExtensible) || bits != 16)
            {
                error = name + " is not 16-bit PCM";
                return false;
            }
            if (channels == 0)
            {
                error = name + " has no channels";
                return false;
            }
            if (rate == 0 || rate > 0x7FFFFFFF)
            {
                error = name + " has a sample rate of " + std::to_string(rate) + " Hz";
                return false;
            }
            pcm.channels = channels;
            pcm.rate = static_cast<int>(rate);
            haveFormat = true;
        }
        else if (std::memcmp(id, "data", 4) == 0)
        {
            if (!haveFormat)
            {
                error = name + " has its data before its format";
                return false;
            }
            // An odd last byte is half a sample; a last frame short of channels is dropped.
            const size_t frames = length / 2 / static_cast<size_t>(pcm.channels);
            pcm.samples.resize(frames * static_cast<size_t>(pcm.channels));
            for (size_t i = 0; i < pcm.samples.size(); ++i)
                pcm.samples[i] = static_cast<int16_t>(le16(data + body + 2 * i));
            return true;
        }
        // Chunks are padded to even sizes; the pad byte may be missing at the end.
        const size_t next = body + length + (length & 1);
        pos = next < size ? next : size;
    }
    error = name + (haveFormat ? " has no data chunk" : " has no format chunk");
    return false;
}

std::vector<int16_t> WavReader::mixToMono(const Pcm& pcm)
{
    if (pcm.channels < 1)
        return {};
    const size_t channels = static_cast<size_t>(pcm.channels);
    std::vector<int16_t> mono(pcm.samples.size() / channels);
    for (size_t i = 0; i < mono.size(); ++i)
    {
        // Up to 65535 channels of 32767: wider than 32 bits.
        int64_t sum = 0;
        for (size_t c = 0; c < channels; ++c)
            sum += pcm.samples[i * channels + c];
        mono[i] = static_cast<int16_t>(sum / pcm.channels);
    }
    return mono;
}
