// WAV files through spuhost encode's reader, its mono mixdown and the ADPCM
// encoder with its round-trip measurement.

#include "adpcm/AdpcmEncoder.h"
#include "fuzz/PluginHost.h"
#include "fuzz/Watchdog.h"
#include "spuhost/WavReader.h"

#include <string>

namespace
{
// The encoder tries every filter and shift of each block, milliseconds for a
// few thousand samples under the sanitizers; the reader is
// checked on every input, the encoder on the first samples.
const size_t MaxEncodedSamples = 256;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::watched([data, size] {
        WavReader::Pcm pcm;
        std::string error;
        if (!WavReader::parse(data, size, pcm, error))
        {
            if (error.empty())
                fuzz::fail("a WAV file was refused without a reason");
            return;
        }
        if (pcm.channels < 1 || pcm.samples.size() % pcm.channels != 0)
            fuzz::fail("a WAV file was read into partial frames");
        std::vector<int16_t> mono = WavReader::mixToMono(pcm);
        if (mono.size() != pcm.samples.size() / pcm.channels)
            fuzz::fail("the mixdown does not have one sample a frame");
        if (mono.size() > MaxEncodedSamples)
            mono.resize(MaxEncodedSamples);
        for (AdpcmEncoder::Ending ending : {AdpcmEncoder::Ending::OneShot, AdpcmEncoder::Ending::Loop})
        {
            const std::vector<uint8_t> blocks = AdpcmEncoder::encode(mono, ending);
            AdpcmEncoder::measure(mono, blocks);
        }
    });
    return 0;
}
