#include "adpcm/AdpcmEncoder.h"
#include "spuhost/Command.h"
#include "spuhost/WavReader.h"

#include <cstdio>

namespace
{
// spuhost encode IN.wav OUT.adpcm [--loop]: 16-bit PCM (channels mixed to mono, rate
// kept: play it at pitch rate * 4096 / 44100) into sound-processor ADPCM blocks.
int runEncode(const std::vector<std::string>& args)
{
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && args[2] != "--loop"))
    {
        std::fprintf(stderr, "usage: spuhost encode IN.wav OUT.adpcm [--loop]\n");
        return 2;
    }
    WavReader::Pcm wav;
    std::string error;
    if (!WavReader::read(args[0], wav, error))
    {
        std::fprintf(stderr, "spuhost encode: %s\n", error.c_str());
        return 1;
    }
    const std::vector<int16_t> mono = WavReader::mixToMono(wav);
    const bool loop = args.size() == 3;
    const std::vector<uint8_t> blocks =
        AdpcmEncoder::encode(mono, loop ? AdpcmEncoder::Ending::Loop : AdpcmEncoder::Ending::OneShot);
    FILE* out = std::fopen(args[1].c_str(), "wb");
    if (out == nullptr)
    {
        std::fprintf(stderr, "spuhost encode: cannot write '%s'\n", args[1].c_str());
        return 1;
    }
    const bool written = std::fwrite(blocks.data(), 1, blocks.size(), out) == blocks.size();
    if (std::fclose(out) != 0 || !written)
    {
        std::fprintf(stderr, "spuhost encode: writing '%s' failed\n", args[1].c_str());
        return 1;
    }
    const AdpcmEncoder::Stats stats = AdpcmEncoder::measure(mono, blocks);
    std::printf("%zu samples at %d Hz -> %zu blocks (%zu bytes)%s\n", mono.size(), wav.rate,
                blocks.size() / AdpcmEncoder::BytesPerBlock, blocks.size(), loop ? ", looping" : "");
    std::printf("round trip: max error %.0f, rms error %.2f, SNR %.1f dB\n", stats.maxError, stats.rmsError,
                stats.snrDb);
    return 0;
}

const SpuhostCommand command("encode", "IN.wav OUT.adpcm [--loop]", runEncode);
} // namespace
