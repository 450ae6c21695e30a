// Render cost of each reverb algorithm: 24 looping voices that all send to the reverb,
// rendered through SPUrender with the reverb master enable on and "ReverbType" set to
// each selector; "ReverbOff" is the same scene with the master enable off, the cost of
// the 24-voice render itself. An algorithm's cost per sample is its per_frame time minus
// that of ReverbOff. Repetitions are aggregated: read the medians.

#include "spuhost/Plugin.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
const unsigned long Window = 0x1F801C00;
const int Voices = 24;
const int FramesPerIteration = 1024;

// "Studio Large", one of the standard presets, with its work-area start.
const unsigned short StudioLargeStart = 0xF204;
const unsigned short StudioLarge[32] = {0x00E3, 0x00A9, 0x6F60, 0x4FA8, 0xBCE0, 0x4510, 0xBEF0, 0xA680,
                                        0x5680, 0x52C0, 0x0DFB, 0x0B58, 0x0D09, 0x0A3C, 0x0BD9, 0x0973,
                                        0x0B59, 0x08DA, 0x08D9, 0x05E9, 0x07EC, 0x04B0, 0x06EF, 0x03D2,
                                        0x05EA, 0x031D, 0x031C, 0x0238, 0x0154, 0x00AA, 0x8000, 0x8000};

Plugin* plugin()
{
    static std::unique_ptr<Plugin> loaded;
    if (!loaded)
    {
        loaded.reset(new Plugin());
        if (!loaded->load(SPU_PLUGIN_PATH))
        {
            std::fprintf(stderr, "%s\n", loaded->error().c_str());
            std::exit(1);
        }
    }
    return loaded.get();
}

// SPUinit reads ./cfg/spuTalvane.cfg: a private folder carries the selector.
void useSelector(int selector)
{
    static std::string dir;
    if (dir.empty())
    {
        char pattern[] = "/tmp/spu-reverb-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) std::exit(1);
        dir = pattern;
        mkdir("cfg", 0755);
    }
    FILE* f = std::fopen("cfg/spuTalvane.cfg", "w");
    if (f == nullptr) std::exit(1);
    std::fprintf(f,
                 "AudioDevice = 0\nSoundBufferSize = 16384\nAudioOutMethod = 2\nAsyncMode = 0\n"
                 "ShowRealtimeConfigWindow = 0\nWaitForXABufferIsFree = 0\nCacheVagDecode = 0\n"
                 "Finetune = 0\nReverbType = %d\nRecOpt = 0\nUpdateBeforeRegisterAccess = 0\n"
                 "SPUIRQWaitCPUAction = 0\nSPUIRQForceInterruptFlag7 = 0\n",
                 selector);
    std::fclose(f);
}

void setUpScene(int selector, bool reverbOn)
{
    useSelector(selector);
    Plugin& p = *plugin();
    p.SPUinit();
    auto reg = [&](unsigned long offset, unsigned short value)
    { p.SPUwriteRegister(Window + offset, value); };

    // 128 looping ADPCM blocks of noise at byte 0x1000.
    std::mt19937 rng(5);
    std::vector<unsigned short> words(128 * 8);
    for (int b = 0; b < 128; ++b)
    {
        const unsigned flags = b == 0 ? 0x04 : (b == 127 ? 0x03 : 0x00);
        words[b * 8] = static_cast<unsigned short>((flags << 8) | 0x08);
        for (int i = 1; i < 8; ++i)
            words[b * 8 + i] = static_cast<unsigned short>(rng());
    }
    reg(0x1A6, 0x200);
    p.SPUwriteDMAMem(words.data(), static_cast<int>(words.size()));

    for (int n = 0; n < 32; ++n)
        reg(0x1C0 + 2 * n, StudioLarge[n]);
    reg(0x1A2, StudioLargeStart);
    reg(0x180, 0x3FFF);
    reg(0x182, 0x3FFF);
    reg(0x184, 0x3000);
    reg(0x186, 0x3000);
    for (int v = 0; v < Voices; ++v)
    {
        const unsigned long base = v * 16;
        reg(base + 0x0, 0x0200);
        reg(base + 0x2, 0x0200);
        reg(base + 0x4, static_cast<unsigned short>(0x0800 + 0x80 * v));
        reg(base + 0x6, static_cast<unsigned short>(0x200 + 2 * v));
        reg(base + 0x8, 0x000F);
        reg(base + 0xA, 0x0000);
        reg(base + 0xE, 0x200);
    }
    reg(0x198, 0xFFFF); // every voice sends to the reverb
    reg(0x19A, 0x00FF);
    reg(0x1AA, static_cast<unsigned short>(0xC000 | (reverbOn ? 0x80 : 0)));
    reg(0x188, 0xFFFF);
    reg(0x18A, 0x00FF);
}

void renderScene(benchmark::State& state, int selector, bool reverbOn)
{
    setUpScene(selector, reverbOn);
    std::vector<short> frames(2 * FramesPerIteration);
    for (auto _ : state)
    {
        plugin()->SPUrender(frames.data(), FramesPerIteration * 4);
        benchmark::DoNotOptimize(frames.data());
    }
    // CPU seconds per output frame, printed with an SI prefix (n = nanoseconds).
    state.counters["per_frame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * FramesPerIteration,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void ReverbOff(benchmark::State& state)
{
    renderScene(state, 4, false);
}
void ReverbSelector0Off(benchmark::State& state)
{
    renderScene(state, 0, true);
}
void ReverbSelector1Timidity(benchmark::State& state)
{
    renderScene(state, 1, true);
}
void ReverbSelector2Freeverb(benchmark::State& state)
{
    renderScene(state, 2, true);
}
void ReverbSelector3CombBank(benchmark::State& state)
{
    renderScene(state, 3, true);
}
void ReverbSelector4Hardware(benchmark::State& state)
{
    renderScene(state, 4, true);
}
void ReverbSelector99Echo(benchmark::State& state)
{
    renderScene(state, 99, true);
}
} // namespace

BENCHMARK(ReverbOff)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector0Off)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector1Timidity)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector2Freeverb)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector3CombBank)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector4Hardware)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(ReverbSelector99Echo)->Repetitions(7)->ReportAggregatesOnly(true);
