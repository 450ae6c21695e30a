#include "spuhost/VoiceTraffic.h"

#include <algorithm>
#include <cstring>

namespace
{
// A voice's registers, from its base (RegisterBase + 16 × voice).
enum VoiceOffset
{
    VolumeLeft = 0x0,
    VolumeRight = 0x2,
    Pitch = 0x4,
    StartAddress = 0x6, // in 8-byte units
};

// The registers of one bit a voice: voices 0-15 in the low word, 16-23 in the next.
const unsigned long KeyOnLow = 0x1F801D88;
const unsigned long KeyOffLow = 0x1F801D8C;
const unsigned long ModulationLow = 0x1F801D90;
const unsigned long NoiseLow = 0x1F801D94;
const unsigned long ReverbLow = 0x1F801D98;

// The address as the plugin decodes it: any mirror of the window, odd addresses as
// the even one below.
bool decode(unsigned long address, unsigned long& decoded)
{
    if ((address & 0x1FFFFE00UL) != 0x1F801C00UL)
        return false;
    decoded = VoiceTraffic::RegisterBase + (address & 0x1FE);
    return true;
}
} // namespace

VoiceTraffic::VoiceTraffic(const uint16_t* start)
{
    if (start != nullptr)
        std::memcpy(registers, start, sizeof(registers));
    else
        std::memset(registers, 0, sizeof(registers));
}

bool VoiceTraffic::voiceBit(unsigned long lowAddress, int v) const
{
    const unsigned long address = lowAddress + (v < 16 ? 0 : 2);
    return (registers[(address - RegisterBase) / 2] >> (v % 16)) & 1;
}

void VoiceTraffic::write(uint32_t frame, unsigned long address, uint16_t value)
{
    ++writeCount;
    apply(frame, address, value);
}

void VoiceTraffic::keyFromSnapshot()
{
    for (unsigned long address : {KeyOnLow, KeyOnLow + 2, KeyOffLow, KeyOffLow + 2})
        apply(0, address, reg(address));
}

void VoiceTraffic::apply(uint32_t frame, unsigned long address, uint16_t value)
{
    latest = std::max(latest, frame);
    unsigned long decoded;
    if (!decode(address, decoded))
        return;
    reg(decoded) = value;

    const unsigned long word = decoded & ~2UL; // the low word of a voice-bit pair
    const int firstVoice = decoded == word ? 0 : 16;
    const int lastVoice = decoded == word ? 15 : Voices - 1;
    if (word == KeyOnLow || word == KeyOffLow)
    {
        for (int v = firstVoice; v <= lastVoice; ++v)
            if ((value >> (v % 16)) & 1)
            {
                if (word == KeyOnLow)
                    keyOn(v, frame);
                else
                    keyOff(v, frame);
            }
        return;
    }
    if (word == ModulationLow || word == NoiseLow || word == ReverbLow)
    {
        for (int v = firstVoice; v <= lastVoice; ++v)
            noteWhileKeyed(v);
        return;
    }
    if (decoded < RegisterBase + 16 * Voices)
        noteWhileKeyed(static_cast<int>((decoded - RegisterBase) / 16));
}

void VoiceTraffic::cdInput(uint32_t frame)
{
    latest = std::max(latest, frame);
    if (cdCount++ == 0)
        cdFirst = frame;
    cdLast = frame;
}

void VoiceTraffic::finish(uint32_t end)
{
    end = std::max(end, latest); // a recording's entries may run past its stated end
    for (int v = 0; v < Voices; ++v)
        keyOff(v, end);
    endFrame = end;
}

void VoiceTraffic::keyOn(int v, uint32_t frame)
{
    Voice& voice = voices[v];
    keyOff(v, frame); // a key-on of a keyed voice starts it again
    keyed[v] = true;
    voice.spans.push_back(Span{frame, frame});
    const uint32_t start = 8u * voiceReg(v, StartAddress);
    if (std::find(voice.startAddresses.begin(), voice.startAddresses.end(), start) ==
        voice.startAddresses.end())
        voice.startAddresses.push_back(start);
    noteWhileKeyed(v);
}

void VoiceTraffic::keyOff(int v, uint32_t frame)
{
    if (!keyed[v])
        return;
    keyed[v] = false;
    voices[v].spans.back().off = frame;
}

void VoiceTraffic::noteWhileKeyed(int v)
{
    if (!keyed[v])
        return;
    Voice& voice = voices[v];
    const uint16_t pitch = voiceReg(v, Pitch);
    voice.lowestPitch = std::min(voice.lowestPitch, pitch);
    voice.highestPitch = std::max(voice.highestPitch, pitch);
    voice.noise |= voiceBit(NoiseLow, v);
    // Voice 0 has no voice before it: its bit is not pitch modulation.
    voice.modulated |= v > 0 && voiceBit(ModulationLow, v);
    voice.reverb |= voiceBit(ReverbLow, v);
    voice.heard |= voiceReg(v, VolumeLeft) != 0 || voiceReg(v, VolumeRight) != 0;
}
