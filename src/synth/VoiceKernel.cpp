#include "synth/VoiceKernel.h"

#include <cstdlib>
#include <cstring>
#include <immintrin.h>

namespace
{
inline int interpolateAt(const int* window, int position)
{
    const int i = position >> 12;
    const int a = window[i];
    const int b = window[i + 1];
    return a + (((b - a) * (position & 0xFFF)) >> 12);
}

inline void scaleAndMixFrame(int k, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
{
    // |sample| <= 2^15 and level < 2^15; |out| <= 2^15 and |volume| <= 2^14.
    const int out = (voice.samples[k] * voice.levels[k]) >> 15;
    outputs[k] = out;
    const int l = (out * voice.volumeL[k]) >> 14;
    const int r = (out * voice.volumeR[k]) >> 14;
    mix.mainL[k] += l;
    mix.mainR[k] += r;
    if (send)
    {
        mix.sendL[k] += l;
        mix.sendR[k] += r;
    }
}

#define AVX2_INLINE __attribute__((target("avx2"), always_inline)) inline

AVX2_INLINE __m256i load(const int* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

AVX2_INLINE void store(int* p, __m256i v)
{
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
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
    for (int k = 0; k < count; ++k, position += step)
        out[k] = interpolateAt(window, position);
}

void VoiceKernel::scaleAndMixPlain(int count, const VoiceBlock& voice, int* outputs, MixBlock& mix, bool send)
{
    for (int k = 0; k < count; ++k)
        scaleAndMixFrame(k, voice, outputs, mix, send);
}

__attribute__((target("avx2"))) void VoiceKernel::interpolateAvx2(const int* window, int count, int position,
                                                                  int step, int* out)
{
    // Positions stay below 29 * 4096 + 8 steps (< 2^17): no lane overflows.
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i p = _mm256_add_epi32(_mm256_set1_epi32(position), _mm256_mullo_epi32(lanes, _mm256_set1_epi32(step)));
    const __m256i advance = _mm256_set1_epi32(8 * step);
    const __m256i fraction = _mm256_set1_epi32(0xFFF);
    int k = 0;
    for (; k + 8 <= count; k += 8)
    {
        const __m256i i = _mm256_srli_epi32(p, 12);
        const __m256i a = _mm256_i32gather_epi32(window, i, 4);
        const __m256i b = _mm256_i32gather_epi32(window + 1, i, 4);
        const __m256i d = _mm256_mullo_epi32(_mm256_sub_epi32(b, a), _mm256_and_si256(p, fraction));
        store(out + k, _mm256_add_epi32(a, _mm256_srai_epi32(d, 12)));
        p = _mm256_add_epi32(p, advance);
    }
    for (position += k * step; k < count; ++k, position += step)
        out[k] = interpolateAt(window, position);
}

__attribute__((target("avx2"))) void VoiceKernel::scaleAndMixAvx2(int count, const VoiceBlock& voice, int* outputs,
                                                                  MixBlock& mix, bool send)
{
    int k = 0;
    for (; k + 8 <= count; k += 8)
    {
        const __m256i out = _mm256_srai_epi32(_mm256_mullo_epi32(load(voice.samples + k), load(voice.levels + k)), 15);
        store(outputs + k, out);
        const __m256i l = _mm256_srai_epi32(_mm256_mullo_epi32(out, load(voice.volumeL + k)), 14);
        const __m256i r = _mm256_srai_epi32(_mm256_mullo_epi32(out, load(voice.volumeR + k)), 14);
        store(mix.mainL + k, _mm256_add_epi32(load(mix.mainL + k), l));
        store(mix.mainR + k, _mm256_add_epi32(load(mix.mainR + k), r));
        if (send)
        {
            store(mix.sendL + k, _mm256_add_epi32(load(mix.sendL + k), l));
            store(mix.sendR + k, _mm256_add_epi32(load(mix.sendR + k), r));
        }
    }
    for (; k < count; ++k)
        scaleAndMixFrame(k, voice, outputs, mix, send);
}
