#include "synth/StreamSound.h"

#include "synth/Mixer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int StreamSound::ConfigWaitForXABufferIsFree = 0;

StreamSound::StreamSound()
    : volumeL(0), volumeR(0), cdReverbEnabled(0), size(0), ring(nullptr), gains(nullptr), write(0), read(0),
      phase(0), fade(0), refill(0), captureIndex(0)
{
    std::memset(staging, 0, sizeof(staging));
}

StreamSound::~StreamSound()
{
    delete[] ring;
    delete[] gains;
}

void StreamSound::init()
{
    volumeL = volumeR = 0;
    captureIndex = 0;
    write = read = 0;
    phase = fade = refill = 0;
}

int StreamSound::getNeed(int length, int rate, int channels)
{
    // 64 bits: a hostile length times 44100 passes 32 bits.
    const int64_t outputEntries = static_cast<int64_t>(length) * OutputRate / rate;
    const int64_t need = outputEntries * (3 - channels) / 2;
    return need > MaxNeed ? MaxNeed + 1 : static_cast<int>(need);
}

bool StreamSound::canPlay(int length, int rate, int channels)
{
    // Rates above 44100 Hz would make the resampler step over source frames: the
    // carried frame would no longer be the one the phase continues from, the first
    // step of a chunk could start past its end and the pre-roll could turn negative.
    // The CD delivers 18900, 37800 and 44100 Hz only, so such chunks are ignored.
    if ((channels != 1 && channels != 2) || rate <= 0 || rate > OutputRate)
        return false;
    // Not even one whole frame: nothing to resample.
    if (length < 2 * channels)
        return false;
    const int need = getNeed(length, rate, channels);
    return need >= 1 && need <= MaxNeed;
}

bool StreamSound::checkStreamBuffer(int length, int rate, int channels)
{
    if (!canPlay(length, rate, channels))
        return false;
    const int need = getNeed(length, rate, channels);
    if (size != 2 * need)
    {
        size = 2 * need;
        changeStreamBufferSize();
    }
    int free = read - write;
    if (free <= 0)
        free += size;
    return ConfigWaitForXABufferIsFree == 0 || need <= free;
}

void StreamSound::changeStreamBufferSize()
{
    delete[] ring;
    delete[] gains;
    ring = new (std::nothrow) short[size]();
    gains = ring != nullptr ? new (std::nothrow) double[size + 2] : nullptr;
    if (gains == nullptr)
    {
        delete[] ring;
        ring = nullptr;
        size = 0;
    }
    for (int f = 0; f <= size && gains != nullptr; f += 2)
    {
        const double a = std::sqrt(static_cast<double>(f) / size);
        gains[f] = a;
        gains[f + 1] = std::sqrt(1.0 - a * a);
    }
    write = read = 0;
    // A crossfade counter left from the old ring could exceed the new size.
    fade = 0;
}

short StreamSound::crossfade(int old, double a, int incoming, double b)
{
    const double mixed = old * a + incoming * b;
    if (mixed > 32767.0)
        return 32767;
    if (mixed < -32768.0)
        return -32768;
    return static_cast<short>(mixed);
}

int StreamSound::fadeSpan() const
{
    return (size / 2 < 2048 ? size / 2 : 2048) & ~1;
}

void StreamSound::playStream(const short* samples, int length, int rate, int channels)
{
    // Callers size the ring first with checkStreamBuffer; anything else is refused
    // here rather than written past the ring.
    if (samples == nullptr || !canPlay(length, rate, channels) || ring == nullptr ||
        size != 2 * getNeed(length, rate, channels))
        return;

    // Only whole frames are copied and resampled: a trailing partial frame is
    // dropped (copied, its odd byte would land past the staging area, and the
    // resampler would step once more than the chunk holds). A chunk that fits the
    // staging area is one piece. A larger one is cut into equal pieces of whole
    // frames that fit; the last is padded with copies of its final frame (fewer
    // frames than there are pieces) so that the carried frame is found where every
    // piece leaves it.
    const int c = channels;
    const int frames = length / 2 / c;
    int pieces = 1;
    int pieceFrames = frames;
    if (frames * c > MaxPieceEntries)
    {
        pieces = (frames + MaxPieceEntries / c - 1) / (MaxPieceEntries / c);
        pieceFrames = (frames + pieces - 1) / pieces;
    }
    const int pieceEntries = c * pieceFrames;
    const int pieceBytes = 2 * pieceEntries;

    const bool buffered = read != write;
    if (!buffered)
    {
        staging[0] = staging[1] = 0;
        phase = 0;
        const int pre = ((size - length / 2) / 2) & ~1;
        for (int i = 0; i < pre; ++i)
        {
            ring[write] = 0;
            write = wrap(write + 1);
        }
    }
    refill = 0;
    for (int piece = 0; piece < pieces; ++piece)
    {
        if (piece > 0 || buffered)
            for (int i = 0; i < c; ++i)
                staging[i] = staging[pieceEntries + i];
        if (pieces == 1)
            std::memcpy(staging + c, samples, pieceBytes);
        else
        {
            const int first = piece * pieceFrames;
            const int available = frames - first < pieceFrames ? frames - first : pieceFrames;
            std::memcpy(staging + c, samples + first * c, 2 * c * available);
            for (int e = c * available; e < pieceEntries; ++e)
                staging[c + e] = staging[e];
        }
        resamplePiece(pieceBytes, rate, c);
    }
}

void StreamSound::resamplePiece(int length, int rate, int c)
{
    int k = (phase / OutputRate) * c;
    do
    {
        const double a = gains[fade];
        const double b = gains[fade + 1];
        const int f = phase - (k / c) * OutputRate;
        // The product of a full-scale jump and the phase fraction passes 32 bits.
        const int s0L = staging[k], s1L = staging[k + c];
        const int s0R = staging[k + c - 1], s1R = staging[k + 2 * c - 1];
        const int xL = s0L + static_cast<int>(static_cast<int64_t>(s1L - s0L) * f / OutputRate);
        const int xR = s0R + static_cast<int>(static_cast<int64_t>(s1R - s0R) * f / OutputRate);
        ring[write] = crossfade(ring[write], a, xL, b);
        ring[write + 1] = crossfade(ring[write + 1], a, xR, b);
        if (fade > 0)
            fade -= 2;
        phase += rate;
        k = (phase / OutputRate) * c;
        write = wrap(write + 2);
        if (write == read)
            skipOverrun();
    } while (2 * k < length);
    phase -= (k / c) * OutputRate;
}

// The writer caught up with the reader: the unread audio is crossfaded towards the
// audio h entries later, writing resumes after it, and the still running fade lets
// the new audio in over the next h / 2 frames.
void StreamSound::skipOverrun()
{
    const int h = fadeSpan();
    int p = write;
    int q = wrap(write + h);
    // size - h entries, fade running down from size to h + 2, in runs that wrap
    // neither position. All positions and counts are even.
    for (fade = size; fade > h;)
    {
        const int run = std::min({size - p, size - q, fade - h});
        blendRun(ring + p, ring + q, run, fade);
        fade -= run;
        p = wrap(p + run);
        q = wrap(q + run);
    }
    write = p;
}

void StreamSound::blendRun(short* dst, const short* src, int entries, int fadeFrom) const
{
    // src lies ahead of dst in the ring: each frame is read before the walk
    // reaches it to write it. A frame at a time in SSE2 (part of every x86-64):
    // the same products, sum, clamp and truncation as crossfade(), for both
    // entries at once, at half the cost of the walk that dominates an overrun.
#if defined(__SSE2__)
    const __m128d lowest = _mm_set1_pd(-32768.0);
    const __m128d highest = _mm_set1_pd(32767.0);
    for (int i = 0; i < entries; i += 2)
    {
        const __m128d ab = _mm_loadu_pd(gains + fadeFrom - i);
        const __m128d a = _mm_unpacklo_pd(ab, ab);
        const __m128d b = _mm_unpackhi_pd(ab, ab);
        int32_t oldPair, newPair;
        std::memcpy(&oldPair, dst + i, 4);
        std::memcpy(&newPair, src + i, 4);
        const __m128i old16 = _mm_cvtsi32_si128(oldPair);
        const __m128i new16 = _mm_cvtsi32_si128(newPair);
        const __m128d old = _mm_cvtepi32_pd(_mm_srai_epi32(_mm_unpacklo_epi16(old16, old16), 16));
        const __m128d incoming = _mm_cvtepi32_pd(_mm_srai_epi32(_mm_unpacklo_epi16(new16, new16), 16));
        const __m128d mixed = _mm_add_pd(_mm_mul_pd(old, a), _mm_mul_pd(incoming, b));
        const __m128i clamped = _mm_cvttpd_epi32(_mm_max_pd(lowest, _mm_min_pd(highest, mixed)));
        const int32_t pair = _mm_cvtsi128_si32(_mm_packs_epi32(clamped, clamped));
        std::memcpy(dst + i, &pair, 4);
    }
#else
    for (int i = 0; i < entries; i += 2)
    {
        const double a = gains[fadeFrom - i];
        const double b = gains[fadeFrom - i + 1];
        dst[i] = crossfade(dst[i], a, src[i], b);
        dst[i + 1] = crossfade(dst[i + 1], a, src[i + 1], b);
    }
#endif
}

// The ring runs low: the most recent h entries are played once more, and the audio
// before the seam is crossfaded (equal power) into the copy's start, so the seam
// does not click.
void StreamSound::repeatTail()
{
    const int h = fadeSpan();
    const int quarter = size / 4;
    const int w0 = write;
    write = wrap(write + h);
    for (int i = 0; i < h; ++i)
        ring[wrap(w0 + i)] = ring[wrap(w0 - h + i)];
    for (int j = 0; j < quarter; j += 2)
    {
        const double a = std::sqrt(static_cast<double>(j) / quarter);
        const double b = std::sqrt(1.0 - a * a);
        const int p = wrap(w0 - 2 - j);
        const int q = wrap(w0 - h - 2 - j);
        ring[p] = crossfade(ring[p], a, ring[q], b);
        ring[p + 1] = crossfade(ring[p + 1], a, ring[q + 1], b);
    }
    refill += h / 2;
}

bool StreamSound::repeatDue() const
{
    int avail = write - read;
    if (avail < 0)
        avail += size;
    return avail <= size / 4 && refill < fadeSpan() / 2;
}

bool StreamSound::nextFrame(int& left, int& right, unsigned short* soundBuffer)
{
    if (repeatDue())
        repeatTail();

    left = 0;
    right = 0;
    const bool played = read != write;
    if (played)
    {
        left = ring[read];
        right = ring[read + 1];
        read += 2;
        if (read >= size)
            read = 0;
    }
    capture(left, right, soundBuffer);
    return played;
}

void StreamSound::capture(int left, int right, unsigned short* soundBuffer)
{
    // Not a transfer: no cache invalidation, no IRQ check.
    soundBuffer[captureIndex] = static_cast<unsigned short>(left);
    soundBuffer[CaptureAreaWords + captureIndex] = static_cast<unsigned short>(right);
    captureIndex = (captureIndex + 1) & (CaptureAreaWords - 1);
}

void StreamSound::playSound(Mixer* mixer, unsigned short* soundBuffer)
{
    int left, right;
    if (nextFrame(left, right, soundBuffer))
        mixer->mixSound((left * volumeL) >> 15, (right * volumeR) >> 15, cdReverbEnabled);
}

void StreamSound::playBlock(int frames, MixBlock& block, unsigned short* soundBuffer)
{
    for (int k = 0; k < frames; ++k)
    {
        // An empty ring that repeats nothing stays so: silence for the rest.
        if (capturesSilence())
        {
            for (; k < frames; ++k)
                capture(0, 0, soundBuffer);
            return;
        }
        int left, right;
        if (!nextFrame(left, right, soundBuffer))
            continue;
        const int l = (left * volumeL) >> 15;
        const int r = (right * volumeR) >> 15;
        int* sums = cdReverbEnabled == 1 ? block.sendL : block.dryL;
        int* sumsR = cdReverbEnabled == 1 ? block.sendR : block.dryR;
        sums[k] += l;
        sumsR[k] += r;
    }
}
