// spuhost replay: plays an event log ("spulog.spu") back through a plugin. The
// snapshot at the head of the log becomes a save-state record loaded with SPUfreeze;
// every entry is then handed to the export that logged it, at its time stamp, with
// the frames in between rendered by SPUrender, up to the recorded duration.

#include "spuhost/Command.h"
#include "spuhost/FrameWriter.h"
#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
const unsigned long RenderChunkFrames = 4096;
const int DMAReadChunkWords = 0x40000;

class Replay
{
public:
    Replay(Plugin& loaded, FrameWriter* wavFile, FrameWriter* rawFile)
        : plugin(loaded), wav(wavFile), raw(rawFile)
    {
    }

    // The log's words are little-endian, as are this host's.
    void loadSnapshot(const LogFile& log)
    {
        // Half a megabyte: on the heap, zeroed, so the XA part holds nothing to play.
        const std::unique_ptr<SPUFreeze_t> record(new SPUFreeze_t());
        std::memcpy(record->name, "DIRIR", 6);
        record->version = 1;
        record->size = sizeof(SPUFreeze_t);
        std::memcpy(record->spuRegister, log.registerImage().data(), sizeof(record->spuRegister));
        std::memcpy(record->soundBuffer, log.soundRam().data(), sizeof(record->soundBuffer));
        plugin.SPUfreeze(FreezeLoad, record.get());
    }

    void renderUntil(uint32_t time)
    {
        while (now < time)
        {
            const unsigned long frames = time - now < RenderChunkFrames ? time - now : RenderChunkFrames;
            plugin.SPUrender(buffer.data(), frames * 4);
            if (wav != nullptr)
                wav->write(buffer.data(), frames);
            if (raw != nullptr)
                raw->write(buffer.data(), frames);
            now += static_cast<uint32_t>(frames);
        }
    }

    void apply(LogFile::Entry& entry)
    {
        switch (entry.type)
        {
        case LogFile::REGwrite:
            plugin.SPUwriteRegister(entry.address, entry.value);
            break;
        case LogFile::REGread:
            plugin.SPUreadRegister(entry.address);
            break;
        case LogFile::DMAwrite:
            // The log does not tell SPUwriteDMA from SPUwriteDMAMem; the block
            // transfer stands for both.
            plugin.SPUwriteDMAMem(reinterpret_cast<unsigned short*>(entry.payload.data()), entry.count);
            break;
        case LogFile::DMAread:
            readDMA(entry.count);
            break;
        case LogFile::XAplay:
            std::memcpy(&xa, entry.payload.data(), sizeof(xa));
            plugin.SPUplayADPCMchannel(&xa);
            break;
        case LogFile::CDDAplay:
            plugin.SPUplayCDDAchannel(reinterpret_cast<short*>(entry.payload.data()), entry.count);
            break;
        }
    }

private:
    // The words read are thrown away; reading in pieces keeps a huge logged count
    // from asking for gigabytes while leaving the SPU in the same state.
    void readDMA(int32_t count)
    {
        if (count == 0)
        {
            plugin.SPUreadDMAMem(dmaBuffer.data(), 0);
            return;
        }
        dmaBuffer.resize(count < DMAReadChunkWords ? count : DMAReadChunkWords);
        while (count > 0)
        {
            const int words = count < DMAReadChunkWords ? count : DMAReadChunkWords;
            plugin.SPUreadDMAMem(dmaBuffer.data(), words);
            count -= words;
        }
    }

    Plugin& plugin;
    FrameWriter* wav;
    FrameWriter* raw;
    uint32_t now = 0;
    std::vector<short> buffer = std::vector<short>(2 * RenderChunkFrames);
    std::vector<unsigned short> dmaBuffer = std::vector<unsigned short>(1);
    xa_decode_t xa = {};
};

// Reads the whole log once before anything is played or written, so that a broken
// log leaves no half-written output behind. Reports which exports it needs.
bool checkLog(const std::string& path, bool& hasXA, bool& hasCDDA, uint32_t& duration)
{
    LogFile log;
    if (!log.open(path))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", path.c_str(), log.error().c_str());
        return false;
    }
    duration = log.duration();
    LogFile::Entry entry;
    LogFile::Result result;
    while ((result = log.next(entry)) == LogFile::Ok)
    {
        hasXA = hasXA || entry.type == LogFile::XAplay;
        hasCDDA = hasCDDA || entry.type == LogFile::CDDAplay;
    }
    if (result == LogFile::Bad)
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", path.c_str(), log.error().c_str());
        return false;
    }
    return true;
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
    {
        std::fprintf(stderr, "usage: spuhost replay PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw]"
                             " (one or both)\n");
        return 2;
    }
    const std::string& logPath = args[1];
    bool hasXA = false, hasCDDA = false;
    uint32_t duration = 0;
    if (!checkLog(logPath, hasXA, hasCDDA, duration))
        return 1;
    // The 32-bit sizes of a WAV header would wrap: refused before anything is rendered.
    if (!wavPath.empty() && duration > FrameWriter::MaxWavFrames)
    {
        std::fprintf(stderr,
                     "spuhost replay: %s: %lu frames do not fit a WAV file, which holds at most %llu frames"
                     " (about 6 h 45 min); use --out for raw output\n",
                     logPath.c_str(), static_cast<unsigned long>(duration),
                     static_cast<unsigned long long>(FrameWriter::MaxWavFrames));
        return 1;
    }

    Plugin plugin;
    if (!plugin.load(args[0]))
    {
        std::fprintf(stderr, "spuhost: %s: %s\n", args[0].c_str(), plugin.error().c_str());
        return 1;
    }
    const char* missing = plugin.SPUrender == nullptr                       ? "SPUrender"
                          : plugin.SPUfreeze == nullptr                     ? "SPUfreeze"
                          : hasXA && plugin.SPUplayADPCMchannel == nullptr  ? "SPUplayADPCMchannel"
                          : hasCDDA && plugin.SPUplayCDDAchannel == nullptr ? "SPUplayCDDAchannel"
                                                                            : nullptr;
    if (missing != nullptr)
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

    LogFile log;
    if (!log.open(logPath))
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        return 1;
    }
    // No SPUopen: the plugin's own output would render concurrently with SPUrender.
    plugin.SPUinit();
    Replay replay(plugin, wavPath.empty() ? nullptr : &wav, rawPath.empty() ? nullptr : &raw);
    replay.loadSnapshot(log);
    LogFile::Entry entry;
    LogFile::Result result;
    while ((result = log.next(entry)) == LogFile::Ok)
    {
        replay.renderUntil(entry.time);
        replay.apply(entry);
    }
    int status = 0;
    if (result == LogFile::Bad) // the file changed since it was checked
    {
        std::fprintf(stderr, "spuhost replay: %s: %s\n", logPath.c_str(), log.error().c_str());
        status = 1;
    }
    else
        replay.renderUntil(log.duration());
    plugin.SPUshutdown();

    if (!wavPath.empty() && !wav.close())
    {
        std::fprintf(stderr, "spuhost: error writing '%s': %s\n", wavPath.c_str(), wav.error().c_str());
        status = 1;
    }
    if (!rawPath.empty() && !raw.close())
    {
        std::fprintf(stderr, "spuhost: error writing '%s': %s\n", rawPath.c_str(), raw.error().c_str());
        status = 1;
    }
    return status;
}

const SpuhostCommand command("replay", "PLUGIN.so spulog.spu [--wav OUT.wav] [--out OUT.raw]", runReplay);
} // namespace
