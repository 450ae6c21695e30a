#pragma once

#include "synth/XaDecode.h"

#include <cstdint>

// The save-state record that the host stores (558640 bytes, little-endian): a
// header, the register image, the whole sound RAM and room for the host's last
// XA record. Loading replays the registers instead of copying internal state.
struct SPUFreeze_t
{
    char name[8];                 // "DIRIR"
    uint32_t version;             // 1
    uint32_t size;                // 558640
    uint16_t spuRegister[256];    // last value written to each even register address
    uint8_t soundBuffer[0x80000]; // sound RAM, byte for byte
    xa_decode_t xa;               // the host's XA record; saved as zeros
    uint8_t reserved[1024];
};

static_assert(sizeof(SPUFreeze_t) == 558640, "the save-state record is 558640 bytes");

// mode 0: load, 1: save, 2: size query. Returns 1, or 0 for a null record.
long freezeSPU(unsigned long mode, SPUFreeze_t* record);
