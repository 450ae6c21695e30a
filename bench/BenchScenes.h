#pragma once

// Scenes for the render benchmark, set up through the plugin's exports exactly as a
// host would. A workload is a scene plus a frame count; RenderBench.cpp times
// SPUrender over it. Further workloads (for example reverb: 24 voices sending to
// the reverb with one selector each) need only a scene function here or in a file
// of their own and a BENCHMARK_CAPTURE line.

#include "spuhost/Plugin.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace bench
{
// The settings file that SPUinit reads from the working folder: the defaults, but
// for the decode cache and the reverb algorithm ("ReverbType").
inline bool writeSettings(bool cacheVagDecode, int reverbType)
{
    FILE* cfg = std::fopen("cfg/spuTalvane.cfg", "w");
    if (cfg == nullptr)
        return false;
    std::fprintf(cfg,
                 "AudioDevice = 3\nSoundBufferSize = 64\nAudioOutMethod = 0\nAsyncMode = 0\n"
                 "ShowRealtimeConfigWindow = 0\nWaitForXABufferIsFree = 1\nCacheVagDecode = %d\n"
                 "Finetune = 0\nReverbType = %d\nRecOpt = 5\nUpdateBeforeRegisterAccess = 0\n"
                 "SPUIRQWaitCPUAction = 0\nSPUIRQForceInterruptFlag7 = 0\n",
                 cacheVagDecode ? 1 : 0, reverbType);
    return std::fclose(cfg) == 0;
}

// Runs the benchmark in a directory of its own with a configuration file that has
// the defaults, or the decode cache on, so that the user's settings do not matter.
inline bool useConfig(bool cacheVagDecode)
{
    static std::string dir;
    if (dir.empty())
    {
        char name[] = "/tmp/render_bench_XXXXXX";
        if (mkdtemp(name) == nullptr || chdir(name) != 0)
            return false;
        dir = name;
        mkdir("cfg", 0755);
    }
    return writeSettings(cacheVagDecode, 4);
}

// A fresh plugin, initialised (without output: the benchmark renders with SPUrender).
inline std::unique_ptr<Plugin> loadPlugin(bool cacheVagDecode = false)
{
    if (!useConfig(cacheVagDecode))
        return nullptr;
    std::unique_ptr<Plugin> plugin(new Plugin);
    if (!plugin->load(SPU_PLUGIN_PATH) || plugin->SPUrender == nullptr)
    {
        std::fprintf(stderr, "render_bench: cannot load %s: %s\n", SPU_PLUGIN_PATH, plugin->error().c_str());
        return nullptr;
    }
    plugin->SPUinit();
    return plugin;
}

inline void write(Plugin& p, unsigned long address, unsigned short value)
{
    p.SPUwriteRegister(address, value);
}

// Loads the demo's encoded instruments at unit address 0x200: realistic looped
// samples (filters 0-4, all shifts) for the voice scenes too.
inline bool loadInstruments(Plugin& p)
{
    std::ifstream in(std::string(SPU_SOURCE_DIR) + "/demo/instruments.adpcm", std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    if (bytes.empty())
        return false;
    std::vector<unsigned short> words(bytes.size() / 2);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = static_cast<unsigned short>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    write(p, 0x1F801DA6, 0x0200);
    p.SPUwriteDMAMem(words.data(), static_cast<int>(words.size()));
    return true;
}

// `voices` voices keyed on the demo's looped instruments (bass at unit 0x200, organ
// after it), pitches spread from 0x0800 to 0x3000, fast attack into a held sustain,
// reverb master enable off. Rendered for a while so that all envelopes sit at sustain.
inline bool voicesAtSustain(Plugin& p, int voices)
{
    if (!loadInstruments(p))
        return false;
    write(p, 0x1F801D80, 0x3FFF);
    write(p, 0x1F801D82, 0x3FFF);
    write(p, 0x1F801DAA, 0xC000);
    const unsigned short starts[2] = {0x0200, 0x0200 + 896 / 8}; // bass, organ (see demo/)
    unsigned long keys = 0;
    for (int k = 0; k < voices; ++k)
    {
        const unsigned long base = 0x1F801C00 + 16 * k;
        const unsigned short pitch = static_cast<unsigned short>(0x0800 + (0x3000 - 0x0800) * k / 23);
        write(p, base + 0x0, 0x0400);
        write(p, base + 0x2, 0x0400);
        write(p, base + 0x4, pitch);
        write(p, base + 0x6, starts[k % 2]);
        write(p, base + 0x8, 0x100F);              // attack rate 16, sustain level 15
        write(p, base + 0xA, (127 << 6) | 0x000E); // sustain held, release 14
        keys |= 1ul << k;
    }
    write(p, 0x1F801D88, static_cast<unsigned short>(keys & 0xFFFF));
    write(p, 0x1F801D8A, static_cast<unsigned short>(keys >> 16));
    std::vector<short> settle(2 * 4410);
    p.SPUrender(settle.data(), 4 * 4410);
    return true;
}

// One emulated second (44100 frames) through SPUrender in calls of buffer.size() / 2
// frames, the last call running past the second; returns the frames rendered.
inline unsigned long renderSecond(Plugin& p, std::vector<short>& buffer)
{
    const unsigned long chunk = buffer.size() / 2;
    unsigned long done = 0;
    for (; done < 44100; done += chunk)
        p.SPUrender(buffer.data(), 4 * chunk);
    return done;
}

// The demo tune's script, parsed once: register writes, DMA files and render counts.
struct ScriptStep
{
    enum Kind
    {
        Write,
        Dma,
        Render,
        Init
    } kind;
    unsigned long address;
    unsigned long value;
    std::vector<unsigned short> words;
};

inline std::vector<ScriptStep> loadDemo()
{
    std::vector<ScriptStep> steps;
    const std::string dir = std::string(SPU_SOURCE_DIR) + "/demo/";
    std::ifstream in(dir + "demo.script");
    std::string command;
    for (std::string line; std::getline(in, line);)
    {
        line = line.substr(0, line.find('#'));
        char name[32] = {}, arg1[256] = {}, arg2[64] = {};
        if (std::sscanf(line.c_str(), "%31s %255s %63s", name, arg1, arg2) < 1)
            continue;
        command = name;
        if (command == "init")
            steps.push_back({ScriptStep::Init, 0, 0, {}});
        else if (command == "w")
            steps.push_back(
                {ScriptStep::Write, std::stoul(arg1, nullptr, 16), std::stoul(arg2, nullptr, 16), {}});
        else if (command == "render")
            steps.push_back({ScriptStep::Render, 0, std::stoul(arg1), {}});
        else if (command == "dmafile")
        {
            std::ifstream data(dir + arg1, std::ios::binary);
            const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(data)),
                                                   std::istreambuf_iterator<char>());
            ScriptStep step{ScriptStep::Dma, 0, 0, std::vector<unsigned short>(bytes.size() / 2)};
            for (size_t i = 0; i < step.words.size(); ++i)
                step.words[i] = static_cast<unsigned short>(bytes[2 * i] | bytes[2 * i + 1] << 8);
            steps.push_back(step);
        }
    }
    return steps;
}

// Plays the demo through the plugin; returns the frames rendered.
inline unsigned long playDemo(Plugin& p, const std::vector<ScriptStep>& steps, std::vector<short>& buffer)
{
    unsigned long frames = 0;
    for (const ScriptStep& s : steps)
        switch (s.kind)
        {
        case ScriptStep::Init:
            p.SPUinit();
            break;
        case ScriptStep::Write:
            p.SPUwriteRegister(s.address, static_cast<unsigned short>(s.value));
            break;
        case ScriptStep::Dma:
        {
            std::vector<unsigned short> copy = s.words;
            p.SPUwriteDMAMem(copy.data(), static_cast<int>(copy.size()));
            break;
        }
        case ScriptStep::Render:
            for (unsigned long left = s.value; left > 0;)
            {
                const unsigned long chunk = left < buffer.size() / 2 ? left : buffer.size() / 2;
                p.SPUrender(buffer.data(), 4 * chunk);
                left -= chunk;
                frames += chunk;
            }
            break;
        }
    return frames;
}
} // namespace bench
