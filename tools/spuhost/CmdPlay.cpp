// spuhost play: runs a script live, as an emulator would. The plugin is opened
// (so it starts its sound device and pacing), the script's register traffic is
// handed over at its emulated time, and time passes in real time: "render N" and
// "async N" wait for N frames or N cycles of wall clock while SPUasync reports
// the elapsed cycles every 10 ms, as an emulator's CPU loop does (the plugin only
// acts on them when its audio-out method is "SPUasync"). --device oss|sdl plays
// through that device whatever the settings file says.

#include "spuhost/Command.h"
#include "spuhost/DeviceChoice.h"
#include "spuhost/Plugin.h"
#include "spuhost/VoiceMask.h"
#include "spuhost/Script.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <unistd.h>

namespace
{
const uint64_t CyclesPerSecond = 33868800;
const uint64_t CyclesPerFrame = 768;
const uint64_t ReportCycles = CyclesPerSecond / 100; // one SPUasync every 10 ms

// The demo tune's script, relative to the project folder.
const char* const DemoScript = "demo/demo.script";

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
}

// Emulated time, kept in step with the wall clock.
class EmulatedClock
{
public:
    EmulatedClock(Plugin& loaded, uint64_t limit) : plugin(loaded), limitCycles(limit) {}

    void start() { begin = std::chrono::steady_clock::now(); }

    // Lets `cycles` of emulated time pass; false once the time limit is reached or
    // the user interrupted.
    bool pass(uint64_t cycles)
    {
        target += cycles;
        if (limitCycles != 0 && target > limitCycles)
            target = limitCycles;
        while (reported < target && !interrupted)
        {
            const uint64_t next = target - reported < ReportCycles ? target : reported + ReportCycles;
            std::this_thread::sleep_until(begin +
                                          std::chrono::duration<double>(double(next) / CyclesPerSecond));
            if (plugin.SPUasync != nullptr)
                plugin.SPUasync(static_cast<unsigned long>(next - reported));
            reported = next;
        }
        return !interrupted && (limitCycles == 0 || reported < limitCycles);
    }
    bool limitReached() const { return limitCycles != 0 && reported >= limitCycles; }
    uint64_t remainingToLimit() const { return limitCycles > reported ? limitCycles - reported : 0; }

private:
    Plugin& plugin;
    uint64_t limitCycles;
    std::chrono::steady_clock::time_point begin;
    uint64_t target = 0;
    uint64_t reported = 0;
};

std::string demoScriptPath()
{
    // Next to the build folder that holds spuhost, or under the current folder.
    char exe[4096];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (length > 0)
    {
        exe[length] = '\0';
        std::string dir(exe);
        dir = dir.substr(0, dir.rfind('/'));
        const std::string candidate = dir + "/../" + DemoScript;
        if (access(candidate.c_str(), R_OK) == 0)
            return candidate;
    }
    return DemoScript;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: spuhost play PLUGIN.so (--demo | --script SCRIPT) [--seconds N] [--device oss|sdl]\n"
                 "       [--mute LIST] [--solo LIST]\n");
    return 2;
}

int runPlay(const std::vector<std::string>& args)
{
    if (args.empty())
        return usage();
    std::string scriptPath;
    VoiceMask mask;
    unsigned long long seconds = 0;
    int device = -1;
    for (size_t i = 1; i < args.size(); ++i)
    {
        if (args[i] == "--demo")
            scriptPath = demoScriptPath();
        else if (args[i] == "--script" && i + 1 < args.size())
            scriptPath = args[++i];
        else if (args[i] == "--seconds" && i + 1 < args.size())
        {
            if (!ScriptRunner::parseNumber(args[++i], true, seconds) || seconds == 0 || seconds > 86400)
            {
                std::fprintf(stderr, "spuhost play: --seconds takes a whole number from 1 to 86400\n");
                return 2;
            }
        }
        else if (args[i] == "--device" && i + 1 < args.size())
        {
            device = DeviceChoice::deviceIndex(args[++i]);
            if (device < 0)
            {
                std::fprintf(stderr, "spuhost play: --device takes oss or sdl, not '%s'\n", args[i].c_str());
                return 2;
            }
        }
        else if (const int taken = mask.takeOption(args, i, "play"))
        {
            if (taken < 0)
                return 2;
        }
        else
        {
            std::fprintf(stderr, "spuhost play: unexpected argument '%s'\n", args[i].c_str());
            return usage();
        }
    }
    if (scriptPath.empty())
        return usage();
    if (access(scriptPath.c_str(), R_OK) != 0)
    {
        std::fprintf(stderr, "spuhost: cannot read script '%s'\n", scriptPath.c_str());
        return 1;
    }

    Plugin plugin;
    if (!loadPlugin(plugin, args[0]))
        return 1;
    mask.install(plugin);

    EmulatedClock clock(plugin, seconds * CyclesPerSecond);
    bool timeUp = false;
    ScriptRunner runner(plugin, scriptPath);
    // The player owns the plugin's lifecycle; the script's own lifecycle lines are
    // accepted and skipped.
    for (const char* lifecycle : {"init", "open", "close", "shutdown"})
        runner.addCommand(lifecycle, [](const ScriptRunner::Words&) { return true; });
    runner.addCommand("render", [&](const ScriptRunner::Words& w) {
        unsigned long long frames;
        if (w.size() != 2 || !ScriptRunner::parseNumber(w[1], true, frames))
            return runner.fail("expected 'render N' with a decimal frame count");
        timeUp = !clock.pass(frames * CyclesPerFrame);
        return !timeUp;
    });
    runner.addCommand("async", [&](const ScriptRunner::Words& w) {
        unsigned long long cycles;
        if (w.size() != 2 || !ScriptRunner::parseNumber(w[1], true, cycles))
            return runner.fail("expected 'async N' with a decimal cycle count");
        timeUp = !clock.pass(cycles);
        return !timeUp;
    });

    struct sigaction act = {};
    act.sa_handler = onInterrupt;
    sigemptyset(&act.sa_mask);
    sigaction(SIGINT, &act, nullptr);
    sigaction(SIGTERM, &act, nullptr);

    if (device < 0)
        plugin.SPUinit();
    else
    {
        DeviceChoice choice;
        if (!choice.init(plugin, device))
        {
            std::fprintf(stderr, "spuhost play: --device: %s\n", choice.error().c_str());
            return 1;
        }
    }
    plugin.SPUopen(nullptr);
    clock.start();
    const bool ok = runner.run() || timeUp;
    // Let the sound play on up to the time asked for, or else for the half second
    // that is still queued in the plugin's ring.
    if (ok && !interrupted)
        clock.pass(seconds != 0 ? clock.remainingToLimit() : CyclesPerSecond / 2);
    plugin.SPUclose();
    plugin.SPUshutdown();
    return ok ? 0 : 1;
}

const SpuhostCommand command(
    "play",
    "PLUGIN.so (--demo | --script SCRIPT) [--seconds N] [--device oss|sdl] [--mute LIST] [--solo LIST]",
    runPlay);
} // namespace
