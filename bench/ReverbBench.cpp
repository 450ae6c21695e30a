// Render cost of each reverb algorithm: the 24 voices of the render benchmark's
// sustain scene, all sending to the reverb, with the "Studio Large" preset, the
// reverb master enable on and "ReverbType" set to each selector (0, 1, 2, 3, 4, 99).
// "reverb_disabled" is the same scene with the master enable off: the 24-voice
// render itself. An algorithm's cost per sample is its per_frame time minus that of
// reverb_disabled. Each line is the median of several runs (the _median lines).

#include "BenchScenes.h"

#include <benchmark/benchmark.h>

namespace
{
const int Repetitions = 7;

const unsigned short StudioLargeStart = 0xF204;
const unsigned short StudioLarge[32] = {0x00E3, 0x00A9, 0x6F60, 0x4FA8, 0xBCE0, 0x4510, 0xBEF0, 0xA680,
                                        0x5680, 0x52C0, 0x0DFB, 0x0B58, 0x0D09, 0x0A3C, 0x0BD9, 0x0973,
                                        0x0B59, 0x08DA, 0x08D9, 0x05E9, 0x07EC, 0x04B0, 0x06EF, 0x03D2,
                                        0x05EA, 0x031D, 0x031C, 0x0238, 0x0154, 0x00AA, 0x8000, 0x8000};

// SPUinit reads the selector from ./cfg/spuTalvane.cfg, the benchmark's own folder.
bool useSelector(Plugin& p, int selector)
{
    if (!bench::writeSettings(false, selector))
        return false;
    p.SPUinit();
    return true;
}

void reverbOn(Plugin& p)
{
    for (int n = 0; n < 32; ++n)
        bench::write(p, 0x1F801DC0 + 2 * n, StudioLarge[n]);
    bench::write(p, 0x1F801DA2, StudioLargeStart);
    bench::write(p, 0x1F801D84, 0x3000);
    bench::write(p, 0x1F801D86, 0x3000);
    bench::write(p, 0x1F801D98, 0xFFFF); // every voice sends to the reverb
    bench::write(p, 0x1F801D9A, 0x00FF);
}

void reverb(benchmark::State& state, int selector, bool enabled)
{
    std::unique_ptr<Plugin> plugin = bench::loadPlugin();
    if (!plugin || !useSelector(*plugin, selector))
    {
        state.SkipWithError("scene setup failed");
        return;
    }
    reverbOn(*plugin);
    if (!bench::voicesAtSustain(*plugin, 24))
    {
        state.SkipWithError("scene setup failed");
        return;
    }
    bench::write(*plugin, 0x1F801DAA, enabled ? 0xC080 : 0xC000);
    std::vector<short> buffer(2 * 1024);
    double frames = 0;
    for (auto _ : state)
    {
        frames += bench::renderSecond(*plugin, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    // CPU seconds per output frame, printed with an SI prefix (n = nanoseconds).
    state.counters["per_frame"] =
        benchmark::Counter(frames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
} // namespace

#define REVERB_BENCH(name, selector, enabled)                                                                \
    BENCHMARK_CAPTURE(reverb, name, selector, enabled)                                                       \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->Repetitions(Repetitions)                                                                           \
        ->ReportAggregatesOnly(true)

REVERB_BENCH(r_24_voices_reverb_disabled, 4, false);
REVERB_BENCH(r_24_voices_selector_0_off, 0, true);
REVERB_BENCH(r_24_voices_selector_1_timidity, 1, true);
REVERB_BENCH(r_24_voices_selector_2_freeverb, 2, true);
REVERB_BENCH(r_24_voices_selector_3_comb_bank, 3, true);
REVERB_BENCH(r_24_voices_selector_4_hardware, 4, true);
REVERB_BENCH(r_24_voices_selector_99_echo, 99, true);
