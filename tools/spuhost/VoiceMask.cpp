#include "spuhost/VoiceMask.h"

#include "spuhost/Plugin.h"

#include <cstdio>
#include <cstdlib>

namespace
{
const unsigned long RegisterBase = 0x1F801C00;
const unsigned long VoiceStride = 16; // bytes of registers per voice
const unsigned long VolumeLeft = 0x0;
const unsigned long VolumeRight = 0x2;
const unsigned long CdVolumeLeft = 0x1F801DB0;
const unsigned long CdVolumeRight = 0x1F801DB2;

// Which source the volume register at address belongs to, or -1 for any other
// register.
int volumeSource(unsigned long address)
{
    if (address == CdVolumeLeft || address == CdVolumeRight)
        return VoiceMask::Cd;
    if (address < RegisterBase || address >= RegisterBase + VoiceMask::Voices * VoiceStride)
        return -1;
    const unsigned long offset = (address - RegisterBase) % VoiceStride;
    if (offset != VolumeLeft && offset != VolumeRight)
        return -1;
    return static_cast<int>((address - RegisterBase) / VoiceStride);
}

// The installed mask and the plugin's own functions it stands before.
const VoiceMask* active = nullptr;
Plugin::WriteRegisterFn pluginWriteRegister = nullptr;
Plugin::FreezeFn pluginFreeze = nullptr;

void writeRegisterMasked(unsigned long address, unsigned short value)
{
    pluginWriteRegister(address, active->filterWrite(address, value));
}

long freezeMasked(unsigned long mode, SPUFreeze_t* record)
{
    const unsigned long Load = 0;
    if (mode == Load && record != nullptr)
        active->filterRecord(*record);
    return pluginFreeze(mode, record);
}

bool parseNumber(const std::string& text, int& number)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value >= VoiceMask::Voices)
        return false;
    number = static_cast<int>(value);
    return true;
}
} // namespace

int VoiceMask::takeOption(const std::vector<std::string>& args, size_t& i, const char* command)
{
    const bool mute = args[i] == "--mute";
    if ((!mute && args[i] != "--solo") || i + 1 >= args.size())
        return 0;
    std::string error;
    if (!parse(args[i + 1], mute ? muted : soloed, error))
    {
        std::fprintf(stderr, "spuhost %s: %s %s\n", command, args[i].c_str(), error.c_str());
        return -1;
    }
    i += 1;
    return 1;
}

VoiceMask VoiceMask::only(int source)
{
    VoiceMask mask;
    mask.soloed.set(static_cast<size_t>(source));
    return mask;
}

bool VoiceMask::silences(int source) const
{
    const size_t at = static_cast<size_t>(source);
    return muted.test(at) || (soloed.any() && !soloed.test(at));
}

bool VoiceMask::parse(const std::string& list, Sources& sources, std::string& error)
{
    size_t start = 0;
    while (start <= list.size())
    {
        const size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? list.size() + 1 : comma + 1;
        if (item == "cd")
        {
            sources.set(Cd);
            continue;
        }
        const size_t dash = item.find('-');
        int first = 0, last = 0;
        const bool ok = dash == std::string::npos ? parseNumber(item, first) && parseNumber(item, last)
                                                  : parseNumber(item.substr(0, dash), first) &&
                                                        parseNumber(item.substr(dash + 1), last);
        if (!ok || first > last)
        {
            error = "'" + item + "' is not a voice (0-23), a range of voices (such as 0-7) or cd";
            return false;
        }
        for (int voice = first; voice <= last; ++voice)
            sources.set(static_cast<size_t>(voice));
    }
    return true;
}

unsigned short VoiceMask::filterWrite(unsigned long address, unsigned short value) const
{
    const int source = volumeSource(address);
    return source >= 0 && silences(source) ? 0 : value;
}

void VoiceMask::filterRecord(SPUFreeze_t& record) const
{
    // The image holds the last value written to each even register address.
    for (int i = 0; i < 256; ++i)
        record.spuRegister[i] =
            filterWrite(RegisterBase + 2 * static_cast<unsigned long>(i), record.spuRegister[i]);
}

void VoiceMask::install(Plugin& plugin) const
{
    if (!silencesAny())
        return;
    active = this;
    pluginWriteRegister = plugin.SPUwriteRegister;
    plugin.SPUwriteRegister = writeRegisterMasked;
    if (plugin.SPUfreeze != nullptr)
    {
        pluginFreeze = plugin.SPUfreeze;
        plugin.SPUfreeze = freezeMasked;
    }
}
