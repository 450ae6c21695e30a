#include "spuhost/TrafficSource.h"

#include "spuhost/LogFile.h"
#include "spuhost/Plugin.h"
#include "spuhost/Script.h"

#include <cstdio>
#include <cstring>

namespace
{
// The plugin's SPUasync renders a frame for this many CPU cycles.
const unsigned long CyclesPerFrame = 768;

// The stand-in's state: one script a process is read at a time.
VoiceTraffic* traffic = nullptr;
uint32_t now = 0;
unsigned long cyclesOwed = 0;

long none()
{
    return 0;
}
long openNone(...)
{
    return 0;
}
void writeRegister(unsigned long address, unsigned short value)
{
    traffic->write(now, address, value);
}
unsigned short readRegister(unsigned long)
{
    return 0;
}
void dmaMem(unsigned short*, int) {}
void async(unsigned long cycles)
{
    cyclesOwed += cycles;
    now += static_cast<uint32_t>(cyclesOwed / CyclesPerFrame);
    cyclesOwed %= CyclesPerFrame;
}
void render(short* frames, unsigned long bytes)
{
    std::memset(frames, 0, bytes);
    now += static_cast<uint32_t>(bytes / 4);
}
long freeze(unsigned long, SPUFreeze_t*)
{
    return 1;
}
void playXa(xa_decode_t*)
{
    traffic->cdInput(now);
}
void playCdda(short*, int)
{
    traffic->cdInput(now);
}
} // namespace

bool readScriptTraffic(const std::string& script, VoiceTraffic& into)
{
    Plugin standIn;
    standIn.SPUinit = standIn.SPUshutdown = standIn.SPUclose = none;
    standIn.SPUopen = openNone;
    standIn.SPUwriteRegister = writeRegister;
    standIn.SPUreadRegister = readRegister;
    standIn.SPUwriteDMAMem = standIn.SPUreadDMAMem = dmaMem;
    standIn.SPUasync = async;
    standIn.SPUrender = render;
    standIn.SPUfreeze = freeze;
    standIn.SPUplayADPCMchannel = playXa;
    standIn.SPUplayCDDAchannel = playCdda;
    traffic = &into;
    now = 0;
    cyclesOwed = 0;
    ScriptRunner runner(standIn, script);
    runner.setTrafficOnly(true);
    const bool ran = runner.run();
    into.finish(now);
    traffic = nullptr;
    return ran;
}

bool readLogTraffic(LogFile& log, VoiceTraffic& into)
{
    if (!log.rewind())
        return false;
    uint16_t registers[VoiceTraffic::RegisterCount];
    const std::vector<unsigned char>& image = log.registerImage();
    for (int i = 0; i < VoiceTraffic::RegisterCount; ++i)
        registers[i] = static_cast<uint16_t>(image[2 * i] | image[2 * i + 1] << 8);
    into = VoiceTraffic(registers);
    into.keyFromSnapshot(); // as the replay loads it

    LogFile::Entry entry;
    LogFile::Result read;
    while ((read = log.next(entry)) == LogFile::Ok)
    {
        if (entry.type == LogFile::REGwrite)
            into.write(entry.time, entry.address, entry.value);
        else if (entry.type == LogFile::XAplay || entry.type == LogFile::CDDAplay)
            into.cdInput(entry.time);
    }
    if (read == LogFile::Bad || !log.rewind())
        return false;
    into.finish(log.duration());
    return true;
}

bool looksLikeEventLog(const std::string& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    unsigned char head[4096];
    const size_t got = std::fread(head, 1, sizeof(head), file);
    std::fclose(file);
    return std::memchr(head, 0, got) != nullptr;
}
