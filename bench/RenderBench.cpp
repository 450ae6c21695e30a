// Render benchmark: frames per CPU second and real-time factor (emulated seconds per
// CPU second) of SPUrender on (a) 24 voices at sustain, (b) 4 voices, (c) the demo
// tune, each the median of several runs (the _median lines). Run as
// build/render_bench. The rates are per CPU second of the rendering thread.

#include "BenchScenes.h"

#include <benchmark/benchmark.h>

namespace
{
const int Repetitions = 7;

void setRates(benchmark::State& state, double frames)
{
    state.counters["frames/s"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["realtime_x"] = benchmark::Counter(frames / 44100.0, benchmark::Counter::kIsRate);
}

void voices(benchmark::State& state, int count, bool cache)
{
    std::unique_ptr<Plugin> plugin = bench::loadPlugin(cache);
    if (!plugin || !bench::voicesAtSustain(*plugin, count))
    {
        state.SkipWithError("scene setup failed");
        return;
    }
    std::vector<short> buffer(2 * 1024);
    double frames = 0;
    for (auto _ : state)
    {
        frames += bench::renderSecond(*plugin, buffer);
        benchmark::DoNotOptimize(buffer.data());
    }
    setRates(state, frames);
}

void demo(benchmark::State& state)
{
    std::unique_ptr<Plugin> plugin = bench::loadPlugin();
    const std::vector<bench::ScriptStep> steps = bench::loadDemo();
    if (!plugin || steps.empty())
    {
        state.SkipWithError("demo/demo.script not found");
        return;
    }
    std::vector<short> buffer(2 * 1024);
    double frames = 0;
    for (auto _ : state)
        frames += static_cast<double>(bench::playDemo(*plugin, steps, buffer));
    setRates(state, frames);
}
} // namespace

BENCHMARK_CAPTURE(voices, a_24_voices_sustain, 24, false)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(Repetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(voices, b_4_voices_sustain, 4, false)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(Repetitions)
    ->ReportAggregatesOnly(true);
// (a) again with the decode cache on: looped samples are decoded once.
BENCHMARK_CAPTURE(voices, a_24_voices_sustain_cache, 24, true)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(Repetitions)
    ->ReportAggregatesOnly(true);
BENCHMARK(demo)
    ->Name("c_demo_tune")
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(Repetitions)
    ->ReportAggregatesOnly(true);
