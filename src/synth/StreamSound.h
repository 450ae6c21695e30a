#pragma once

#include "reverb/SoundRam.h"
#include "synth/MixBlock.h"

class Mixer;

// XA / CD-DA input. The host's chunks (16-bit PCM, any rate, mono or stereo) are
// resampled to 44100 Hz stereo into a ring of 16-bit entries (a frame is two
// entries, left then right), which the renderer drains one frame per output frame,
// mixes at the CD volumes and copies into the CD capture areas of sound RAM.
// A silent pre-roll, one crossfaded repeat when the ring runs low and a crossfaded
// skip on overrun absorb the jitter between the host and the output clock.
//
// Positions and sizes count ring entries. The resampler steps through the staging
// area (the previous chunk's last frame, then the current chunk) in units of
// 1/44100 source frame. Callers hold the critical section; the exports call
// canPlay, then checkStreamBuffer, then playStream.
//
// The one static, ConfigWaitForXABufferIsFree, is a setting of the plugin: written
// by Config::updateConfigValue at SPUopen and on each change in the real-time
// window; SPUinit clears it after its own updateConfigValue.
class StreamSound
{
public:
    static int ConfigWaitForXABufferIsFree;
    // The CD capture areas of sound RAM, written every output frame.
    static const int CaptureWords = ::CaptureWords;
    static const int CaptureAreaWords = CaptureWords / 2;
    static const int StagingEntries = 16386;
    static const int OutputRate = 44100;
    // The most entries the staging area takes after the carried frame. Larger
    // chunks are resampled in equal pieces of at most this many entries.
    static const int MaxPieceEntries = StagingEntries - 2;
    // Bounds the ring, and with it the work one chunk can cost inside the critical
    // section: an overrun crossfades the whole ring, and a chunk that overruns
    // repeats that every fadeSpan() entries, so the worst case grows with the square
    // of the ring. The bound is the need of the largest chunk the staging area
    // takes at the lowest disc rate: 16384 mono samples at 18900 Hz, 76458 entries
    // (0.87 s). A disc sector needs at most 18816. Chunks that need more (CD-DA
    // chunks over 149 KiB, XA records at rates far below any disc's) are nothing
    // to play.
    static const int LowestDiscRate = 18900;
    static const int MaxNeed = static_cast<int>(2LL * MaxPieceEntries * OutputRate / LowestDiscRate);

    // Ring entries a chunk fills at 44100 Hz stereo.
    static int getNeed(int length, int rate, int channels);
    // Whether this design can take the chunk at all; anything else is nothing to play.
    static bool canPlay(int length, int rate, int channels);

    StreamSound();
    virtual ~StreamSound();

    void init();
    bool checkStreamBuffer(int length, int rate, int channels);
    void changeStreamBufferSize();
    void playStream(const short* samples, int length, int rate, int channels);
    void playSound(Mixer* mixer, unsigned short* soundBuffer);
    // Whether the next frames capture silence, however many: the ring is empty and
    // repeats nothing.
    bool capturesSilence() const { return read == write && !repeatDue(); }
    // playSound for `frames` frames, added to the block's sums.
    void playBlock(int frames, MixBlock& block, unsigned short* soundBuffer);

    void setXAVolumeL(unsigned short value) { volumeL = static_cast<short>(value); }
    void setXAVolumeR(unsigned short value) { volumeR = static_cast<short>(value); }
    void setControlCDReverbEnabled(int value) { cdReverbEnabled = value; }

    // Read-only views for tests.
    int getVolumeL() const { return volumeL; }
    int getVolumeR() const { return volumeR; }
    int getCDReverbEnabled() const { return cdReverbEnabled; }
    int getSize() const { return size; }
    int getWrite() const { return write; }
    int getRead() const { return read; }
    int getPhase() const { return phase; }
    int getFade() const { return fade; }
    int getRefill() const { return refill; }
    const short* getRing() const { return ring; }

private:
    StreamSound(const StreamSound&) = delete;
    StreamSound& operator=(const StreamSound&) = delete;

    // Blend of the crossfades: clamp(old * a + incoming * b), truncated towards zero.
    static short crossfade(int old, double a, int incoming, double b);
    // A ring position from one that may lie up to one ring size outside it.
    int wrap(int position) const
    {
        return position < 0 ? position + size : position >= size ? position - size : position;
    }
    int fadeSpan() const;
    // Blends entries of the ring at dst with those at src, one frame at a time,
    // with the gains of fade values running down from fadeFrom by 2 per frame.
    void blendRun(short* dst, const short* src, int entries, int fadeFrom) const;
    void repeatTail();
    void skipOverrun();
    void resamplePiece(int length, int rate, int channels);
    // One output frame of the ring (0, 0 when it is empty), stored in the capture
    // areas; false when the ring was empty.
    bool nextFrame(int& left, int& right, unsigned short* soundBuffer);
    // Stores one frame in the capture areas and moves on.
    void capture(int left, int right, unsigned short* soundBuffer);
    bool repeatDue() const;

    int volumeL;
    int volumeR;
    int cdReverbEnabled;
    int size;
    short* ring;
    // The gains of the overrun crossfade and its fade-in, made with the ring:
    // gains[f] = a = sqrt(f / size) and gains[f + 1] = b = sqrt(1 - a * a) for the
    // even fade values f = 0..size. The overrun walks the whole ring, and the two
    // square roots of every frame were most of that walk's cost.
    double* gains;
    int write;
    int read;
    short staging[StagingEntries];
    int phase;
    int fade;
    int refill;
    int captureIndex;
};
