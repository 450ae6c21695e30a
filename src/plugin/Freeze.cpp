#include "plugin/Freeze.h"

#include "audio/CriticalSection.h"
#include "plugin/Globals.h"

#include <cstddef>
#include <cstring>

static_assert(offsetof(SPUFreeze_t, spuRegister) == 0x10, "register image at 0x10");
static_assert(offsetof(SPUFreeze_t, soundBuffer) == 0x210, "sound RAM at 0x210");
static_assert(offsetof(SPUFreeze_t, xa) == 0x80210, "XA record at 0x80210");

namespace
{
void writeHeader(SPUFreeze_t* record)
{
    std::memcpy(record->name, "DIRIR", 6);
    record->version = 1;
    record->size = sizeof(SPUFreeze_t);
}
} // namespace

long freezeSPU(unsigned long mode, SPUFreeze_t* record)
{
    if (record == nullptr)
        return 0;

    switch (mode)
    {
    case 1: // save
        std::memset(record, 0, sizeof(SPUFreeze_t));
        writeHeader(record);
        enterCS();
        std::memcpy(record->soundBuffer, theSPU.getSoundBuffer(), sizeof(record->soundBuffer));
        std::memcpy(record->spuRegister, theSPU.getSPURegister(), sizeof(record->spuRegister));
        leaveCS();
        return 1;
    case 2: // size query: the header only
        writeHeader(record);
        return 1;
    case 0: // load; the header is not examined
    {
        enterCS();
        std::memcpy(theSPU.getSoundBuffer(), record->soundBuffer, sizeof(record->soundBuffer));
        VagBlock::flushAllCache();
        unsigned short* image = theSPU.getSPURegister();
        std::memcpy(image, record->spuRegister, sizeof(record->spuRegister));
        for (int i = 0; i < SPU::RegisterCount; ++i)
            theSPU.restoreRegister(0x1F801C00UL + 2 * i, image[i]);
        leaveCS();
        // After leaving: the queuing enters the critical section itself and may wait
        // for room. It checks every other field of the record, so whatever the host
        // or a damaged file left there plays or is ignored but never read past.
        if (record->xa.nsamples <= 4032)
            playADPCMchannel(&record->xa);
        return 1;
    }
    default:
        return 1;
    }
}
