#include "spuhost/WavReader.h"

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
