#pragma once

#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class FrameWriter;

// Plays an event log back through a plugin, as the emulator that recorded it drove
// the plugin: SPUinit; the snapshot at the head of the log becomes a save state
// loaded with SPUfreeze; every entry goes to the export that logged it at its time
// stamp, with the frames in between rendered by SPUrender; then the frames up to
// the recorded duration; SPUshutdown. No SPUopen: the plugin's own output would
// render concurrently with SPUrender.
//
// Rendered frames go to the WAV and raw writers given, or nowhere when both are
// null. The plugin needs only its function pointers set (load() or filled in by
// hand), and the log only to be open: check() it first, so that a broken log is
// refused before anything is played. One Replay, one run(); nothing here is static.
class Replay
{
public:
    enum Result
    {
        Completed,    // rendered up to the duration
        Interrupted,  // the stop flag was set
        BadEntry,     // an entry broke the format (error() tells where)
        OutputFailed, // a writer refused frames (its error() tells why)
    };

    // Called after every rendered chunk with the frames done and the duration.
    typedef std::function<void(uint32_t done, uint32_t total)> Progress;
    // Also given every rendered chunk (interleaved stereo, `count` frames).
    typedef std::function<void(const short* frames, unsigned long count)> FrameSink;

    static constexpr unsigned long ChunkFrames = 4096;

    Replay(Plugin& plugin, LogFile& log);
    ~Replay();

    // The export that replaying a log of these entries needs and the plugin lacks,
    // or null when it has them all.
    static const char* missingExport(const Plugin& plugin, const LogFile::Summary& summary);

    void setOutputs(FrameWriter* wav, FrameWriter* raw);
    // Checked between chunks and between entries; a set flag ends the run early.
    void setStopFlag(const volatile sig_atomic_t* flag);
    void setProgress(const Progress& progress);
    void setFrameSink(const FrameSink& sink);

    // Needs every export missingExport() asks for.
    Result run();

    uint32_t framesRendered() const { return now; }
    // The log's error, with its offset, after BadEntry.
    const std::string& error() const { return log.error(); }

private:
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    void loadSnapshot();
    Result play();
    Result renderUntil(uint32_t time);
    void apply(const LogFile::Entry& entry);
    bool stopRequested() const { return stopFlag != nullptr && *stopFlag != 0; }

    Plugin& plugin;
    LogFile& log;
    FrameWriter* wav = nullptr;
    FrameWriter* raw = nullptr;
    const volatile sig_atomic_t* stopFlag = nullptr;
    Progress progress;
    FrameSink frameSink;
    uint32_t now = 0;
    std::vector<short> frames;
    std::vector<unsigned short> words; // DMA transfers
    std::vector<short> cdda;
    std::unique_ptr<xa_decode_t> xa;
};
