// How long the plugin holds its critical section at once: while it is held, the
// emulator's thread and the output thread both wait. Measured around every
// enterCS/leaveCS pair of the plugin (the linker's --wrap), wall clock and CPU time
// of the thread, for
//   - the inputs that once held it for seconds (CD audio chunks that overrun the
//     stream ring again and again, a save state carrying such a chunk),
//   - the heaviest calls a host can make (the largest stream ring, long SPUrender
//     and SPUasync calls, in the largest output ring),
//   - every input of the fuzz corpora given on the command line (host call
//     sequences, as the calls fuzz target plays them).
// Each figure is the median over seven runs of the longest hold of the run.
// Usage: hold_bench [CORPUS_DIR...]   (default: the committed corpus of the target)
// The corpus inputs are played without the fuzz target's frame budget.

#include "fuzz/CallSequence.h"
#include "fuzz/DemoScenes.h"
#include "fuzz/PluginHost.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" void __real__Z7enterCSv();
extern "C" void __real__Z7leaveCSv();

namespace
{
const int Runs = 7;

double threadCpu()
{
    timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

double wall()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The longest hold since reset, and the export it happened in.
struct Holds : fuzz::CallObserver
{
    double wallStart = 0, cpuStart = 0;
    double longestWall = 0, longestCpu = 0;
    const char* current = "(outside an export)";
    std::string longestIn;

    void begin(const char* name) override { current = name; }
    void end() override { current = "(outside an export)"; }
    void reset()
    {
        longestWall = longestCpu = 0;
        longestIn.clear();
    }
};
Holds holds;
} // namespace

extern "C" void __wrap__Z7enterCSv()
{
    __real__Z7enterCSv();
    holds.wallStart = wall();
    holds.cpuStart = threadCpu();
}

extern "C" void __wrap__Z7leaveCSv()
{
    const double w = wall() - holds.wallStart;
    const double c = threadCpu() - holds.cpuStart;
    if (c > holds.longestCpu)
    {
        holds.longestCpu = c;
        holds.longestIn = holds.current;
    }
    holds.longestWall = std::max(holds.longestWall, w);
    __real__Z7leaveCSv();
}

namespace
{
struct Figure
{
    double cpu, wall;
    std::string in;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

Figure measure(const std::vector<uint8_t>& input)
{
    std::vector<double> cpu, wallTimes;
    std::string in;
    for (int run = 0; run < Runs; ++run)
    {
        holds.reset();
        fuzz::runCallSequence(input.data(), input.size(), &holds, ~0UL);
        cpu.push_back(holds.longestCpu);
        wallTimes.push_back(holds.longestWall);
        in = holds.longestIn;
    }
    return {median(cpu), median(wallTimes), in};
}

void print(const std::string& name, const Figure& f)
{
    std::printf("%-62s %8.3f ms CPU %8.3f ms wall  in %s\n", name.c_str(), 1e3 * f.cpu, 1e3 * f.wall,
                f.in.c_str());
}

std::vector<int16_t> tone(size_t entries)
{
    std::vector<int16_t> out(entries);
    for (size_t i = 0; i < entries; ++i)
        out[i] = static_cast<int16_t>(12000 * std::sin(0.05 * static_cast<double>(i / 2)));
    return out;
}

// The tune's set-up (instruments, Hall reverb), then all 24 voices keyed on with
// its first instrument, sending to the reverb: the most a frame can cost.
void twentyFourVoices(fuzz::CallWriter& w)
{
    fuzz::writeDemo(w, 0, 0, 0, 2048);
    for (uint32_t v = 0; v < 24; ++v)
    {
        const uint32_t base = 0x1F801C00 + 16 * v;
        w.writeRegister(base + 0x0, 0x2000);
        w.writeRegister(base + 0x2, 0x2000);
        w.writeRegister(base + 0x4, static_cast<uint16_t>(0x0800 + 0x40 * v));
        w.writeRegister(base + 0x6, 0x0200);
        w.writeRegister(base + 0x8, 0x00FF);
        w.writeRegister(base + 0xA, 0x0000);
    }
    w.writeRegister(0x1F801D98, 0xFFFF);
    w.writeRegister(0x1F801D9A, 0x00FF);
    w.writeRegister(0x1F801D88, 0xFFFF);
    w.writeRegister(0x1F801D8A, 0x00FF);
}

void namedCases(Figure& worst)
{
    struct Case
    {
        std::string name;
        fuzz::CallWriter writer;
    };
    std::vector<Case> cases;
    auto add = [&cases](const std::string& name, const fuzz::CallWriter& w) { cases.push_back({name, w}); };
    {
        fuzz::CallWriter w;
        for (int i = 0; i < 2; ++i)
            w.playCDDA(tone(1 << 19));
        add("CD-DA chunk of 1 MiB, twice without rendering", w);
    }
    {
        fuzz::CallWriter w;
        for (int i = 0; i < 3; ++i)
            w.playCDDA(tone(152916 / 2));
        add("CD-DA chunk of the largest ring (149 KiB), three times", w);
    }
    {
        fuzz::CallWriter w;
        for (int i = 0; i < 2; ++i)
            w.playXA(170, 1, 4032, tone(8064));
        add("XA record of 4032 stereo frames at 170 Hz, twice", w);
    }
    {
        fuzz::CallWriter w;
        for (int i = 0; i < 3; ++i)
            w.playXA(18900, 0, 16384, tone(16384));
        add("XA record of 16384 mono samples at 18900 Hz, three times", w);
    }
    const int rates[] = {170, 4700};
    for (int rate : rates)
    {
        fuzz::CallWriter w;
        w.save();
        w.patchSavedXa(rate, 1, 4032);
        w.load();
        w.load();
        add("save state with 4032 stereo XA frames at " + std::to_string(rate) + " Hz, loaded twice", w);
    }
    {
        fuzz::CallWriter w(4, 0x80, 0, 64);
        twentyFourVoices(w);
        w.async(0xFFFFFFFFu);
        add("24 voices in the Hall reverb, then SPUasync of 2^32 cycles", w);
    }
    {
        fuzz::CallWriter w(4, 0x80, 0, 999);
        twentyFourVoices(w);
        w.async(0xFFFFFFFFu);
        add("the same in the largest output ring (999 units, a user setting)", w);
    }
    {
        fuzz::CallWriter w;
        twentyFourVoices(w);
        w.render(16383);
        add("24 voices in the Hall reverb, then SPUrender of 16383 frames", w);
    }
    for (const Case& c : cases)
    {
        const Figure f = measure(c.writer.data());
        print(c.name, f);
        if (f.cpu > worst.cpu)
            worst = f;
    }
}

std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void corpus(const std::string& dir, Figure& worst)
{
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
    {
        std::perror(dir.c_str());
        return;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    Figure longest = {0, 0, ""};
    std::string longestName;
    for (const std::string& name : names)
    {
        const Figure f = measure(readFile(dir + "/" + name));
        if (f.cpu > longest.cpu)
        {
            longest = f;
            longestName = name;
        }
    }
    print(dir + ": " + std::to_string(names.size()) + " inputs, the longest " + longestName, longest);
    if (longest.cpu > worst.cpu)
        worst = longest;
}
} // namespace

int main(int argc, char** argv)
{
    fuzz::startPlugin();
    Figure worst = {0, 0, ""};
    namedCases(worst);
    if (argc == 1)
        corpus(SPU_SOURCE_DIR "/tests/fuzz/corpus/calls", worst);
    for (int i = 1; i < argc; ++i)
        corpus(argv[i], worst);
    std::printf("longest hold of all: %.3f ms CPU, %.3f ms wall, in %s\n", 1e3 * worst.cpu, 1e3 * worst.wall,
                worst.in.c_str());
    return 0;
}
