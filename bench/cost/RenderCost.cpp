// render_cost: instructions per emulated second of the plugin's rendering, counted
// by valgrind's callgrind (the figure that does not move with the machine's load).
// Each workload is set up through the exports as a host does, then one or more
// emulated seconds are rendered with counting switched on around the render calls
// only. Run without arguments it runs itself under callgrind once per workload and
// prints the table; `render_cost WORKLOAD` is that one run (counting does nothing
// outside callgrind).
//
// Workloads:
//   hall24     24 looping voices at sustain, all sent to the hardware reverb with the
//              demo's "Hall" preset; one SPUrender call for the whole span
//   dry24      the same voices with the reverb master enable off
//   voices4    4 of those voices, reverb off
//   demo       the demo tune as its script plays it
//   hall24_1ms hall24 rendered in calls of 44 frames (a host calling every 1 ms)

#include "BenchScenes.h"

#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
const int Seconds = 2;
const unsigned long FramesPerSecond = 44100;

struct Workload
{
    const char* name;
    const char* what;
};

const Workload Workloads[] = {
    {"hall24", "24 voices, Hall reverb, one call"},
    {"dry24", "24 voices, reverb off, one call"},
    {"voices4", "4 voices, reverb off, one call"},
    {"demo", "the demo tune (its script's calls)"},
    {"hall24_1ms", "24 voices, Hall reverb, 44-frame calls"},
};

// The demo's own reverb set-up (work area, "Hall" registers, output volume), all
// voices sending to it, and the master enable on.
void hallReverb(Plugin& p)
{
    for (const bench::ScriptStep& s : bench::loadDemo())
        if (s.kind == bench::ScriptStep::Write &&
            ((s.address >= 0x1F801DC0 && s.address <= 0x1F801DFE) || s.address == 0x1F801DA2 ||
             s.address == 0x1F801D84 || s.address == 0x1F801D86))
            p.SPUwriteRegister(s.address, static_cast<unsigned short>(s.value));
    p.SPUwriteRegister(0x1F801D98, 0xFFFF);
    p.SPUwriteRegister(0x1F801D9A, 0x00FF);
    p.SPUwriteRegister(0x1F801DAA, 0xC080);
}

// Renders `frames` frames in calls of `chunk` frames, counted.
void renderCounted(Plugin& p, unsigned long frames, unsigned long chunk)
{
    std::vector<short> buffer(2 * chunk);
    CALLGRIND_TOGGLE_COLLECT;
    for (unsigned long done = 0; done < frames; done += chunk)
        p.SPUrender(buffer.data(), static_cast<int>(4 * chunk));
    CALLGRIND_TOGGLE_COLLECT;
}

int runOne(const std::string& name)
{
    const bool demo = name == "demo";
    std::unique_ptr<Plugin> plugin = bench::loadPlugin();
    if (!plugin)
        return 1;
    const unsigned long frames = Seconds * FramesPerSecond;
    if (demo)
    {
        const std::vector<bench::ScriptStep> steps = bench::loadDemo();
        std::vector<short> buffer(2 * 1024);
        CALLGRIND_TOGGLE_COLLECT;
        const unsigned long played = bench::playDemo(*plugin, steps, buffer);
        CALLGRIND_TOGGLE_COLLECT;
        std::printf("frames %lu\n", played);
        return 0;
    }
    if (!bench::voicesAtSustain(*plugin, name == "voices4" ? 4 : 24))
        return 1;
    if (name == "hall24" || name == "hall24_1ms")
        hallReverb(*plugin);
    renderCounted(*plugin, frames, name == "hall24_1ms" ? 44 : frames);
    std::printf("frames %lu\n", name == "hall24_1ms" ? (frames + 43) / 44 * 44 : frames);
    return 0;
}

// Instructions counted in a callgrind output file (its "summary:" line).
unsigned long long summary(const std::string& path)
{
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, 8, "summary:") == 0)
            return std::strtoull(line.c_str() + 8, nullptr, 10);
    return 0;
}

int runAll(const char* self)
{
    std::printf("Instructions per emulated second (callgrind, %d s rendered per workload)\n", Seconds);
    std::printf("%-11s %-40s %14s %12s\n", "workload", "", "per second", "per frame");
    for (const Workload& w : Workloads)
    {
        char out[] = "/tmp/render_cost_XXXXXX";
        const int fd = mkstemp(out);
        if (fd < 0)
            return 1;
        close(fd);
        char frames[] = "/tmp/render_cost_frames_XXXXXX";
        const int framesFd = mkstemp(frames);
        if (framesFd < 0)
            return 1;
        close(framesFd);
        const std::string command =
            std::string("valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file=") + out + " '" +
            self + "' " + w.name + " > " + frames + " 2>/dev/null";
        const int status = std::system(command.c_str());
        unsigned long played = 0;
        if (FILE* f = std::fopen(frames, "r"))
        {
            if (std::fscanf(f, "frames %lu", &played) != 1)
                played = 0;
            std::fclose(f);
        }
        const unsigned long long instructions = summary(out);
        unlink(out);
        unlink(frames);
        if (status != 0 || played == 0 || instructions == 0)
        {
            std::printf("%-11s %-40s failed (is valgrind installed?)\n", w.name, w.what);
            return 1;
        }
        const double seconds = static_cast<double>(played) / FramesPerSecond;
        std::printf("%-11s %-40s %12.1f M %12.0f\n", w.name, w.what, instructions / seconds / 1e6,
                    static_cast<double>(instructions) / played);
        std::fflush(stdout);
    }
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2)
        return runOne(argv[1]);
    return runAll(argv[0]);
}
