// Script commands for CD audio and save states:
//
//   xa PATH RATE CHANNELS               the file's S16LE samples (RATE Hz decimal,
//   xa PATH --rate R --stereo|--mono    CHANNELS 1 or 2) as XA records of 2016 stereo
//                                       or 4032 mono frames through SPUplayADPCMchannel
//   cdda PATH                           the file's 44100 Hz S16LE stereo samples in
//                                       2352-byte chunks through SPUplayCDDAchannel
//   freeze save FILE | load FILE | size SPUfreeze modes 1, 0 and 2; "size" prints
//                                       "freeze size N" on standard output
//
// Like a CD drive delivering in real time, xa and cdda render each chunk's playing
// time (at 44100 Hz) through SPUrender after queuing it, appended to the output file.

#include "spuhost/Script.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace
{
bool readSamples(ScriptRunner& runner, const std::string& path, std::vector<short>& samples)
{
    std::ifstream in(runner.resolvePath(path), std::ios::binary);
    if (!in)
        return runner.fail("cannot read '" + runner.resolvePath(path) + "'");
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<short>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return true;
}

// Renders the playing time of sourceFrames at rate, carrying the fraction over.
bool renderPlayingTime(ScriptRunner& runner, unsigned long sourceFrames, unsigned long rate,
                       unsigned long long& owed)
{
    Plugin& plugin = runner.getPlugin();
    if (plugin.SPUrender == nullptr)
        return runner.fail("the plugin has no SPUrender");
    owed += static_cast<unsigned long long>(sourceFrames) * 44100;
    std::vector<short> buffer(2 * 4096);
    while (owed >= rate)
    {
        unsigned long long frames = owed / rate;
        if (frames > 4096)
            frames = 4096;
        plugin.SPUrender(buffer.data(), static_cast<unsigned long>(frames * 4));
        runner.writeOutput(buffer.data(), static_cast<size_t>(frames));
        owed -= frames * rate;
    }
    return true;
}

bool playXa(ScriptRunner& runner, const ScriptRunner::Words& w)
{
    unsigned long long rate = 0, channels = 0;
    bool parsed = false;
    if (w.size() == 4)
        parsed =
            ScriptRunner::parseNumber(w[2], true, rate) && ScriptRunner::parseNumber(w[3], true, channels);
    else if (w.size() == 5 && w[2] == "--rate" && (w[4] == "--stereo" || w[4] == "--mono"))
    {
        parsed = ScriptRunner::parseNumber(w[3], true, rate);
        channels = w[4] == "--stereo" ? 2 : 1;
    }
    if (!parsed || rate == 0 || rate > 0x7FFFFFFF || (channels != 1 && channels != 2))
        return runner.fail("expected 'xa PATH RATE CHANNELS' or 'xa PATH --rate R --stereo|--mono' "
                           "with a decimal rate and 1 or 2 channels");
    Plugin& plugin = runner.getPlugin();
    if (plugin.SPUplayADPCMchannel == nullptr)
        return runner.fail("the plugin has no SPUplayADPCMchannel");
    std::vector<short> samples;
    if (!readSamples(runner, w[1], samples))
        return false;

    const size_t chunkFrames = channels == 2 ? 2016 : 4032;
    const size_t totalFrames = samples.size() / channels;
    unsigned long long owed = 0;
    xa_decode_t record;
    for (size_t first = 0; first < totalFrames; first += chunkFrames)
    {
        const size_t frames = totalFrames - first < chunkFrames ? totalFrames - first : chunkFrames;
        std::memset(&record, 0, sizeof(record));
        record.freq = static_cast<int32_t>(rate);
        record.nbits = 4;
        record.stereo = channels == 2 ? 1 : 0;
        record.nsamples = static_cast<int32_t>(frames);
        std::memcpy(record.pcm, samples.data() + first * channels, frames * channels * sizeof(short));
        plugin.SPUplayADPCMchannel(&record);
        if (!renderPlayingTime(runner, static_cast<unsigned long>(frames), static_cast<unsigned long>(rate),
                               owed))
            return false;
    }
    return true;
}

bool playCdda(ScriptRunner& runner, const ScriptRunner::Words& w)
{
    if (w.size() != 2)
        return runner.fail("expected 'cdda PATH'");
    Plugin& plugin = runner.getPlugin();
    if (plugin.SPUplayCDDAchannel == nullptr)
        return runner.fail("the plugin has no SPUplayCDDAchannel");
    std::vector<short> samples;
    if (!readSamples(runner, w[1], samples))
        return false;
    const size_t chunkEntries = 2352 / 2;
    unsigned long long owed = 0;
    for (size_t first = 0; first + 1 < samples.size(); first += chunkEntries)
    {
        size_t entries = samples.size() - first < chunkEntries ? samples.size() - first : chunkEntries;
        entries &= ~static_cast<size_t>(1);
        plugin.SPUplayCDDAchannel(samples.data() + first, static_cast<int>(entries * 2));
        if (!renderPlayingTime(runner, static_cast<unsigned long>(entries / 2), 44100, owed))
            return false;
    }
    return true;
}

bool freeze(ScriptRunner& runner, const ScriptRunner::Words& w)
{
    Plugin& plugin = runner.getPlugin();
    if (plugin.SPUfreeze == nullptr)
        return runner.fail("the plugin has no SPUfreeze");
    const bool sizeQuery = w.size() == 2 && w[1] == "size";
    if (!sizeQuery && (w.size() != 3 || (w[1] != "save" && w[1] != "load")))
        return runner.fail("expected 'freeze save FILE', 'freeze load FILE' or 'freeze size'");
    // A save state of a stand-in would overwrite the real one.
    if (runner.isTrafficOnly())
        return true;
    // Half a megabyte: on the heap, zeroed.
    const std::unique_ptr<SPUFreeze_t> record(new SPUFreeze_t());
    char* const bytes = reinterpret_cast<char*>(record.get());
    if (sizeQuery)
    {
        plugin.SPUfreeze(FreezeSizeQuery, record.get());
        std::printf("freeze size %lu\n", static_cast<unsigned long>(record->size));
        return true;
    }
    const std::string path = runner.resolvePath(w[2]);
    if (w[1] == "save")
    {
        plugin.SPUfreeze(FreezeSave, record.get());
        std::ofstream out(path, std::ios::binary);
        out.write(bytes, static_cast<std::streamsize>(sizeof(SPUFreeze_t)));
        if (!out)
            return runner.fail("cannot write '" + path + "'");
        return true;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return runner.fail("cannot read '" + path + "'");
    in.read(bytes, static_cast<std::streamsize>(sizeof(SPUFreeze_t)));
    if (static_cast<size_t>(in.gcount()) != sizeof(SPUFreeze_t))
        return runner.fail("'" + path + "' holds " + std::to_string(in.gcount()) + " bytes, a save state " +
                           std::to_string(sizeof(SPUFreeze_t)));
    plugin.SPUfreeze(FreezeLoad, record.get());
    return true;
}

void install(ScriptRunner& runner)
{
    runner.addCommand("xa", [&runner](const ScriptRunner::Words& w) { return playXa(runner, w); });
    runner.addCommand("cdda", [&runner](const ScriptRunner::Words& w) { return playCdda(runner, w); });
    runner.addCommand("freeze", [&runner](const ScriptRunner::Words& w) { return freeze(runner, w); });
}

const ScriptRunner::Extension extension(install);
} // namespace
