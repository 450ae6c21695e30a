#include "synth/VoiceKernel.h"

#include <cstdlib>
#include <cstring>
#include <emmintrin.h>
#include <immintrin.h>

namespace
{
// Positions are never negative: unsigned, they index without a sign extension.
inline int interpolateAt(const int* window, unsigned int position)
{
    const int* pair = window + (position >> 12);
    const int a = pair[0];
    const int b = pair[1];
    return a + (((b - a) * static_cast<int>(position & 0xFFF)) >> 12);
}

// The level and volumes of frame k: the block's one value where it has one.
template <bool Held, bool Fixed> struct Gains
{
    const VoiceBlock& voice;
    int level(int k) const { return Held ? voice.heldLevel : voice.levels[k]; }
    int volumeL(int k) const { return Fixed ? voice.fixedVolumeL : voice.volumeL[k]; }
    int volumeR(int k) const { return Fixed ? voice.fixedVolumeR : voice.volumeR[k]; }
};

// a * b for lanes that hold 16-bit values (sign-extended to 32 bits): SSE2's
// 16-bit multiply-add, with b's upper halves cleared so each lane's sum is the one
// product. The block's samples, levels, volumes and outputs are all 16-bit values.
inline __m128i mul16(__m128i a, __m128i b)
{
    return _mm_madd_epi16(a, _mm_and_si128(b, _mm_set1_epi32(0xFFFF)));
}

inline __m128i load4(const int* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void add4(int* p, __m128i v)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_add_epi32(load4(p), v));
}

template <bool Held, bool Fixed>
void scaleAndMixPlainWith(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
{
    const Gains<Held, Fixed> gains{voice};
    int* sumsL = send ? mix.sendL : mix.dryL;
    int* sumsR = send ? mix.sendR : mix.dryR;
    int k = 0;
    const __m128i heldLevel = _mm_set1_epi32(voice.heldLevel);
    const __m128i fixedL = _mm_set1_epi32(voice.fixedVolumeL);
    const __m128i fixedR = _mm_set1_epi32(voice.fixedVolumeR);
    for (; k + 4 <= count; k += 4)
    {
        const __m128i level = Held ? heldLevel : load4(voice.levels + k);
        const __m128i out = _mm_srai_epi32(mul16(load4(voice.samples + k), level), 15);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(outputs + k), out);
        const __m128i l = _mm_srai_epi32(mul16(out, Fixed ? fixedL : load4(voice.volumeL + k)), 14);
        const __m128i r = _mm_srai_epi32(mul16(out, Fixed ? fixedR : load4(voice.volumeR + k)), 14);
        add4(sumsL + k, l);
        add4(sumsR + k, r);
    }
    for (; k < count; ++k)
    {
        // |sample| <= 2^15 and level < 2^15; |out| <= 2^15 and |volume| <= 2^14.
        const int out = (voice.samples[k] * gains.level(k)) >> 15;
        outputs[k] = out;
        const int l = (out * gains.volumeL(k)) >> 14;
        const int r = (out * gains.volumeR(k)) >> 14;
        sumsL[k] += l;
        sumsR[k] += r;
    }
}

bool startWithAvx2()
{
    const char* kernel = std::getenv("TALVANE_KERNEL");
    const bool plain = kernel != nullptr && std::strcmp(kernel, "plain") == 0;
    return !plain && VoiceKernel::hasAvx2();
}
} // namespace

VoiceKernel::Interpolate VoiceKernel::interpolateKernel =
    startWithAvx2() ? VoiceKernel::interpolateAvx2 : VoiceKernel::interpolatePlain;
VoiceKernel::ScaleAndMix VoiceKernel::scaleAndMixKernel =
    startWithAvx2() ? VoiceKernel::scaleAndMixAvx2 : VoiceKernel::scaleAndMixPlain;

bool VoiceKernel::hasAvx2()
{
    // Also runs from a static initialiser, possibly before the compiler's own.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool VoiceKernel::useAvx2(bool wanted)
{
    const bool avx2 = wanted && hasAvx2();
    interpolateKernel = avx2 ? interpolateAvx2 : interpolatePlain;
    scaleAndMixKernel = avx2 ? scaleAndMixAvx2 : scaleAndMixPlain;
    return avx2;
}

void VoiceKernel::interpolatePlain(const int* window, int count, int position, int step, int* out)
{
    const unsigned int s = static_cast<unsigned int>(step);
    unsigned int p = static_cast<unsigned int>(position);
    int k = 0;
    for (; k + 4 <= count; k += 4, p += 4 * s)
    {
        out[k] = interpolateAt(window, p);
        out[k + 1] = interpolateAt(window, p + s);
        out[k + 2] = interpolateAt(window, p + 2 * s);
        out[k + 3] = interpolateAt(window, p + 3 * s);
    }
    for (; k < count; ++k, p += s)
        out[k] = interpolateAt(window, p);
}

void VoiceKernel::scaleAndMixPlain(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
{
    if (voice.levelHeld)
        voice.volumesFixed ? scaleAndMixPlainWith<true, true>(count, voice, outputs, mix, send)
                           : scaleAndMixPlainWith<true, false>(count, voice, outputs, mix, send);
    else
        voice.volumesFixed ? scaleAndMixPlainWith<false, true>(count, voice, outputs, mix, send)
                           : scaleAndMixPlainWith<false, false>(count, voice, outputs, mix, send);
}

// The AVX2 loops run eight frames at a time, the last group masked: masked lanes
// neither load nor store.
__attribute__((target("avx2"))) void VoiceKernel::interpolateAvx2(const int* window, int count, int position,
                                                                  int step, int* out)
{
    // Positions stay below the run's length times 4096 (< 2^23): no lane overflows.
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i p =
        _mm256_add_epi32(_mm256_set1_epi32(position), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(step)));
    const __m256i advance = _mm256_set1_epi32(8 * step);
    const __m256i fraction = _mm256_set1_epi32(0xFFF);
    const __m256i zero = _mm256_setzero_si256();
    for (int k = 0; k < count; k += 8)
    {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(count - k), lanes);
        const __m256i i = _mm256_srli_epi32(p, 12);
        const __m256i a = _mm256_mask_i32gather_epi32(zero, window, i, mask, 4);
        const __m256i b = _mm256_mask_i32gather_epi32(zero, window + 1, i, mask, 4);
        const __m256i d = _mm256_mullo_epi32(_mm256_sub_epi32(b, a), _mm256_and_si256(p, fraction));
        _mm256_maskstore_epi32(out + k, mask, _mm256_add_epi32(a, _mm256_srai_epi32(d, 12)));
        p = _mm256_add_epi32(p, advance);
    }
}

namespace
{
template <bool Held, bool Fixed>
__attribute__((target("avx2"))) void scaleAndMixAvx2With(int count, const VoiceBlock& voice, int* outputs,
                                                         MixBlock& mix, bool send)
{
    int* sumsL = send ? mix.sendL : mix.dryL;
    int* sumsR = send ? mix.sendR : mix.dryR;
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i heldLevel = _mm256_set1_epi32(voice.heldLevel);
    const __m256i fixedL = _mm256_set1_epi32(voice.fixedVolumeL);
    const __m256i fixedR = _mm256_set1_epi32(voice.fixedVolumeR);
    for (int k = 0; k < count; k += 8)
    {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(count - k), lanes);
        const __m256i level = Held ? heldLevel : _mm256_maskload_epi32(voice.levels + k, mask);
        const __m256i volumeL = Fixed ? fixedL : _mm256_maskload_epi32(voice.volumeL + k, mask);
        const __m256i volumeR = Fixed ? fixedR : _mm256_maskload_epi32(voice.volumeR + k, mask);
        const __m256i out =
            _mm256_srai_epi32(_mm256_mullo_epi32(_mm256_maskload_epi32(voice.samples + k, mask), level), 15);
        _mm256_maskstore_epi32(outputs + k, mask, out);
        const __m256i l = _mm256_srai_epi32(_mm256_mullo_epi32(out, volumeL), 14);
        const __m256i r = _mm256_srai_epi32(_mm256_mullo_epi32(out, volumeR), 14);
        _mm256_maskstore_epi32(sumsL + k, mask, _mm256_add_epi32(_mm256_maskload_epi32(sumsL + k, mask), l));
        _mm256_maskstore_epi32(sumsR + k, mask, _mm256_add_epi32(_mm256_maskload_epi32(sumsR + k, mask), r));
    }
}
} // namespace

void VoiceKernel::scaleAndMixAvx2(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
{
    if (voice.levelHeld)
        voice.volumesFixed ? scaleAndMixAvx2With<true, true>(count, voice, outputs, mix, send)
                           : scaleAndMixAvx2With<true, false>(count, voice, outputs, mix, send);
    else
        voice.volumesFixed ? scaleAndMixAvx2With<false, true>(count, voice, outputs, mix, send)
                           : scaleAndMixAvx2With<false, false>(count, voice, outputs, mix, send);
}
