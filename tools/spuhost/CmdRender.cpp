#include "spuhost/Command.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/Plugin.h"
#include "spuhost/ProgressLine.h"
#include "spuhost/Script.h"
#include "spuhost/Stems.h"
#include "spuhost/TrafficSource.h"
#include "spuhost/VoiceMask.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const unsigned long FramesPerSecond = 44100;

// What a render wrote: its frames, and whether any sample was not 0.
struct Rendered
{
    unsigned long frames = 0;
    bool sounded = false;
};

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The project's demo tune: ./demo/demo.script when run from a source tree,
// otherwise the one in the source tree this tool was built from.
std::string demoScript()
{
    if (exists("demo/demo.script"))
        return "demo/demo.script";
    return std::string(SPUHOST_DEMO_DIR) + "/demo.script";
}

// Runs the script through the plugin with the mask's sources silenced and writes what
// SPUrender renders into wavPath, cut or extended to `seconds` when that is not
// negative. On a terminal the frames written of `frames` are shown as they go.
// Returns the exit status.
int renderOnce(const std::string& pluginPath, const std::string& script, const VoiceMask& mask,
               const std::string& wavPath, long seconds, unsigned long frames, Rendered& rendered)
{
    Plugin plugin;
    if (!loadPlugin(plugin, pluginPath))
        return 1;
    mask.install(plugin);
    if (plugin.SPUrender == nullptr)
    {
        std::fprintf(stderr, "spuhost render: %s has no SPUrender\n", pluginPath.c_str());
        return 1;
    }
    FrameWriter wav;
    unsigned long& written = rendered.frames;
    bool& sounded = rendered.sounded;
    if (!wav.open(wavPath, FrameWriter::Wav))
    {
        std::fprintf(stderr, "spuhost render: cannot write '%s'\n", wavPath.c_str());
        return 1;
    }
    rendered = Rendered();
    ProgressLine progress(stderr, "spuhost render: " + wavPath);
    const bool terminal = isatty(STDERR_FILENO) != 0;
    const auto write = [&](const short* samples, unsigned long count) {
        wav.write(samples, count);
        written += count;
        sounded = sounded || Stems::sounds(samples, count);
        if (terminal)
            progress.update(written, frames);
    };
    const unsigned long limit = seconds < 0 ? ~0ul : static_cast<unsigned long>(seconds) * FramesPerSecond;
    ScriptRunner runner(plugin, script);
    runner.setFrameSink([&write, &written, limit](const short* block, size_t count) {
        write(block, std::min<unsigned long>(count, limit - written));
    });
    if (!runner.run())
    {
        progress.finish();
        return 1;
    }
    std::vector<short> buffer(2 * 4096);
    while (seconds >= 0 && written < limit)
    {
        const unsigned long chunk = std::min<unsigned long>(4096, limit - written);
        plugin.SPUrender(buffer.data(), chunk * 4);
        write(buffer.data(), chunk);
    }
    progress.finish();
    if (!wav.close())
    {
        std::fprintf(stderr, "spuhost render: writing '%s' failed: %s\n", wavPath.c_str(),
                     wav.error().c_str());
        return 1;
    }
    return 0;
}

void announce(const std::string& wavPath, const Rendered& rendered, const std::string& script)
{
    std::printf("%s: %.2f s of 44100 Hz stereo from %s\n", wavPath.c_str(), rendered.frames / 44100.0,
                script.c_str());
}

// The mix, when wavPath is given, then a stem a source into stemsDir, when that is:
// see Stems.
int renderAll(const std::string& pluginPath, const std::string& script, const VoiceMask& mask,
              const std::string& wavPath, const std::string& stemsDir, long seconds)
{
    // The script is read once without a plugin first: a broken one writes no file, and
    // its traffic tells the frames to render and the sources that can sound.
    VoiceTraffic traffic;
    if (!readScriptTraffic(script, traffic))
        return 1;
    const unsigned long frames =
        seconds >= 0 ? static_cast<unsigned long>(seconds) * FramesPerSecond : traffic.duration();
    Rendered rendered;
    if (!wavPath.empty())
    {
        const int status = renderOnce(pluginPath, script, mask, wavPath, seconds, frames, rendered);
        if (status != 0)
            return status;
        announce(wavPath, rendered, script);
        if (stemsDir.empty())
            return 0;
    }
    if (!Stems::makeFolder(stemsDir, "render"))
        return 1;
    for (int source = 0; source <= VoiceMask::Cd; ++source)
    {
        if (!Stems::canSound(traffic, source))
            continue;
        const std::string path = stemsDir + "/" + Stems::fileName(source);
        const int status =
            renderOnce(pluginPath, script, VoiceMask::only(source), path, seconds, frames, rendered);
        if (status != 0)
            return status;
        if (rendered.sounded)
            announce(path, rendered, script);
        else
            std::remove(path.c_str());
    }
    return 0;
}

// spuhost render PLUGIN.so (--demo | --script FILE) --wav OUT.wav [--seconds N]:
// runs the script through the plugin and writes what SPUrender renders as a WAV
// file. With --seconds the file is cut to N seconds, or the voices are rendered on
// (release tails) until N seconds are reached.
int runRender(const std::vector<std::string>& args)
{
    std::string script, wavPath, stemsDir;
    VoiceMask mask;
    long seconds = -1;
    for (size_t i = 1; i < args.size(); ++i)
    {
        if (args[i] == "--demo")
            script = demoScript();
        else if (args[i] == "--script" && i + 1 < args.size())
            script = args[++i];
        else if (args[i] == "--wav" && i + 1 < args.size())
            wavPath = args[++i];
        else if (args[i] == "--stems" && i + 1 < args.size())
            stemsDir = args[++i];
        else if (args[i] == "--seconds" && i + 1 < args.size())
        {
            char* end = nullptr;
            seconds = std::strtol(args[++i].c_str(), &end, 10);
            if (end == args[i].c_str() || *end != '\0' || seconds < 0 || seconds > 86400)
            {
                std::fprintf(stderr, "spuhost render: --seconds wants a whole number of seconds (0-86400)\n");
                return 2;
            }
            // The 32-bit sizes of a WAV header would wrap past this.
            if (static_cast<uint64_t>(seconds) * FramesPerSecond > FrameWriter::MaxWavFrames)
            {
                std::fprintf(
                    stderr,
                    "spuhost render: --seconds %ld is longer than a WAV file holds (%llu frames, %llu s)\n",
                    seconds, static_cast<unsigned long long>(FrameWriter::MaxWavFrames),
                    static_cast<unsigned long long>(FrameWriter::MaxWavFrames / FramesPerSecond));
                return 2;
            }
        }
        else if (const int taken = mask.takeOption(args, i, "render"))
        {
            if (taken < 0)
                return 2;
        }
        else
        {
            std::fprintf(stderr, "spuhost render: unexpected argument '%s'\n", args[i].c_str());
            return 2;
        }
    }
    if (args.empty() || script.empty() || (wavPath.empty() && stemsDir.empty()))
    {
        std::fprintf(stderr, "usage: spuhost render PLUGIN.so (--demo | --script FILE) [--wav OUT.wav]"
                             " [--stems DIR] [--seconds N]\n"
                             "       [--mute LIST] [--solo LIST]\n");
        return 2;
    }

    return renderAll(args[0], script, mask, wavPath, stemsDir, seconds);
}

const SpuhostCommand
    command("render",
            "PLUGIN.so (--demo | --script FILE) [--wav OUT.wav] [--stems DIR] [--seconds N] [--mute LIST]"
            " [--solo LIST]",
            runRender);
} // namespace
