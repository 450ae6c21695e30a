#pragma once

class Mixer;

// XA / CD-DA input. The host's chunks (16-bit PCM, any rate, mono or stereo) are
// resampled to 44100 Hz stereo into a ring of 16-bit entries (a frame is two
// entries, left then right), which the renderer drains one frame per output frame,
// mixes at the CD volumes and copies into the CD capture areas of sound RAM.
// A silent pre-roll, one crossfaded repeat when the ring runs low and a crossfaded
// skip on overrun absorb the jitter between the host and the output clock.
class StreamSound
{
public:
    static int ConfigWaitForXABufferIsFree;
    static const int StagingEntries = 16386;

    StreamSound();
    virtual ~StreamSound();

    void init();
    bool checkStreamBuffer(int length, int rate, int channels);
    void changeStreamBufferSize();
    void playStream(const short* samples, int length, int rate, int channels);
    void playSound(Mixer* mixer, unsigned short* soundBuffer);

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
    const short* getRing() const { return ring; }

private:
    StreamSound(const StreamSound&) = delete;
    StreamSound& operator=(const StreamSound&) = delete;

    int volumeL;
    int volumeR;
    int cdReverbEnabled;
    int size;
    short* ring;
    int write;
    int read;
    short staging[StagingEntries];
    int phase;
    int fade;
    int refill;
    int captureIndex;
};
