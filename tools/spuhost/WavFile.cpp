#include "spuhost/WavFile.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace
{
uint32_t le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void put32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void put16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
} // namespace

bool WavFile::read(const std::string& path, Pcm& pcm, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot read '" + path + "'";
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
    {
        error = "'" + path + "' is not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= bytes.size())
    {
        const uint32_t size = le32(&bytes[pos + 4]);
        const size_t body = pos + 8;
        const size_t available = bytes.size() - body;
        const size_t length = size < available ? size : available;
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0 && length >= 16)
        {
            const uint16_t format = le16(&bytes[body]);
            pcm.channels = le16(&bytes[body + 2]);
            pcm.rate = static_cast<int>(le32(&bytes[body + 4]));
            const uint16_t bits = le16(&bytes[body + 14]);
            // 0xFFFE (extensible) carries plain PCM in 16-bit files too.
            if ((format != 1 && format != 0xFFFE) || bits != 16 || pcm.channels < 1)
            {
                error = "'" + path + "' is not 16-bit PCM";
                return false;
            }
            haveFormat = true;
        }
        else if (std::memcmp(&bytes[pos], "data", 4) == 0)
        {
            if (!haveFormat)
            {
                error = "'" + path + "' has its data before its format";
                return false;
            }
            pcm.samples.resize(length / 2);
            for (size_t i = 0; i < pcm.samples.size(); ++i)
                pcm.samples[i] = static_cast<int16_t>(le16(&bytes[body + 2 * i]));
            pcm.samples.resize(pcm.samples.size() - pcm.samples.size() % pcm.channels);
            return true;
        }
        pos = body + length + (length & 1);
    }
    error = "'" + path + "' has no data chunk";
    return false;
}

bool WavFile::create(const std::string& path)
{
    close();
    file = std::fopen(path.c_str(), "wb");
    frames = 0;
    failed = file == nullptr;
    if (file == nullptr) return false;
    unsigned char header[44] = {};
    failed = std::fwrite(header, 1, sizeof(header), file) != sizeof(header);
    return !failed;
}

void WavFile::append(const short* samples, size_t count)
{
    if (file == nullptr || count == 0) return;
    std::vector<unsigned char> bytes(4 * count);
    for (size_t i = 0; i < 2 * count; ++i)
        put16(&bytes[2 * i], static_cast<uint16_t>(samples[i]));
    if (std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) failed = true;
    frames += count;
}

bool WavFile::close()
{
    if (file == nullptr) return !failed;
    const uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    unsigned char header[44];
    std::memcpy(header, "RIFF", 4);
    put32(header + 4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(header + 16, 16);
    put16(header + 20, 1); // PCM
    put16(header + 22, 2); // stereo
    put32(header + 24, 44100);
    put32(header + 28, 44100 * 4); // bytes per second
    put16(header + 32, 4);         // bytes per frame
    put16(header + 34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(header + 40, dataBytes);
    if (std::fseek(file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof(header), file) != sizeof(header))
        failed = true;
    if (std::fclose(file) != 0) failed = true;
    file = nullptr;
    return !failed;
}
