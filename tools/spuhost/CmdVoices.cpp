// spuhost voices FILE: what each voice of a script or an event log does, read from
// its register traffic alone; with --png, a picture of the voices over time, their
// bars shaded by the envelope levels a plugin renders.

#include "spuhost/Command.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/ProgressLine.h"
#include "spuhost/Replay.h"
#include "spuhost/Script.h"
#include "spuhost/TrafficSource.h"
#include "spuhost/VoiceLevels.h"
#include "spuhost/VoicePicture.h"
#include "spuhost/VoiceTraffic.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Sample start addresses listed a voice; more are counted.
const size_t ListedAddresses = 4;

int usage()
{
    std::fprintf(stderr, "usage: spuhost voices (SCRIPT | spulog.spu) [--png OUT.png] [--width PIXELS]"
                         " [--plugin PLUGIN.so]\n");
    return 2;
}

// The plugin built beside this tool, which draws the envelope levels when no other
// is named; empty when there is none.
std::string pluginBesideTool()
{
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return std::string();
    const std::string exe(self, static_cast<size_t>(length));
    const std::string path = exe.substr(0, exe.rfind('/') + 1) + "libspuTalvane.so";
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? path : std::string();
}

std::string addresses(const VoiceTraffic::Voice& voice)
{
    std::string text;
    for (size_t i = 0; i < voice.startAddresses.size() && i < ListedAddresses; ++i)
    {
        char one[16];
        std::snprintf(one, sizeof(one), "%s0x%05X", i == 0 ? "" : " ", voice.startAddresses[i]);
        text += one;
    }
    if (voice.startAddresses.size() > ListedAddresses)
        text += " and " + std::to_string(voice.startAddresses.size() - ListedAddresses) + " more";
    return text;
}

void printTable(const std::string& path, const VoiceTraffic& traffic, bool isLog)
{
    int used = 0;
    for (int v = 0; v < VoiceTraffic::Voices; ++v)
        used += traffic.voice(v).keyOns() > 0;
    std::printf("%s: %.3f s, %d of %d voices keyed on\n", path.c_str(),
                VoiceTraffic::seconds(traffic.duration()), used, VoiceTraffic::Voices);
    // The recording window's event options may have left them out.
    if (isLog && traffic.writes() == 0)
        std::printf("The log holds no register writes: record with \"REG write\" ticked in the"
                    " \"Recording Option\" window to see what the voices do.\n");
    if (used > 0)
        std::printf("%5s %7s %10s %10s %-17s %-5s %-3s %-6s %s\n", "voice", "key-ons", "first on", "last off",
                    "sample rate Hz", "noise", "FM", "reverb", "samples at");
    for (int v = 0; v < VoiceTraffic::Voices; ++v)
    {
        const VoiceTraffic::Voice& voice = traffic.voice(v);
        if (voice.keyOns() == 0)
            continue;
        char rate[40];
        if (voice.lowestPitch == voice.highestPitch)
            std::snprintf(rate, sizeof(rate), "%.0f", VoiceTraffic::pitchHz(voice.lowestPitch));
        else
            std::snprintf(rate, sizeof(rate), "%.0f-%.0f", VoiceTraffic::pitchHz(voice.lowestPitch),
                          VoiceTraffic::pitchHz(voice.highestPitch));
        std::printf("%5d %7u %8.3f s %8.3f s %-17s %-5s %-3s %-6s %s%s\n", v, voice.keyOns(),
                    VoiceTraffic::seconds(voice.spans.front().on),
                    VoiceTraffic::seconds(voice.spans.back().off), rate, voice.noise ? "yes" : "-",
                    voice.modulated ? "yes" : "-", voice.reverb ? "yes" : "-", addresses(voice).c_str(),
                    voice.heard ? "" : " (volume 0 throughout)");
    }
    if (traffic.cdInputs() > 0)
        std::printf("CD input: %lu blocks of XA or CD-DA audio from %.3f s to %.3f s\n", traffic.cdInputs(),
                    VoiceTraffic::seconds(traffic.firstCdInput()),
                    VoiceTraffic::seconds(traffic.lastCdInput()));
}

// Renders the script at path, or the log when one is given (open and checked, with
// its summary), through the plugin to read every voice's envelope level. Returns the
// exit status.
int renderLevels(const std::string& pluginPath, const std::string& path, LogFile* log,
                 const LogFile::Summary& summary, VoiceLevels& levels)
{
    Plugin plugin;
    if (!loadPlugin(plugin, pluginPath))
        return 1;
    if (plugin.SPUrender == nullptr || plugin.SPUreadRegister == nullptr)
    {
        std::fprintf(stderr, "spuhost voices: %s has no SPUrender or SPUreadRegister\n", pluginPath.c_str());
        return 1;
    }
    levels.install(plugin);
    ProgressLine progress(stderr, "spuhost voices: rendering");
    const bool terminal = isatty(STDERR_FILENO) != 0;
    bool ok = true;
    if (log != nullptr)
    {
        if (const char* missing = Replay::missingExport(plugin, summary))
        {
            std::fprintf(stderr, "spuhost voices: the plugin has no %s\n", missing);
            return 1;
        }
        Replay replay(plugin, *log);
        if (terminal)
            replay.setProgress([&progress](uint32_t done, uint32_t total) { progress.update(done, total); });
        ok = replay.run() == Replay::Completed;
    }
    else
    {
        ScriptRunner runner(plugin, path);
        if (terminal)
            runner.setFrameSink([&progress, &levels](const short*, size_t) {
                progress.update(levels.framesRendered(), levels.durationFrames());
            });
        ok = runner.run();
    }
    progress.finish();
    if (!ok)
    {
        std::fprintf(stderr, "spuhost voices: rendering %s through %s failed\n", path.c_str(),
                     pluginPath.c_str());
        return 1;
    }
    return 0;
}

int runVoices(const std::vector<std::string>& args)
{
    std::string path, pngPath, pluginPath = pluginBesideTool();
    long width = VoicePicture::DefaultWidth;
    for (size_t i = 0; i < args.size(); ++i)
    {
        if (args[i] == "--png" && i + 1 < args.size())
            pngPath = args[++i];
        else if (args[i] == "--plugin" && i + 1 < args.size())
            pluginPath = args[++i];
        else if (args[i] == "--width" && i + 1 < args.size())
        {
            char* end = nullptr;
            width = std::strtol(args[++i].c_str(), &end, 10);
            if (end == args[i].c_str() || *end != '\0' || width < VoicePicture::MinWidth ||
                width > VoicePicture::MaxWidth)
            {
                std::fprintf(stderr, "spuhost voices: --width wants a whole number of pixels (%d-%d)\n",
                             VoicePicture::MinWidth, VoicePicture::MaxWidth);
                return 2;
            }
        }
        else if (path.empty() && args[i].compare(0, 2, "--") != 0)
            path = args[i];
        else
            return usage();
    }
    if (path.empty())
        return usage();

    const bool isLog = looksLikeEventLog(path);
    VoiceTraffic traffic;
    LogFile log;
    LogFile::Summary summary;
    if (isLog && (!log.open(path) || !log.check(summary) || !readLogTraffic(log, traffic)))
    {
        std::fprintf(stderr, "spuhost voices: %s: %s\n", path.c_str(), log.error().c_str());
        return 1;
    }
    if (!isLog && !readScriptTraffic(path, traffic))
        return 1;
    printTable(path, traffic, isLog);
    if (pngPath.empty())
        return 0;

    VoicePicture picture(static_cast<int>(width), VoiceTraffic::seconds(traffic.duration()));
    const int columns = VoicePicture::plotColumns(picture.width());
    VoiceLevels levels(traffic.duration(), columns);
    if (!pluginPath.empty())
    {
        const int status = renderLevels(pluginPath, path, isLog ? &log : nullptr, summary, levels);
        if (status != 0)
            return status;
    }
    const uint64_t duration = std::max<uint32_t>(traffic.duration(), 1);
    int lanes = 0;
    for (int v = 0; v < VoiceTraffic::Voices; ++v)
    {
        if (traffic.voice(v).keyOns() == 0)
            continue;
        ++lanes;
        if (!pluginPath.empty())
        {
            picture.addLane(v, levels.levels(v));
            continue;
        }
        // Nothing renders: full bars over the keyed spans.
        std::vector<uint16_t> keyed(static_cast<size_t>(columns), 0);
        for (const VoiceTraffic::Span& span : traffic.voice(v).spans)
            for (uint64_t c = span.on * uint64_t(columns) / duration;
                 c < keyed.size() && c * duration < span.off * uint64_t(columns); ++c)
                keyed[c] = VoicePicture::FullLevel;
        picture.addLane(v, keyed);
    }
    if (!picture.write(pngPath))
    {
        std::fprintf(stderr, "spuhost voices: %s\n", picture.error().c_str());
        return 1;
    }
    std::printf("%s: %d x %d pixels, %d lanes over %.3f s, ", pngPath.c_str(), picture.width(),
                picture.height(), lanes, VoiceTraffic::seconds(traffic.duration()));
    if (pluginPath.empty())
        std::printf("bars where the voices are keyed on (no plugin to render their envelopes)\n");
    else
        std::printf("shaded by the envelope levels %s renders\n", pluginPath.c_str());
    return 0;
}

const SpuhostCommand command("voices",
                             "(SCRIPT | spulog.spu) [--png OUT.png] [--width PIXELS] [--plugin PLUGIN.so]",
                             runVoices);
} // namespace
