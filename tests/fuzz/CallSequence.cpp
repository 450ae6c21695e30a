#include "fuzz/CallSequence.h"

#include "audio/CriticalSection.h"
#include "fuzz/PluginHost.h"
#include "plugin/Exports.h"
#include "plugin/Freeze.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace fuzz
{
namespace
{
const int ReverbTypes[8] = {0, 1, 2, 3, 4, 99, -1, 1000};
const int RingSizes[8] = {8, 1, 2, 16, 64, 999, 0, -3};
const uint32_t MaxCddaBytes = 4u << 20;
const uint32_t TransferAddressRegister = 0x1F801DA6;
const int HeavyCalls = 16;

// Reads little-endian values; past the end everything reads as 0.
class Input
{
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool done() const { return position >= size; }
    uint8_t u8() { return position < size ? data[position++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // Copies up to `length` bytes of the input to `out`; returns how many.
    size_t copy(void* out, size_t length)
    {
        const size_t n = std::min(length, size - std::min(size, position));
        if (n > 0)
            std::memcpy(out, data + position, n);
        position += n;
        return n;
    }

private:
    const uint8_t* data;
    size_t size;
    size_t position = 0;
};

uint8_t patternByte(size_t i)
{
    return static_cast<uint8_t>((i * 0x9D) ^ (i >> 7));
}

void noInterrupt(unsigned short, unsigned short) {}

class Runner
{
public:
    Runner(const uint8_t* data, size_t size, CallObserver* observer, unsigned long frameBudget)
        : in(data, size), observer(observer), frameBudget(frameBudget), record(records().first),
          scratch(records().second)
    {
        std::memset(record, 0, sizeof(SPUFreeze_t));
    }

    void runWithSettings()
    {
        Settings settings;
        settings.reverbType = ReverbTypes[in.u8() % 8];
        const uint8_t flags = in.u8();
        settings.cacheVagDecode = flags & 1;
        settings.waitCPUAction = (flags >> 1) & 1;
        settings.forceInterruptFlag7 = (flags >> 2) & 1;
        settings.updateBeforeRegisterAccess = (flags >> 3) & 1;
        settings.asyncMode = (flags >> 4) & 3;
        settings.audioOutMethod = (flags >> 6) & 3;
        settings.finetune = static_cast<int16_t>(in.u16());
        settings.soundBufferSize = RingSizes[in.u8() % 8];
        resetPlugin(settings);
        run();
    }

    void run()
    {
        while (!in.done())
            step(static_cast<Call>(in.u8() % CallCount));
        enterCS();
        stopRecording(theRecord);
        leaveCS();
    }

private:
    template <typename F> void call(const char* name, F f)
    {
        if (observer != nullptr)
            observer->begin(name);
        f();
        if (observer != nullptr)
            observer->end();
    }

    unsigned long address()
    {
        const uint16_t a = in.u16();
        switch (a >> 14)
        {
        case 0:
            return 0x1F801C00UL + (a & 0x1FF);
        case 1:
            return (static_cast<unsigned long>((a >> 9) & 7) << 29) | (0x1F801C00UL + (a & 0x1FF));
        case 2:
            return 0x1F801A00UL + (a & 0x7FF);
        default:
            return in.u32() | ((a & 1) != 0 ? 1UL << 32 : 0);
        }
    }

    int count() { return in.u16() % 4200 - 8; }

    std::vector<uint16_t> words(int count, bool fromInput)
    {
        std::vector<uint16_t> out(static_cast<size_t>(std::max(count, 0)));
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<uint16_t>(i * 0x9E37 + 0x1234);
        if (fromInput)
            in.copy(out.data(), 2 * out.size());
        return out;
    }

    // Before an SPUasync in the Wait mode: the device plays what is queued, as a
    // real one would meanwhile, so that the engine has no surplus to sleep off.
    void drainForWaitMode()
    {
        if (AudioOut::ConfigAsyncMode == 1)
            device().drainTo(theAudioOut.getWritePosition());
    }

    void playCdda()
    {
        const uint8_t flags = in.u8();
        int32_t length = in.i32();
        if (length > 0)
            length = static_cast<int32_t>(static_cast<uint32_t>(length) % (MaxCddaBytes + 1));
        // The chunk ends where the buffer ends: a read past the host's data is a read
        // past the allocation.
        static const std::unique_ptr<uint8_t[]> buffer = [] {
            std::unique_ptr<uint8_t[]> b(new uint8_t[MaxCddaBytes]);
            for (size_t i = 0; i < MaxCddaBytes; ++i)
                b[i] = patternByte(i);
            return b;
        }();
        const size_t bytes = length > 0 ? static_cast<size_t>(length) : 0;
        uint8_t* chunk = buffer.get() + MaxCddaBytes - bytes;
        const size_t copied = (flags & 2) != 0 ? in.copy(chunk, bytes) : 0;
        short* data = (flags & 1) != 0 ? nullptr : reinterpret_cast<short*>(chunk);
        if (heavyCall())
            call("SPUplayCDDAchannel", [data, length] { SPUplayCDDAchannel(data, length); });
        for (size_t i = 0; i < copied; ++i)
            chunk[i] = patternByte(MaxCddaBytes - bytes + i);
    }

    void playXa()
    {
        const uint8_t flags = in.u8();
        std::unique_ptr<xa_decode_t> xa(new xa_decode_t());
        xa->freq = in.i32();
        xa->stereo = in.i32();
        xa->nsamples = in.i32();
        xa->nbits = in.i32();
        if ((flags & 4) != 0)
            for (int i = 0; i < 16384; ++i)
                xa->pcm[i] = static_cast<int16_t>(i * 0x9E37);
        if ((flags & 2) != 0)
            in.copy(xa->pcm, 2 * std::min<size_t>(in.u16(), 16384));
        xa_decode_t* record = (flags & 1) != 0 ? nullptr : xa.get();
        if (heavyCall())
            call("SPUplayADPCMchannel", [record] { SPUplayADPCMchannel(record); });
    }

    // The calls that may each cost milliseconds (a CD audio chunk that laps the
    // stream ring, a save-state load that queues one, a recording's snapshot) are
    // held to HeavyCalls an input, so that a long input of them is not taken for
    // one call that takes too long; the ones past that are read and left out.
    bool heavyCall()
    {
        if (heavyCallsLeft == 0)
            return false;
        --heavyCallsLeft;
        return true;
    }

    unsigned long framesLeft() const
    {
        const unsigned long rendered = theSPU.getCurrentTickCount();
        return rendered < frameBudget ? frameBudget - rendered : 0;
    }

    void render()
    {
        const unsigned long frames = std::min<unsigned long>(in.u16() & 0x3FFF, framesLeft());
        const int extra = in.u8() % 5;
        const unsigned long length = 4 * frames + (extra < 4 ? extra : 0);
        std::vector<uint8_t> buffer(length, 0xA5);
        short* samples = extra == 4 ? nullptr : reinterpret_cast<short*>(buffer.data());
        call("SPUrender", [samples, length] { SPUrender(samples, length); });
        for (unsigned long i = 4 * frames; i < length; ++i)
            if (buffer[i] != 0xA5)
                fail("SPUrender wrote past its whole frames");
    }

    void checkedBlock()
    {
        const uint16_t unit = in.u16();
        const int n = count();
        std::vector<uint16_t> block = words(n, true);
        if (n <= 0)
            return;
        std::vector<uint16_t> back(block.size());
        call("SPUwriteRegister", [unit] { SPUwriteRegister(TransferAddressRegister, unit); });
        call("SPUwriteDMAMem", [&block, n] { SPUwriteDMAMem(block.data(), n); });
        call("SPUwriteRegister", [unit] { SPUwriteRegister(TransferAddressRegister, unit); });
        call("SPUreadDMAMem", [&back, n] { SPUreadDMAMem(back.data(), n); });
        if (back != block)
            fail("a DMA block did not read back as written");
    }

    void load()
    {
        if (!heavyCall())
            return;
        long result = 0;
        call("SPUfreeze", [this, &result] { result = SPUfreeze(0, record); });
        if (result != 1)
            fail("SPUfreeze load did not return 1");
        call("SPUfreeze", [this] { SPUfreeze(1, scratch); });
        if (std::memcmp(scratch->spuRegister, record->spuRegister, sizeof(record->spuRegister)) != 0)
            fail("a save after a load changed the register image");
        if (std::memcmp(scratch->soundBuffer, record->soundBuffer, sizeof(record->soundBuffer)) != 0)
            fail("a save after a load changed sound RAM");
    }

    void sizeQuery()
    {
        std::memset(scratch, 0x77, 64);
        long result = 0;
        call("SPUfreeze", [this, &result] { result = SPUfreeze(2, scratch); });
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(scratch);
        if (result != 1 || std::memcmp(bytes, "DIRIR", 6) != 0 || bytes[6] != 0x77 || bytes[7] != 0x77 ||
            scratch->version != 1 || scratch->size != sizeof(SPUFreeze_t) || bytes[16] != 0x77 ||
            bytes[63] != 0x77)
            fail("the size query wrote other than the header");
    }

    void setting()
    {
        const int which = in.u8() % 9;
        const int value = in.i32();
        int* const fields[9] = {&theConfig.ReverbType,
                                &theConfig.CacheVagDecode,
                                &theConfig.Finetune,
                                &theConfig.SPUIRQWaitCPUAction,
                                &theConfig.SPUIRQForceInterruptFlag7,
                                &theConfig.UpdateBeforeRegisterAccess,
                                &theConfig.AsyncMode,
                                &theConfig.AudioOutMethod,
                                &theConfig.RecOpt};
        call("setting", [&fields, which, value] {
            enterCS();
            *fields[which] = value;
            applySettings();
            leaveCS();
        });
    }

    // As the real-time window's "Record" button does.
    static void toggleRecording()
    {
        enterCS();
        if (theRecord != nullptr)
            stopRecording(theRecord);
        else if (theSPU.ChkXferAlignment()) // else the start would wait 100 ms for transfers
            startRecording(theSPU, theRecord);
        leaveCS();
    }

    void stubs()
    {
        const unsigned long any = in.u32();
        if (SPUgetOne(any) != 0 || SPUtest() != 0 || PSEgetLibType() != 4 || PSEgetLibVersion() != 65833)
            fail("a fixed result changed");
        SPUputOne(any, 1);
        SPUsetAddr(1, 2);
        SPUsetPitch(1, 2);
        SPUsetVolumeL(1, 2);
        SPUsetVolumeR(1, 2);
        SPUstartChannels1(1);
        SPUstartChannels2(1);
        SPUstopChannels1(1);
        SPUstopChannels2(1);
        SPUplaySample(1);
        SPUplaySector(any, nullptr);
    }

    void step(Call c)
    {
        switch (c)
        {
        case WriteRegister:
        {
            const unsigned long a = address();
            const uint16_t value = in.u16();
            call("SPUwriteRegister", [a, value] { SPUwriteRegister(a, value); });
            break;
        }
        case ReadRegister:
        {
            const unsigned long a = address();
            // With "UpdateBeforeRegisterAccess" a read renders the time owed first.
            if (framesLeft() > 0 || theConfig.getConfigUpdateBeforeRegisterAccess() == 0)
                call("SPUreadRegister", [a] { SPUreadRegister(a); });
            break;
        }
        case WriteDMA:
        {
            const uint16_t value = in.u16();
            call("SPUwriteDMA", [value] { SPUwriteDMA(value); });
            break;
        }
        case ReadDMA:
            call("SPUreadDMA", [] { SPUreadDMA(); });
            break;
        case WriteBlock:
        {
            const int n = count();
            const uint8_t flags = in.u8();
            std::vector<uint16_t> block = words(n, (flags & 2) != 0);
            uint16_t* source = (flags & 1) != 0 ? nullptr : block.data();
            call("SPUwriteDMAMem", [source, n] { SPUwriteDMAMem(source, n); });
            break;
        }
        case ReadBlock:
        {
            const int n = count();
            const uint8_t flags = in.u8();
            std::vector<uint16_t> block(static_cast<size_t>(std::max(n, 0)));
            uint16_t* destination = (flags & 1) != 0 ? nullptr : block.data();
            call("SPUreadDMAMem", [destination, n] { SPUreadDMAMem(destination, n); });
            break;
        }
        case CheckedBlock:
            checkedBlock();
            break;
        case PlayXA:
            playXa();
            break;
        case PlayCDDA:
            playCdda();
            break;
        case Render:
            render();
            break;
        case Async:
        {
            const uint32_t cycles = in.u32();
            const unsigned long owed = static_cast<unsigned long>(cycles) << (in.u8() % 48);
            drainForWaitMode();
            if (framesLeft() > 0)
                call("SPUasync", [owed] { SPUasync(owed); });
            break;
        }
        case Update:
            drainForWaitMode();
            if (framesLeft() > 0)
                call("SPUupdate", [] { SPUupdate(); });
            break;
        case Drain:
            device().drain(in.u16());
            break;
        case Save:
            call("SPUfreeze", [this] {
                if (SPUfreeze(1, record) != 1)
                    fail("SPUfreeze save did not return 1");
            });
            break;
        case SizeQuery:
            sizeQuery();
            break;
        case Patch:
        {
            const size_t offset = in.u32() % sizeof(SPUFreeze_t);
            const size_t length = std::min<size_t>(in.u8(), sizeof(SPUFreeze_t) - offset);
            in.copy(reinterpret_cast<uint8_t*>(record) + offset, length);
            break;
        }
        case Load:
            load();
            break;
        case FreezeNull:
        {
            const unsigned long mode = in.u32();
            call("SPUfreeze", [mode] {
                if (SPUfreeze(mode, nullptr) != 0)
                    fail("SPUfreeze with a null record did not return 0");
            });
            break;
        }
        case Callback:
        {
            void (*callback)(void) = in.u8() != 0 ? countInterrupt : nullptr;
            call("SPUregisterCallback", [callback] { SPUregisterCallback(callback); });
            break;
        }
        case CDDAVolume:
        {
            void (*callback)(unsigned short, unsigned short) = in.u8() != 0 ? noInterrupt : nullptr;
            call("SPUregisterCDDAVolume", [callback] { SPUregisterCDDAVolume(callback); });
            break;
        }
        case Setting:
            setting();
            break;
        case Record:
            if (heavyCall())
                call("record", toggleRecording);
            break;
        case Stubs:
            stubs();
            break;
        case CallCount:
            break;
        }
    }

    // The current record and a scratch one, made once: fresh half-megabyte
    // allocations for every input cost more than the input itself.
    static std::pair<SPUFreeze_t*, SPUFreeze_t*> records()
    {
        static SPUFreeze_t* const current = new SPUFreeze_t();
        static SPUFreeze_t* const other = new SPUFreeze_t();
        return {current, other};
    }

    Input in;
    CallObserver* observer;
    unsigned long frameBudget;
    int heavyCallsLeft = HeavyCalls;
    SPUFreeze_t* record;
    SPUFreeze_t* scratch;
};
} // namespace

void runCallSequence(const uint8_t* data, size_t size, CallObserver* observer, unsigned long frameBudget)
{
    Runner(data, size, observer, frameBudget).runWithSettings();
}

void runCalls(const uint8_t* data, size_t size, CallObserver* observer, unsigned long frameBudget)
{
    Runner(data, size, observer, frameBudget).run();
}

CallWriter::CallWriter(int reverbType, int flags, int finetune, int ringSize)
{
    u8(static_cast<uint8_t>(std::find(ReverbTypes, ReverbTypes + 8, reverbType) - ReverbTypes));
    u8(static_cast<uint8_t>(flags));
    u16(static_cast<uint16_t>(finetune));
    u8(static_cast<uint8_t>(std::find(RingSizes, RingSizes + 8, ringSize) - RingSizes));
}

void CallWriter::u16(uint16_t v)
{
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
}

void CallWriter::u32(uint32_t v)
{
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
}

void CallWriter::address(uint32_t a)
{
    if (a >= 0x1F801C00 && a < 0x1F801E00)
        u16(static_cast<uint16_t>(a - 0x1F801C00));
    else
    {
        u16(0xC000);
        u32(a);
    }
}

void CallWriter::count(int words)
{
    u16(static_cast<uint16_t>(words + 8));
}

void CallWriter::writeRegister(uint32_t a, uint16_t value)
{
    call(WriteRegister);
    address(a);
    u16(value);
}

void CallWriter::readRegister(uint32_t a)
{
    call(ReadRegister);
    address(a);
}

void CallWriter::writeBlock(const std::vector<uint16_t>& words)
{
    for (size_t done = 0; done < words.size();)
    {
        const size_t n = std::min<size_t>(words.size() - done, 4191);
        call(WriteBlock);
        count(static_cast<int>(n));
        u8(2);
        for (size_t i = 0; i < n; ++i)
            u16(words[done + i]);
        done += n;
    }
}

void CallWriter::readBlock(int words)
{
    call(ReadBlock);
    count(words);
    u8(0);
}

void CallWriter::checkedBlock(uint16_t transferAddress, const std::vector<uint16_t>& words)
{
    call(CheckedBlock);
    u16(transferAddress);
    count(static_cast<int>(words.size()));
    for (uint16_t w : words)
        u16(w);
}

void CallWriter::playXA(int32_t freq, int32_t stereo, int32_t nsamples, const std::vector<int16_t>& samples)
{
    call(PlayXA);
    u8(samples.empty() ? 0 : 2);
    u32(static_cast<uint32_t>(freq));
    u32(static_cast<uint32_t>(stereo));
    u32(static_cast<uint32_t>(nsamples));
    u32(16);
    if (!samples.empty())
    {
        u16(static_cast<uint16_t>(samples.size()));
        for (int16_t s : samples)
            u16(static_cast<uint16_t>(s));
    }
}

void CallWriter::playCDDA(const std::vector<int16_t>& samples)
{
    call(PlayCDDA);
    u8(2);
    u32(static_cast<uint32_t>(2 * samples.size()));
    for (int16_t s : samples)
        u16(static_cast<uint16_t>(s));
}

void CallWriter::render(int frames)
{
    for (; frames > 0; frames -= 16383)
    {
        call(Render);
        u16(static_cast<uint16_t>(std::min(frames, 16383)));
        u8(0);
    }
}

void CallWriter::async(uint32_t cycles)
{
    call(Async);
    u32(cycles);
    u8(0);
}

void CallWriter::drain(int frames)
{
    call(Drain);
    u16(static_cast<uint16_t>(frames));
}

void CallWriter::save()
{
    call(Save);
}

void CallWriter::sizeQuery()
{
    call(SizeQuery);
}

void CallWriter::patch(uint32_t offset, const std::vector<uint8_t>& data)
{
    for (size_t done = 0; done < data.size();)
    {
        const size_t n = std::min<size_t>(data.size() - done, 255);
        call(Patch);
        u32(static_cast<uint32_t>(offset + done));
        u8(static_cast<uint8_t>(n));
        bytes.insert(bytes.end(), data.begin() + done, data.begin() + done + n);
        done += n;
    }
}

void CallWriter::patchSavedXa(int32_t freq, int32_t stereo, int32_t nsamples)
{
    std::vector<uint8_t> fields;
    for (int32_t v : {freq, 16, stereo, nsamples})
        for (int i = 0; i < 4; ++i)
            fields.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    patch(offsetof(SPUFreeze_t, xa), fields);
}

void CallWriter::load()
{
    call(Load);
}

void CallWriter::record()
{
    call(Record);
}
} // namespace fuzz
