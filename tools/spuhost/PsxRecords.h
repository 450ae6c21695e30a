#pragma once

#include <cstddef>
#include <cstdint>

// The two records that the PSEmu Pro sound interface passes by pointer, as the host
// declares them (little-endian, the layout every plugin reads).
//
// They live at global scope under the interface's own names on purpose: a
// function's type includes the names of its parameter types, and calling
// SPUfreeze(unsigned long, SPUFreeze_t*) through a pointer of any other type is
// undefined behaviour (clang's -fsanitize=function stops at the first such call).
// The members are declared exactly as a plugin declares them, so that a program
// that links a plugin's sources directly (the fuzz harness) sees one definition.

// One decoded XA-ADPCM sector group for SPUplayADPCMchannel (32800 bytes).
struct xa_decode_t
{
    int32_t freq;     // source rate in Hz; 0 = nothing to play
    int32_t nbits;    // bit depth, not used by the plugin
    int32_t stereo;   // 0 mono, 1 stereo, -1 nothing to play
    int32_t nsamples; // source frames; 8064 is taken as a byte count
    int32_t decoderState[4];
    int16_t pcm[16384]; // interleaved left, right when stereo
};

// The save state that SPUfreeze fills (mode 1) and loads (mode 0).
struct SPUFreeze_t
{
    char name[8];                 // "DIRIR"
    uint32_t version;             // 1
    uint32_t size;                // FreezeRecordSize
    uint16_t spuRegister[256];    // 0x1F801C00..0x1F801DFE
    uint8_t soundBuffer[0x80000]; // sound RAM, byte for byte
    xa_decode_t xa;               // the last XA record
    uint8_t reserved[1024];
};

// The save state's length in bytes, as its header and a size query give it; the
// tests that check the record byte by byte hold it in a buffer this long.
const size_t FreezeRecordSize = 558640;

static_assert(sizeof(xa_decode_t) == 32800, "the XA record is 32800 bytes");
static_assert(sizeof(SPUFreeze_t) == FreezeRecordSize, "the save state is FreezeRecordSize bytes");
static_assert(offsetof(SPUFreeze_t, version) == 8, "version at 8");
static_assert(offsetof(SPUFreeze_t, size) == 12, "size at 12");
static_assert(offsetof(SPUFreeze_t, spuRegister) == 0x10, "register image at 0x10");
static_assert(offsetof(SPUFreeze_t, soundBuffer) == 0x210, "sound RAM at 0x210");
static_assert(offsetof(SPUFreeze_t, xa) == 0x80210, "XA record at 0x80210");
static_assert(offsetof(SPUFreeze_t, reserved) == 0x80210 + 32800, "reserved bytes after the XA record");

// SPUfreeze modes.
const unsigned long FreezeLoad = 0;
const unsigned long FreezeSave = 1;
const unsigned long FreezeSizeQuery = 2;
