// spuhost replay: plays an event log ("spulog.spu") back through a plugin (see
// Replay) into a WAV file, a raw file or both, and with --stems into one WAV file
// a source that sounds (see Stems). The whole log is checked before
// anything is written. On a terminal the frames done are shown as they go; Ctrl-C
// stops between two chunks, with the output files closed and valid for what was
// rendered.

#include "spuhost/Command.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/ProgressLine.h"
#include "spuhost/Replay.h"
#include "spuhost/Stems.h"
#include "spuhost/TrafficSource.h"
#include "spuhost/VoiceTraffic.h"
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
                         " [--stems DIR] (one or more)\n"
                         "       [--mute LIST] [--solo LIST]\n");
    return 2;
}

// One playing of the log through a freshly loaded plugin, with the mask's sources
// silenced, into the writers given. On a terminal the progress line counts its frames
// after `before` of `total`; it is ended before any message. sounded tells whether a
// sample was not 0. Returns the exit status; an interrupted run says how far it came.
int replayOnce(const std::string& pluginPath, const std::string& logPath, LogFile& log,
               const LogFile::Summary& summary, const VoiceMask& mask, FrameWriter* wav, FrameWriter* raw,
               ProgressLine& progress, uint64_t before, uint64_t total, bool& sounded)
{
    Plugin plugin;
    const bool loaded = plugin.load(pluginPath);
    const char* missing = loaded ? Replay::missingExport(plugin, summary) : nullptr;
    if (!loaded || missing != nullptr || !log.rewind())
    {
        progress.finish();
        if (!loaded)
            std::fprintf(stderr, "spuhost: %s: %s\n", pluginPath.c_str(), plugin.error().c_str());
        else if (missing != nullptr)
            std::fprintf(stderr, "spuhost replay: the plugin has no %s\n", missing);
        else
            std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }
    mask.install(plugin);

    Replay replay(plugin, log);
    replay.setOutputs(wav, raw);
    if (isatty(STDERR_FILENO))
        replay.setProgress(
            [&progress, before, total](uint32_t done, uint32_t) { progress.update(before + done, total); });
    sounded = false;
    replay.setFrameSink([&sounded](const short* frames, unsigned long count) {
        sounded = sounded || Stems::sounds(frames, count);
    });
    Replay::Result result;
    {
        InterruptGuard guard;
        replay.setStopFlag(&interruptRequested);
        result = replay.run();
    }
    if (result == Replay::BadEntry)
    {
        progress.finish();
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), replay.error().c_str());
        return 1;
    }
    if (result == Replay::Interrupted)
    {
        progress.finish();
        std::fprintf(stderr, "spuhost replay: interrupted after %lu of %lu frames; the output holds them\n",
                     static_cast<unsigned long>(replay.framesRendered()),
                     static_cast<unsigned long>(log.duration()));
        return InterruptedStatus;
    }
    return 0;
}

// Closes a writer that was opened; a failure ends the progress line, says so and
// keeps the first status that is not 0.
void closeOutput(FrameWriter& writer, const std::string& path, ProgressLine& progress, int& status)
{
    if (path.empty() || writer.close())
        return;
    progress.finish();
    std::fprintf(stderr, "spuhost: error writing '%s': %s\n", path.c_str(), writer.error().c_str());
    status = status != 0 ? status : 1;
}

bool openOutput(FrameWriter& writer, const std::string& path, FrameWriter::Format format,
                ProgressLine& progress)
{
    if (path.empty() || writer.open(path, format))
        return true;
    progress.finish();
    std::fprintf(stderr, "spuhost: cannot write '%s'\n", path.c_str());
    return false;
}

// The log once with every source the mask leaves, into the WAV and raw files asked for.
int replayMix(const std::string& pluginPath, const std::string& logPath, LogFile& log,
              const LogFile::Summary& summary, const VoiceMask& mask, const std::string& wavPath,
              const std::string& rawPath)
{
    ProgressLine progress(stderr, "spuhost replay");
    FrameWriter wav, raw;
    if (!openOutput(wav, wavPath, FrameWriter::Wav, progress) ||
        !openOutput(raw, rawPath, FrameWriter::Raw, progress))
        return 1;
    bool sounded = false;
    int status = replayOnce(pluginPath, logPath, log, summary, mask, wavPath.empty() ? nullptr : &wav,
                            rawPath.empty() ? nullptr : &raw, progress, 0, log.duration(), sounded);
    progress.finish();
    closeOutput(wav, wavPath, progress, status);
    closeOutput(raw, rawPath, progress, status);
    return status;
}

// The log once a source that can sound, each time with only that source audible; see
// Stems. One progress line counts the frames of them all.
int replayStems(const std::string& pluginPath, const std::string& logPath, LogFile& log,
                const LogFile::Summary& summary, const std::string& dir)
{
    VoiceTraffic traffic;
    if (!readLogTraffic(log, traffic))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }
    if (!Stems::makeFolder(dir, "replay"))
        return 1;
    std::vector<int> sources;
    for (int source = 0; source <= VoiceMask::Cd; ++source)
        if (Stems::canSound(traffic, source))
            sources.push_back(source);
    ProgressLine progress(stderr, "spuhost replay --stems");
    const uint64_t total = sources.size() * uint64_t(log.duration());
    for (size_t done = 0; done < sources.size(); ++done)
    {
        const int source = sources[done];
        const std::string path = dir + "/" + Stems::fileName(source);
        FrameWriter wav;
        if (!openOutput(wav, path, FrameWriter::Wav, progress))
            return 1;
        bool sounded = false;
        int status = replayOnce(pluginPath, logPath, log, summary, VoiceMask::only(source), &wav, nullptr,
                                progress, done * uint64_t(log.duration()), total, sounded);
        closeOutput(wav, path, progress, status);
        if (status != 0)
            return status;
        if (!sounded)
            std::remove(path.c_str());
    }
    progress.finish();
    return 0;
}

int runReplay(const std::vector<std::string>& args)
{
    std::string wavPath, rawPath, stemsDir;
    VoiceMask mask;
    bool ok = args.size() >= 4;
    for (size_t i = 2; ok && i < args.size(); ++i)
    {
        if (args[i] == "--wav" && i + 1 < args.size())
            wavPath = args[++i];
        else if (args[i] == "--out" && i + 1 < args.size())
            rawPath = args[++i];
        else if (args[i] == "--stems" && i + 1 < args.size())
            stemsDir = args[++i];
        else if (const int taken = mask.takeOption(args, i, "replay"))
            ok = taken > 0;
        else
            ok = false;
    }
    if (!ok || (wavPath.empty() && rawPath.empty() && stemsDir.empty()))
        return usage();
    const std::string& logPath = args[1];

    LogFile log;
    if (!log.open(logPath))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }
    // The 32-bit sizes of a WAV header would wrap: refused before anything is rendered.
    if ((!wavPath.empty() || !stemsDir.empty()) && log.duration() > FrameWriter::MaxWavFrames)
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

    if (!wavPath.empty() || !rawPath.empty())
    {
        const int status = replayMix(args[0], logPath, log, summary, mask, wavPath, rawPath);
        if (status != 0 || stemsDir.empty())
            return status;
    }
    return replayStems(args[0], logPath, log, summary, stemsDir);
}

const SpuhostCommand
    command("replay",
            "PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw] [--stems DIR] [--mute LIST] [--solo LIST]",
            runReplay);
} // namespace
