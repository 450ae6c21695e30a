#pragma once

// A host's calls to the plugin, encoded as bytes: the input format of the calls
// fuzz target, of its seeds and of the hold benchmark.
//
// An input is a settings head (5 bytes) and then calls, each an opcode byte
// (taken modulo the number of calls) followed by its arguments, little-endian.
// Bytes past the end read as 0, so every byte string is a valid sequence. An input
// renders at most 2048 frames: renders past that are cut short, SPUasync and
// SPUupdate are left out.
//
//   head      reverb (u8: 0-4, 99, -1, 1000 by value mod 8), flags (u8: 1 cache,
//             2 wait for the CPU, 4 interrupt flag 7, 8 update before register
//             access, 0x30 async mode, 0xC0 audio-out method), finetune (i16),
//             ring size (u8: SoundBufferSize 8, 1, 2, 16, 64, 999, 0, -3 by value
//             mod 8)
//   address   u16 a: a >> 14 = 0: 0x1F801C00 + (a & 0x1FF); 1: the same in the CPU
//             segment ((a >> 9) & 7) << 29; 2: 0x1F801A00 + (a & 0x7FF), in and around
//             the window; 3: a u32 follows, with bit 32 set when a & 1
//   count     u16 c: words (c mod 4200) - 8, so -8..4191
//
// Calls (arguments after the opcode):
//   WriteRegister  address, u16 value        ReadRegister   address
//   WriteDMA       u16 value                 ReadDMA
//   WriteBlock     count, u8 flags (1 null, 2 words follow in the input)
//   ReadBlock      count, u8 flags (1 null)
//   CheckedBlock   u16 transfer address, count, words: written at the address, read
//                  back from it, and compared
//   PlayXA         u8 flags (1 null, 2 samples follow, 4 pattern), i32 freq,
//                  i32 stereo, i32 nsamples, i32 nbits, then when asked u16 n and
//                  n samples (the rest of the record's 16384 are zero)
//   PlayCDDA       u8 flags (1 null, 2 bytes follow), i32 length (a positive one
//                  taken mod 4 MiB + 1; the buffer holds exactly that many bytes)
//   Render         u16 frames (mod 16384), u8 extra bytes (0-3; 4: null buffer)
//   Async          u32 cycles, u8 shift (mod 48)      Update
//   Drain          u16 frames the stand-in device plays
//   Save           SPUfreeze save into the current record
//   SizeQuery      SPUfreeze size query; the header is checked
//   Patch          u32 offset (mod the record), u8 length, bytes: into the record
//   Load           SPUfreeze load of the current record; a save right after must
//                  give back its register image and sound RAM
//   FreezeNull     u8 mode: SPUfreeze with a null record must return 0
//   Callback       u8: 0 no IRQ callback, else a counting one
//   CDDAVolume     u8: 0 null, else a callback
//   Setting        u8 which, i32 value: a setting changed while running, as the
//                  real-time window changes it
//   Record         start (transfers settled) or stop the event recorder
//   Stubs          the exports that do nothing

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz
{
enum Call : uint8_t
{
    WriteRegister,
    ReadRegister,
    WriteDMA,
    ReadDMA,
    WriteBlock,
    ReadBlock,
    CheckedBlock,
    PlayXA,
    PlayCDDA,
    Render,
    Async,
    Update,
    Drain,
    Save,
    SizeQuery,
    Patch,
    Load,
    FreezeNull,
    Callback,
    CDDAVolume,
    Setting,
    Record,
    Stubs,
    CallCount
};

// Notified around every export call; the hold benchmark measures them.
class CallObserver
{
public:
    virtual ~CallObserver() {}
    virtual void begin(const char* name) = 0;
    virtual void end() = 0;
};

// Rendering is most of an input's cost (microseconds a frame under the
// sanitizers), and long renders find little that many short ones would not.
const unsigned long FuzzFrameBudget = 512;

// Plays one input against the plugin (resetting it first, see PluginHost.h).
void runCallSequence(const uint8_t* data, size_t size, CallObserver* observer = nullptr,
                     unsigned long frameBudget = FuzzFrameBudget);
// Plays calls without a settings head on the plugin as it stands.
void runCalls(const uint8_t* data, size_t size, CallObserver* observer = nullptr,
              unsigned long frameBudget = FuzzFrameBudget);

// Writes inputs of this format: the seeds of the fuzz target.
class CallWriter
{
public:
    static const size_t HeadSize = 5;

    CallWriter(int reverbType = 4, int flags = 0x80, int finetune = 0, int ringSize = 8);

    void writeRegister(uint32_t address, uint16_t value);
    void readRegister(uint32_t address);
    void writeBlock(const std::vector<uint16_t>& words);
    void readBlock(int count);
    void checkedBlock(uint16_t transferAddress, const std::vector<uint16_t>& words);
    void playXA(int32_t freq, int32_t stereo, int32_t nsamples, const std::vector<int16_t>& samples);
    void playCDDA(const std::vector<int16_t>& samples);
    void render(int frames);
    void async(uint32_t cycles);
    void drain(int frames);
    void save();
    void sizeQuery();
    void patch(uint32_t offset, const std::vector<uint8_t>& bytes);
    // Patches the head of the saved record's XA part: freq, nbits (16), stereo, nsamples.
    void patchSavedXa(int32_t freq, int32_t stereo, int32_t nsamples);
    void load();
    void record();
    void call(Call call) { bytes.push_back(call); }

    const std::vector<uint8_t>& data() const { return bytes; }

private:
    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void address(uint32_t a);
    void count(int words);

    std::vector<uint8_t> bytes;
};
} // namespace fuzz
