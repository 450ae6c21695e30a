// spuhost replay: plays an event log ("spulog.spu") back through a plugin (see
// Replay) into a WAV file, a raw file or both. The whole log is checked before
// anything is written.

#include "spuhost/Command.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/Replay.h"

#include <cstdio>

namespace
{
int usage()
{
    std::fprintf(stderr, "usage: spuhost replay PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw]"
                         " (one or both)\n");
    return 2;
}

int runReplay(const std::vector<std::string>& args)
{
    std::string wavPath, rawPath;
    bool ok = args.size() >= 4;
    for (size_t i = 2; ok && i < args.size(); ++i)
    {
        if (args[i] == "--wav" && i + 1 < args.size())
            wavPath = args[++i];
        else if (args[i] == "--out" && i + 1 < args.size())
            rawPath = args[++i];
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
    if (!plugin.load(args[0]))
    {
        std::fprintf(stderr, "spuhost: %s: %s\n", args[0].c_str(), plugin.error().c_str());
        return 1;
    }
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
    const Replay::Result result = replay.run();

    int status = 0;
    if (result == Replay::BadEntry)
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), replay.error().c_str());
        status = 1;
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

const SpuhostCommand command("replay", "PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw]", runReplay);
} // namespace
