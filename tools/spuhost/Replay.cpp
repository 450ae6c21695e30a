#include "spuhost/Replay.h"

#include "spuhost/FrameWriter.h"

#include <algorithm>
#include <cstring>

// Records and transfers are copied out of the log byte for byte: its little-endian
// layout is this host's.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the log's words are little-endian");

Replay::Replay(Plugin& loaded, LogFile& opened)
    : plugin(loaded), log(opened), frames(2 * ChunkFrames), words(1), xa(new xa_decode_t())
{
}

Replay::~Replay() {}

const char* Replay::missingExport(const Plugin& p, const LogFile::Summary& summary)
{
    return p.SPUinit == nullptr                                     ? "SPUinit"
           : p.SPUshutdown == nullptr                               ? "SPUshutdown"
           : p.SPUwriteRegister == nullptr                          ? "SPUwriteRegister"
           : p.SPUreadRegister == nullptr                           ? "SPUreadRegister"
           : p.SPUwriteDMAMem == nullptr                            ? "SPUwriteDMAMem"
           : p.SPUreadDMAMem == nullptr                             ? "SPUreadDMAMem"
           : p.SPUrender == nullptr                                 ? "SPUrender"
           : p.SPUfreeze == nullptr                                 ? "SPUfreeze"
           : summary.needsXA() && p.SPUplayADPCMchannel == nullptr  ? "SPUplayADPCMchannel"
           : summary.needsCDDA() && p.SPUplayCDDAchannel == nullptr ? "SPUplayCDDAchannel"
                                                                    : nullptr;
}

void Replay::setOutputs(FrameWriter* wavFile, FrameWriter* rawFile)
{
    wav = wavFile;
    raw = rawFile;
}

void Replay::setStopFlag(const volatile sig_atomic_t* flag)
{
    stopFlag = flag;
}

void Replay::setProgress(const Progress& report)
{
    progress = report;
}

void Replay::setFrameSink(const FrameSink& sink)
{
    frameSink = sink;
}

Replay::Result Replay::run()
{
    now = 0;
    plugin.SPUinit();
    loadSnapshot();
    const Result result = play();
    plugin.SPUshutdown();
    return result;
}

void Replay::loadSnapshot()
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

Replay::Result Replay::play()
{
    LogFile::Entry entry;
    LogFile::Result read;
    while ((read = log.next(entry)) == LogFile::Ok)
    {
        const Result reached = renderUntil(entry.time);
        if (reached != Completed)
            return reached;
        // Also here: a log of many entries at one time stamp renders nothing between them.
        if (stopRequested())
            return Interrupted;
        apply(entry);
    }
    if (read == LogFile::Bad) // the file changed since it was checked
        return BadEntry;
    return renderUntil(log.duration());
}

Replay::Result Replay::renderUntil(uint32_t time)
{
    while (now < time)
    {
        if (stopRequested())
            return Interrupted;
        const unsigned long count = std::min<unsigned long>(time - now, ChunkFrames);
        plugin.SPUrender(frames.data(), count * 4);
        if ((wav != nullptr && !wav->write(frames.data(), count)) ||
            (raw != nullptr && !raw->write(frames.data(), count)))
            return OutputFailed;
        if (frameSink)
            frameSink(frames.data(), count);
        now += static_cast<uint32_t>(count);
        if (progress)
            progress(now, log.duration());
    }
    return Completed;
}

void Replay::apply(const LogFile::Entry& entry)
{
    // The reader bounds every count: transfers to sound RAM's size, data to the file.
    const size_t count = entry.count > 0 ? static_cast<size_t>(entry.count) : 0;
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
        words.resize(std::max<size_t>(count, 1));
        if (count > 0)
            std::memcpy(words.data(), entry.payload.data(), 2 * count);
        plugin.SPUwriteDMAMem(words.data(), entry.count);
        break;
    case LogFile::DMAread:
        words.resize(std::max<size_t>(count, 1)); // the words read are dropped
        plugin.SPUreadDMAMem(words.data(), entry.count);
        break;
    case LogFile::XAplay:
        std::memcpy(xa.get(), entry.payload.data(), sizeof(xa_decode_t));
        plugin.SPUplayADPCMchannel(xa.get());
        break;
    case LogFile::CDDAplay:
        cdda.assign(count / 2 + 1, 0); // whole samples, at least one
        if (count > 0)
            std::memcpy(cdda.data(), entry.payload.data(), count);
        plugin.SPUplayCDDAchannel(cdda.data(), entry.count);
        break;
    }
}
