#pragma once

#include <cstdint>
#include <vector>

// What the register traffic of a recording or a script tells of each voice, without
// rendering: when it was keyed on and off, which samples it started, the pitches it
// played at, and whether noise, pitch modulation or reverb were on for it while it
// was keyed. Writes come in time order, each with its frame; finish() closes what is
// still keyed at the end.
//
// A voice counts as sounding from a key-on to the next key-off (or key-on, or the
// end); the release after a key-off and a sample that ends on its own are the
// renderer's business, not the traffic's.
class VoiceTraffic
{
public:
    static constexpr int Voices = 24;
    static constexpr unsigned long RegisterBase = 0x1F801C00;
    static constexpr int RegisterCount = 256; // 16-bit registers from RegisterBase

    struct Span
    {
        uint32_t on;  // frame of the key-on
        uint32_t off; // frame of the key-off that ended it, or the end
    };

    struct Voice
    {
        std::vector<Span> spans; // one a key-on
        unsigned keyOns() const { return static_cast<unsigned>(spans.size()); }
        std::vector<uint32_t> startAddresses; // in bytes, each once, in the order first used
        uint16_t lowestPitch = 0xFFFF;        // pitch register values while keyed
        uint16_t highestPitch = 0;
        bool noise = false;
        bool modulated = false; // its pitch modulated by the voice before it
        bool reverb = false;
        bool heard = false; // a left or right volume not 0 while keyed
    };

    // Registers as they stand at the start (a recording's snapshot): 256 values from
    // RegisterBase, or null for all 0. They give a first key-on its pitch, sample and
    // modes; they key nothing on by themselves.
    explicit VoiceTraffic(const uint16_t* registers = nullptr);

    // A register write at frame `frame` (never before the last one's).
    void write(uint32_t frame, unsigned long address, uint16_t value);
    // What loading the start registers as a save state does at frame 0: it writes
    // every register again, the key-on words among them and then the key-off words,
    // so the voices they name start (and stop) there. Counts as no write.
    void keyFromSnapshot();
    // XA or CD-DA audio handed over at that frame.
    void cdInput(uint32_t frame);
    // The end of the recording: voices still keyed sound to here.
    void finish(uint32_t endFrame);

    const Voice& voice(int v) const { return voices[v]; }
    // The register writes seen, of any register.
    unsigned long writes() const { return writeCount; }
    uint32_t duration() const { return endFrame; }
    // Frames of the first and last CD input, and how many there were.
    unsigned long cdInputs() const { return cdCount; }
    uint32_t firstCdInput() const { return cdFirst; }
    uint32_t lastCdInput() const { return cdLast; }

    // The playback rate in Hz a pitch register value stands for (0x1000: 44100 Hz).
    static double pitchHz(uint16_t pitch) { return pitch * 44100.0 / 4096.0; }
    static double seconds(uint32_t frame) { return frame / 44100.0; }

private:
    uint16_t& reg(unsigned long address) { return registers[(address - RegisterBase) / 2]; }
    uint16_t voiceReg(int v, int offset) const { return registers[(16 * v + offset) / 2]; }
    void apply(uint32_t frame, unsigned long address, uint16_t value);
    bool voiceBit(unsigned long lowAddress, int v) const;
    void keyOn(int v, uint32_t frame);
    void keyOff(int v, uint32_t frame);
    void noteWhileKeyed(int v);

    uint16_t registers[RegisterCount];
    Voice voices[Voices];
    bool keyed[Voices] = {};
    unsigned long writeCount = 0;
    uint32_t latest = 0; // the frame of the last write
    uint32_t endFrame = 0;
    unsigned long cdCount = 0;
    uint32_t cdFirst = 0;
    uint32_t cdLast = 0;
};
