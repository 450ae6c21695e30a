#pragma once

#include <cstdint>

// The host's record of one decoded XA-ADPCM sector group (PSEmu Pro layout, 32800
// bytes, little-endian). The plugin reads it, rewrites nSamples in one case, logs it
// whole and keeps a copy in save states.
struct xa_decode_t
{
    int32_t freq;     // source rate in Hz; 0 = nothing to play
    int32_t nbits;    // bit depth, not used
    int32_t stereo;   // 0 mono, 1 stereo, -1 nothing to play
    int32_t nsamples; // source frames; 8064 is taken as a byte count
    int32_t decoderState[4];
    int16_t pcm[16384];
};

static_assert(sizeof(xa_decode_t) == 32800, "xa_decode_t is 32800 bytes");
