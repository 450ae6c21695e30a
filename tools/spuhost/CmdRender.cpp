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

// Runs the script through the plugin with the mask's sources silenced and writes what
// SPUrender renders into wavPath, cut or extended to `seconds` when that is not
// negative. sounded tells whether any sample was not 0. Returns the exit status.
int renderOnce(const std::string& pluginPath, const std::string& script, const VoiceMask& mask,
               const std::string& wavPath, long seconds, bool& sounded)
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
    unsigned long written = 0;
    if (!wav.open(wavPath, FrameWriter::Wav))
    {
        std::fprintf(stderr, "spuhost render: cannot write '%s'\n", wavPath.c_str());
        return 1;
    }
    sounded = false;
    const auto write = [&wav, &written, &sounded](const short* frames, unsigned long count) {
        wav.write(frames, count);
        written += count;
        for (unsigned long i = 0; i < 2 * count && !sounded; ++i)
            sounded = frames[i] != 0;
    };
    const unsigned long limit = seconds < 0 ? ~0ul : static_cast<unsigned long>(seconds) * FramesPerSecond;
    ScriptRunner runner(plugin, script);
    runner.setFrameSink([&write, &written, limit](const short* frames, size_t count) {
        write(frames, std::min<unsigned long>(count, limit - written));
    });
    if (!runner.run())
        return 1;
    std::vector<short> buffer(2 * 4096);
    while (seconds >= 0 && written < limit)
    {
        const unsigned long chunk = std::min<unsigned long>(4096, limit - written);
        plugin.SPUrender(buffer.data(), chunk * 4);
        write(buffer.data(), chunk);
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

// One WAV file in dir for each source that sounds at all ("voice-07.wav", "cd.wav"):
// the whole script with only that source audible, its reverb share included. A
// source that stays silent leaves no file.
int renderStems(const std::string& pluginPath, const std::string& script, const std::string& dir,
                long seconds)
{
    if (mkdir(dir.c_str(), 0777) != 0 && !exists(dir))
    {
        std::fprintf(stderr, "spuhost render: cannot make the folder '%s'\n", dir.c_str());
        return 1;
    }
    for (int source = 0; source <= VoiceMask::Cd; ++source)
    {
        char name[32];
        if (source == VoiceMask::Cd)
            std::snprintf(name, sizeof(name), "cd.wav");
        else
            std::snprintf(name, sizeof(name), "voice-%02d.wav", source);
        const std::string path = dir + "/" + name;
        bool sounded = false;
        const int status = renderOnce(pluginPath, script, VoiceMask::only(source), path, seconds, sounded);
        if (status != 0)
            return status;
        if (!sounded)
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

    bool sounded = false;
    if (!wavPath.empty())
    {
        const int status = renderOnce(args[0], script, mask, wavPath, seconds, sounded);
        if (status != 0 || stemsDir.empty())
            return status;
    }
    return renderStems(args[0], script, stemsDir, seconds);
}

const SpuhostCommand
    command("render",
            "PLUGIN.so (--demo | --script FILE) [--wav OUT.wav] [--stems DIR] [--seconds N] [--mute LIST]"
            " [--solo LIST]",
            runRender);
} // namespace
