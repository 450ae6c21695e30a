#include "spuhost/Command.h"
#include "spuhost/Plugin.h"
#include "spuhost/VoiceMask.h"
#include "spuhost/Script.h"
#include "spuhost/FrameWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace
{
const unsigned long FramesPerSecond = 44100;

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

// spuhost render PLUGIN.so (--demo | --script FILE) --wav OUT.wav [--seconds N]:
// runs the script through the plugin and writes what SPUrender renders as a WAV
// file. With --seconds the file is cut to N seconds, or the voices are rendered on
// (release tails) until N seconds are reached.
int runRender(const std::vector<std::string>& args)
{
    std::string script, wavPath;
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
    if (args.empty() || script.empty() || wavPath.empty())
    {
        std::fprintf(stderr,
                     "usage: spuhost render PLUGIN.so (--demo | --script FILE) --wav OUT.wav [--seconds N]\n"
                     "       [--mute LIST] [--solo LIST]\n");
        return 2;
    }

    Plugin plugin;
    if (!loadPlugin(plugin, args[0]))
        return 1;
    mask.install(plugin);
    if (plugin.SPUrender == nullptr)
    {
        std::fprintf(stderr, "spuhost render: %s has no SPUrender\n", args[0].c_str());
        return 1;
    }
    FrameWriter wav;
    unsigned long written = 0;
    if (!wav.open(wavPath, FrameWriter::Wav))
    {
        std::fprintf(stderr, "spuhost render: cannot write '%s'\n", wavPath.c_str());
        return 1;
    }
    const unsigned long limit = seconds < 0 ? ~0ul : static_cast<unsigned long>(seconds) * FramesPerSecond;
    ScriptRunner runner(plugin, script);
    runner.setFrameSink([&wav, &written, limit](const short* frames, size_t count) {
        const unsigned long take = std::min<unsigned long>(count, limit - written);
        wav.write(frames, take);
        written += take;
    });
    if (!runner.run())
        return 1;
    std::vector<short> buffer(2 * 4096);
    while (seconds >= 0 && written < limit)
    {
        const unsigned long chunk = std::min<unsigned long>(4096, limit - written);
        plugin.SPUrender(buffer.data(), chunk * 4);
        wav.write(buffer.data(), chunk);
        written += chunk;
    }
    if (!wav.close())
    {
        std::fprintf(stderr, "spuhost render: writing '%s' failed: %s\n", wavPath.c_str(),
                     wav.error().c_str());
        return 1;
    }
    std::printf("%s: %.2f s of 44100 Hz stereo from %s\n", wavPath.c_str(), written / 44100.0,
                script.c_str());
    return 0;
}

const SpuhostCommand
    command("render",
            "PLUGIN.so (--demo | --script FILE) --wav OUT.wav [--seconds N] [--mute LIST] [--solo LIST]",
            runRender);
} // namespace
