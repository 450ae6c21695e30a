// spuhost replay: plays an event log ("spulog.spu") back through a plugin (see
// Replay) into a WAV file, a raw file or both. The whole log is checked before
// anything is written. On a terminal the frames done are shown as they go; Ctrl-C
// stops between two chunks, with the output files closed and valid for what was
// rendered.

#include "spuhost/Command.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/ProgressLine.h"
#include "spuhost/Replay.h"
#include "spuhost/VoiceMask.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace
{
// The shell's status for a program ended by SIGINT.
const int InterruptedStatus = 128 + SIGINT;

volatile sig_atomic_t interruptRequested = 0;

void onInterrupt(int)
{
    interruptRequested = 1;
}

// Ctrl-C sets the flag for as long as this lives; then SIGINT is as it was.
class InterruptGuard
{
public:
    InterruptGuard()
    {
        interruptRequested = 0;
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous);
    }
    ~InterruptGuard() { sigaction(SIGINT, &previous, nullptr); }

private:
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    struct sigaction previous = {};
};

int usage()
{
    std::fprintf(stderr, "usage: spuhost replay PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw]"
                         " (one or both)\n"
                         "       [--mute LIST] [--solo LIST]\n");
    return 2;
}

int runReplay(const std::vector<std::string>& args)
{
    std::string wavPath, rawPath;
    VoiceMask mask;
    bool ok = args.size() >= 4;
    for (size_t i = 2; ok && i < args.size(); ++i)
    {
        if (args[i] == "--wav" && i + 1 < args.size())
            wavPath = args[++i];
        else if (args[i] == "--out" && i + 1 < args.size())
            rawPath = args[++i];
        else if (const int taken = mask.takeOption(args, i, "replay"))
            ok = taken > 0;
        else
            ok = false;
    }
    if (!ok || (wavPath.empty() && rawPath.empty()))
        return usage();
    const std::string& logPath = args[1];

    LogFile log;
    if (!log.open(logPath))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }
    // The 32-bit sizes of a WAV header would wrap: refused before anything is rendered.
    if (!wavPath.empty() && log.duration() > FrameWriter::MaxWavFrames)
    {
        std::fprintf(stderr,
                     "spuhost replay: %s: %lu frames do not fit a WAV file, which holds at most %llu frames"
                     " (about 6 h 45 min); use --out for raw output\n",
                     logPath.c_str(), static_cast<unsigned long>(log.duration()),
                     static_cast<unsigned long long>(FrameWriter::MaxWavFrames));
        return 1;
    }
    LogFile::Summary summary;
    if (!log.check(summary))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }

    Plugin plugin;
    if (!loadPlugin(plugin, args[0]))
        return 1;
    mask.install(plugin);
    if (const char* missing = Replay::missingExport(plugin, summary))
    {
        std::fprintf(stderr, "spuhost replay: the plugin has no %s\n", missing);
        return 1;
    }

    FrameWriter wav, raw;
    if (!wavPath.empty() && !wav.open(wavPath, FrameWriter::Wav))
    {
        std::fprintf(stderr, "spuhost: cannot write '%s'\n", wavPath.c_str());
        return 1;
    }
    if (!rawPath.empty() && !raw.open(rawPath, FrameWriter::Raw))
    {
        std::fprintf(stderr, "spuhost: cannot write '%s'\n", rawPath.c_str());
        return 1;
    }

    Replay replay(plugin, log);
    replay.setOutputs(wavPath.empty() ? nullptr : &wav, rawPath.empty() ? nullptr : &raw);
    ProgressLine progress(stderr, "spuhost replay");
    if (isatty(STDERR_FILENO))
        replay.setProgress([&progress](uint32_t done, uint32_t total) { progress.update(done, total); });
    Replay::Result result;
    {
        InterruptGuard guard;
        replay.setStopFlag(&interruptRequested);
        result = replay.run();
    }
    progress.finish();

    int status = 0;
    if (result == Replay::BadEntry)
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), replay.error().c_str());
        status = 1;
    }
    else if (result == Replay::Interrupted)
    {
        std::fprintf(stderr, "spuhost replay: interrupted after %lu of %lu frames; the output holds them\n",
                     static_cast<unsigned long>(replay.framesRendered()),
                     static_cast<unsigned long>(log.duration()));
        status = InterruptedStatus;
    }
    if (!wavPath.empty() && !wav.close())
    {
        std::fprintf(stderr, "spuhost: error writing '%s': %s\n", wavPath.c_str(), wav.error().c_str());
        status = status != 0 ? status : 1;
    }
    if (!rawPath.empty() && !raw.close())
    {
        std::fprintf(stderr, "spuhost: error writing '%s': %s\n", rawPath.c_str(), raw.error().c_str());
        status = status != 0 ? status : 1;
    }
    return status;
}

const SpuhostCommand
    command("replay", "PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw] [--mute LIST] [--solo LIST]",
            runReplay);
} // namespace
