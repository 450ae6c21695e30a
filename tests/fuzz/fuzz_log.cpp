// Event logs ("spulog.spu") through spuhost's reader and replay, with the plugin
// linked in: the input is a log without its sound-RAM snapshot (its first 0x80000
// bytes, which the reader does not parse and which is supplied here as silence),
// so it starts with the register image and the duration. Every log is read and
// checked; one that passes and lasts at most MaxReplayFrames is replayed.

#include "audio/CriticalSection.h"
#include "fuzz/PluginHost.h"
#include "fuzz/Watchdog.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/Replay.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace
{
// Longer logs cost seconds under the sanitizers; they are read and checked all the
// same, and their replay is the same code.
const uint32_t MaxReplayFrames = 4096;

Plugin plugin;
std::vector<unsigned char> file;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::startPlugin();
    fuzz::silencePluginOutput();
    fuzz::linkExports(plugin);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::watched([data, size] {
        file.assign(LogFile::SoundRamSize, 0);
        file.insert(file.end(), data, data + size);
        LogFile log;
        if (!log.open(fmemopen(file.data(), file.size(), "rb")))
            return;
        LogFile::Summary summary;
        if (!log.check(summary) || log.duration() > MaxReplayFrames)
            return;
        // The replay brackets its work with SPUinit and SPUshutdown, which make and
        // destroy the critical section.
        initCS();
        fuzz::resetPlugin(fuzz::Settings());
        Replay replay(plugin, log);
        const Replay::Result result = replay.run();
        if (result != Replay::Completed)
            fuzz::fail("a log that its check passed did not replay: " + replay.error());
        if (replay.framesRendered() != log.duration())
            fuzz::fail("the replay did not render up to the duration");
    });
    return 0;
}
