// Cost of the CD input through the exports: queuing one XA sector group (2016
// stereo frames at 37800 Hz) or one CD-DA sector (2352 bytes), and rendering its
// playing time with only the CD input active. Run with
//   build/render_bench --benchmark_filter=Stream --benchmark_repetitions=9
//   --benchmark_report_aggregates_only=true
// and read the medians.

#include "spuhost/Plugin.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
Plugin& streamPlugin()
{
    static Plugin* loaded = nullptr;
    if (loaded == nullptr)
    {
        loaded = new Plugin();
        if (!loaded->load(SPU_PLUGIN_PATH))
        {
            std::fprintf(stderr, "%s\n", loaded->error().c_str());
            std::exit(1);
        }
        loaded->SPUinit();
        loaded->SPUwriteRegister(0x1F801DB0, 0x7FFF);
        loaded->SPUwriteRegister(0x1F801DB2, 0x7FFF);
    }
    return *loaded;
}

void StreamXaSectorGroup(benchmark::State& state)
{
    Plugin& plugin = streamPlugin();
    static xa_decode_t xa;
    for (int i = 0; i < 16384; ++i)
        xa.pcm[i] = static_cast<int16_t>(i * 7919);
    std::vector<short> out(2 * 2352);
    for (auto _ : state)
    {
        xa.freq = 37800;
        xa.stereo = 1;
        xa.nsamples = 2016;
        plugin.SPUplayADPCMchannel(&xa);
        plugin.SPUrender(out.data(), 4 * 2352);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 2352);
}
BENCHMARK(StreamXaSectorGroup);

void StreamCddaSector(benchmark::State& state)
{
    Plugin& plugin = streamPlugin();
    std::vector<short> data(1176);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<short>(i * 613);
    std::vector<short> out(2 * 588);
    for (auto _ : state)
    {
        plugin.SPUplayCDDAchannel(data.data(), 2352);
        plugin.SPUrender(out.data(), 4 * 588);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 588);
}
BENCHMARK(StreamCddaSector);
} // namespace
