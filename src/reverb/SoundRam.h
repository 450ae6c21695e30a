#pragma once

// Facts of sound RAM that the reverb, the voices' decoder, the mixer and the SPU
// share. They live in reverb/, the lowest folder that needs them: synth/ and spu/
// include reverb/, never the other way round.

// 512 KiB of sound RAM: 0x40000 16-bit words.
constexpr int SoundRamWords = 0x40000;

// Words 0..1023: the CD capture areas (left at 0..511, then right at 512..1023),
// which the CD input writes every output frame.
constexpr int CaptureWords = 1024;

// A value saturated to the 16-bit range of a sound RAM word or an output sample,
// returned as Out: the mixer saturates its 64-bit sums straight into the short it
// stores (saturate16<short>), the reverb and the decoder keep working in int.
template <typename Out = int, typename Int> constexpr Out saturate16(Int value)
{
    if (value > 32767)
        return 32767;
    if (value < -32768)
        return -32768;
    return static_cast<Out>(value);
}
