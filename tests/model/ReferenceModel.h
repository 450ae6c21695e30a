#pragma once

// An independent, deliberately plain model of the sound processor's frame: the
// voices (ADPCM decoding with the optional decode cache, envelope, swept volumes,
// noise, pitch modulation, loop and end flags, IRQ hits), the mixer with the
// reverb unit's own reference (reference::Unit, working in this model's sound RAM),
// the empty CD input's capture writes, and the interrupt
// collection and delivery. It shares no code with the plugin; tests drive both
// with the same register writes and transfers and compare every frame.
//
// Everything is kept in 64-bit integers so that the model cannot overflow where
// the plugin has to choose its widths with care.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ReferenceReverb.h"

namespace model
{
const int64_t kTop = (int64_t(1) << 27) - 1; // envelope and sweep accumulator limit

struct Tables
{
    int64_t ar[128], dr[16], sr[128], rr[32];
    Tables()
    {
        auto t = [](int n) {
            const int64_t whole = static_cast<int64_t>(std::pow(2.0, 31.0 - n / 4.0));
            return static_cast<int64_t>(static_cast<uint32_t>(whole) >> 5);
        };
        for (int r = 0; r < 128; ++r)
        {
            ar[r] = t(r + 1);
            sr[r] = t(r);
        }
        for (int r = 0; r < 16; ++r)
            dr[r] = int64_t(1) << (26 - r);
        for (int r = 0; r < 32; ++r)
            rr[r] = r <= 26 ? int64_t(1) << (26 - r) : 0;
    }
};

inline const Tables& tables()
{
    static const Tables t;
    return t;
}

inline int64_t clampTo(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// Signed division truncating towards zero, as C does for the step / 5.
inline int64_t div5(int64_t d)
{
    return d / 5;
}

struct Sweep
{
    int sweep = 0, fixed = 0, rate = 0, expo = 0, decrease = 0, negative = 0;
    int64_t current = 0, acc = 0;

    void write(uint16_t v)
    {
        sweep = (v >> 15) & 1;
        fixed = (v & 0x4000) ? int(v & 0x3FFF) - 0x4000 : int(v & 0x3FFF);
        rate = v & 0x7F;
        expo = (v >> 14) & 1;
        decrease = (v >> 13) & 1;
        negative = (v >> 12) & 1;
        if (!sweep)
        {
            current = fixed;
            acc = int64_t(fixed) * 8192;
        }
    }
    void step()
    {
        if (!sweep)
            return;
        int64_t a = acc < 0 ? -acc : acc;
        int64_t d = tables().sr[rate];
        if (decrease)
            d = -d;
        if (!expo)
            a = a + d;
        else
            a = a + div5(d) * (((a * 5) >> 27) + 1);
        if (a >= kTop)
            a = kTop;
        else if (a <= 0)
            a = 0;
        acc = negative ? -a : a;
        current = acc >> 13; // floor, as an arithmetic shift
    }
};

struct Adsr
{
    int attackExp = 0, attackRate = 0, decayRate = 0, sustainLevel = 0;
    int sustainExp = 0, sustainDecrease = 0, sustainRate = 0, releaseExp = 0, releaseRate = 0;
    int64_t volume = 0, acc = 0;
    int phase = 0;

    void write1(uint16_t v)
    {
        attackExp = v >> 15;
        attackRate = (v >> 8) & 0x7F;
        decayRate = (v >> 4) & 0xF;
        sustainLevel = v & 0xF;
    }
    void write2(uint16_t v)
    {
        sustainExp = v >> 15;
        sustainDecrease = (v >> 14) & 1;
        sustainRate = (v >> 6) & 0x7F;
        releaseExp = (v >> 5) & 1;
        releaseRate = v & 0x1F;
    }
    void keyOn()
    {
        phase = 1;
        volume = 1;
        acc = 1;
    }
    void setLevel(uint16_t v)
    {
        volume = v;
        acc = int64_t(v) << 12;
    }
    void step()
    {
        const Tables& t = tables();
        const int64_t v = volume;
        switch (phase)
        {
        case 0:
            acc = 0;
            break;
        case 1:
            acc += t.ar[attackRate] >> ((attackExp && v > 0x6000) ? 2 : 0);
            if (acc >= kTop)
                phase = 2;
            break;
        case 2:
            acc -= (t.dr[decayRate] >> 3) * ((v >> 12) + 1);
            if (acc <= (int64_t(1) << 23) * (sustainLevel + 1))
                phase = 3;
            break;
        case 3:
        {
            const int64_t d = sustainDecrease ? -t.sr[sustainRate] : t.sr[sustainRate];
            acc += sustainExp ? div5(d) * (((v * 5) >> 15) + 1) : d;
            break;
        }
        case 4:
            acc -= releaseExp ? (t.rr[releaseRate] >> 3) * ((v >> 12) + 1) : t.rr[releaseRate];
            break;
        }
        acc = clampTo(acc, 0, kTop);
        volume = acc >> 12;
        if (volume == 0 && acc != 0)
            volume = 1;
    }
};

struct CacheEntry
{
    int64_t win[29] = {};
    int64_t h1 = 0, h2 = 0;
    bool valid = false;
};

struct Spu;

struct VoiceModel
{
    // decoder
    int64_t own[29] = {};
    int64_t* active = own;
    int64_t h1 = 0, h2 = 0, nextPulse = 0;

    Sweep volL, volR;
    Adsr env;
    int64_t pitch = 0;
    int start = 0, repeat = 0, fm = 0, noise = 0, reverb = 0, endFlag = 1;
    int64_t pos = 0;
    int cur = 0;
    int64_t out = 0;
    bool irqHit = false;
};

struct Spu
{
    // configuration
    bool cache = false;
    int finetune = 0;
    bool forceFlag7 = false;
    bool reverbPassesThrough = false; // selector outside the table: the send comes back unchanged
    int reverbSelector = 0;           // the reverb algorithm; 0 returns silence

    std::vector<uint16_t> ram = std::vector<uint16_t>(0x40000, 0);
    std::vector<CacheEntry> cacheBlocks = std::vector<CacheEntry>(32768);
    VoiceModel v[24];

    Sweep mainL, mainR;
    int64_t reverbVolL = 0, reverbVolR = 0;
    int reverbOn = 0;
    reference::Unit reverb;
    uint16_t reverbBlock[32] = {};
    int64_t sumL = 0, sumR = 0, sendL = 0, sendR = 0;

    uint32_t noiseCount = 0, noiseState = 1, noiseClock = 16;
    int irqAddress = 0;
    int irqEnable = 0, irqFlag = 0;
    int64_t voiceIrqCount = 0, xferIrqCount = 0;
    uint32_t xferAddress = 0;
    uint16_t control = 0;
    int captureIndex = 0;
    uint32_t ticks = 0;
    int64_t pendingIrq = 0;
    int callbackCalls = 0;
    bool callbackRegistered = true;

    // ---- decoder ----
    int flagOf(int unit) const { return (ram[(unit * 4) & 0x3FFFF] >> 8) & 7; }

    void decode(VoiceModel& vc, int unit)
    {
        static const int coefA[5] = {0, 60, 115, 98, 122};
        static const int coefB[5] = {0, 0, -52, -55, -60};
        const int word0 = (unit * 4) & 0x3FFFF;
        const int header = ram[word0] & 0xFF;
        const int shift = header & 0xF;
        int filter = header >> 4;
        if (filter > 4)
            filter = 0; // chosen reading of the undefined filters: no prediction
        for (int n = 0; n < 28; ++n)
        {
            const int byte = 2 + n / 2;
            const uint16_t word = ram[(word0 + byte / 2) & 0x3FFFF];
            const int b = (byte & 1) ? (word >> 8) : (word & 0xFF);
            int d = (n & 1) ? (b >> 4) : (b & 0xF);
            if (d >= 8)
                d -= 16;
            const int64_t sum =
                ((int64_t(d) * 262144) >> shift) + vc.h1 * coefA[filter] + vc.h2 * coefB[filter];
            const int64_t s = clampTo(sum >> 6, -32768, 32767);
            vc.active[n + 1] = s;
            vc.h2 = vc.h1;
            vc.h1 = s;
        }
    }

    void enterBlock(VoiceModel& vc, int unit, bool reset)
    {
        if (!cache)
        {
            if (reset)
            {
                vc.h1 = vc.h2 = 0;
                vc.own[0] = vc.nextPulse;
            }
            else
                vc.own[0] = vc.own[28];
            vc.active = vc.own;
            decode(vc, unit);
            return;
        }
        const int64_t last = vc.active[28];
        CacheEntry& e = cacheBlocks[(unit >> 1) & 0x7FFF];
        vc.active = e.win;
        e.win[0] = last;
        if (e.valid)
        {
            vc.h1 = e.h1;
            vc.h2 = e.h2;
            return;
        }
        if (reset)
            vc.h1 = vc.h2 = 0;
        decode(vc, unit);
        e.h1 = vc.h1;
        e.h2 = vc.h2;
        e.valid = true;
    }

    int64_t pulse(VoiceModel& vc, int64_t p)
    {
        const int64_t i = p >> 12, f = p & 0xFFF;
        const int64_t a = vc.active[i], b = vc.active[i + 1];
        vc.nextPulse = b;
        return a + (((b - a) * f) >> 12);
    }

    // ---- voice ----
    void header(VoiceModel& vc)
    {
        const int f = flagOf(vc.cur);
        if (f & 4)
            vc.repeat = vc.cur;
        if (f & 1)
            vc.endFlag = 1;
    }

    void moveNext(VoiceModel& vc)
    {
        if (vc.cur + 1 == irqAddress)
        {
            ++voiceIrqCount;
            vc.irqHit = true;
        }
        const int f = flagOf(vc.cur);
        if (!(f & 1))
            vc.cur += 2;
        else
        {
            if (!(f & 2))
                vc.env.phase = 0;
            vc.repeat &= 0xFFFE;
            vc.cur = vc.repeat;
            if (f == 7 && forceFlag7 && vc.irqHit)
            {
                ++voiceIrqCount;
                vc.irqHit = false;
            }
        }
        vc.cur &= 0xFFFF;
    }

    void keyOn(VoiceModel& vc)
    {
        vc.cur = vc.start & 0xFFFE;
        vc.endFlag = 0;
        header(vc);
        enterBlock(vc, vc.cur, true);
        vc.pos = 0x1000;
        vc.env.keyOn();
        vc.irqHit = false;
    }

    int64_t noiseValue() const { return int16_t(noiseState >> 16); }

    void playVoice(int k)
    {
        VoiceModel& vc = v[k];
        int64_t step = vc.pitch;
        if (vc.fm && k > 0)
        {
            const int64_t m = int64_t(int16_t(vc.pitch & 0xFFFF)) * v[k - 1].out;
            step = vc.pitch + ((m - (m >> 8)) >> 15);
        }
        step = std::min<int64_t>(step, 0x3FFF);
        if (vc.env.volume == 0)
        {
            vc.irqHit = false;
            vc.pos += step;
            if (vc.pos > 0x1BFFF)
            {
                moveNext(vc);
                header(vc);
                vc.pos -= 0x1C000;
            }
            if (vc.cur == irqAddress)
            {
                ++voiceIrqCount;
                vc.irqHit = true;
            }
            return;
        }
        int64_t s = pulse(vc, vc.pos);
        vc.pos += step;
        if (vc.pos > 0x1BFFF)
        {
            moveNext(vc);
            header(vc);
            enterBlock(vc, vc.cur, false);
            vc.pos -= 0x1C000;
        }
        if (vc.noise)
            s = noiseValue();
        if (vc.cur == irqAddress)
        {
            ++voiceIrqCount;
            vc.irqHit = true;
        }
        vc.volL.step();
        vc.volR.step();
        vc.env.step();
        const int64_t o = (s * vc.env.volume) >> 15;
        vc.out = o;
        const int64_t l = (o * vc.volL.current) >> 14, r = (o * vc.volR.current) >> 14;
        sumL += l;
        sumR += r;
        if (vc.reverb)
        {
            sendL += l;
            sendR += r;
        }
    }

    void noiseTick()
    {
        const uint32_t c = (noiseCount * 2) & 0xFFFFF;
        uint32_t r = 0;
        for (int b = 0; b < 20; ++b)
            if (c & (1u << b))
                r |= 1u << (19 - b);
        if (r < noiseClock)
        {
            const uint32_t s = noiseState;
            const uint32_t in = ((s >> 31) ^ (s >> 21) ^ (s >> 1) ^ s) & 1;
            noiseState = (s << 1) | in;
        }
        ++noiseCount;
    }

    // ---- frame ----
    void frame(int16_t& left, int16_t& right)
    {
        noiseTick();
        for (int k = 0; k < 24; ++k)
            playVoice(k);
        ram[captureIndex] = 0;
        ram[512 + captureIndex] = 0;
        captureIndex = (captureIndex + 1) & 511;
        if (reverbOn)
        {
            // The send enters the unit as 32-bit values (24 voices cannot pass that range).
            int32_t retL = int32_t(sendL), retR = int32_t(sendR);
            if (!reverbPassesThrough)
            {
                reverb.hw.ram = &ram; // set here so that a copied model works in its own RAM
                reverb.run(reverbSelector, retL, retR);
            }
            sumL += (retL * reverbVolL) >> 15;
            sumR += (retR * reverbVolR) >> 15;
        }
        mainL.step();
        mainR.step();
        left = int16_t(clampTo((sumL * mainL.current) >> 14, -32768, 32767));
        right = int16_t(clampTo((sumR * mainR.current) >> 14, -32768, 32767));
        sumL = sumR = sendL = sendR = 0;
        ++ticks;

        int64_t total = xferIrqCount;
        if (!irqFlag && irqEnable)
            total += voiceIrqCount;
        if (total != 0)
            irqFlag = 1;
        voiceIrqCount = xferIrqCount = 0;
        pendingIrq += total;
        if (pendingIrq >= 1 && callbackRegistered)
        {
            ++callbackCalls;
            pendingIrq = 0;
        }
    }

    // ---- registers and transfers ----
    void irqCheck()
    {
        if (irqFlag)
            return;
        if (uint32_t(irqAddress) * 8 == xferAddress)
            xferIrqCount += irqEnable;
    }

    int64_t finetuneRate() const
    {
        return static_cast<int64_t>(std::pow(2.0, finetune / 10.0 / 12.0) * 32767.0);
    }

    void write(uint32_t address, uint16_t value)
    {
        const uint32_t a = address & 0xFFF;
        if (a >= 0xDC0 && a < 0xE00)
        {
            // The whole block is handed to the unit again after every write.
            reverbBlock[(a - 0xDC0) >> 1] = value;
            reverb.setRegisters(reverbBlock);
            return;
        }
        if (a >= 0xC00 && a < 0xD80)
        {
            VoiceModel& vc = v[(a - 0xC00) >> 4];
            switch (a & 0xF)
            {
            case 0x0:
                vc.volL.write(value);
                break;
            case 0x2:
                vc.volR.write(value);
                break;
            case 0x4:
                vc.pitch = value;
                if (finetune != 0)
                    vc.pitch = (vc.pitch * finetuneRate()) >> 15;
                break;
            case 0x6:
                vc.start = value;
                break;
            case 0x8:
                vc.env.write1(value);
                break;
            case 0xA:
                vc.env.write2(value);
                break;
            case 0xC:
                vc.env.setLevel(value);
                break;
            case 0xE:
                vc.repeat = value;
                break;
            }
            return;
        }
        auto bits = [&](int first, int count, auto apply) {
            for (int i = 0; i < count; ++i)
                apply(v[first + i], (value >> i) & 1);
        };
        switch (a)
        {
        case 0xD80:
            mainL.write(value);
            break;
        case 0xD82:
            mainR.write(value);
            break;
        case 0xD84:
            reverbVolL = (value & 0x8000) ? value - 0x8000 : value;
            break;
        case 0xD86:
            reverbVolR = (value & 0x8000) ? value - 0x8000 : value;
            break;
        case 0xD88:
            bits(0, 16, [&](VoiceModel& vc, int b) {
                if (b)
                    keyOn(vc);
            });
            break;
        case 0xD8A:
            bits(16, 8, [&](VoiceModel& vc, int b) {
                if (b)
                    keyOn(vc);
            });
            break;
        case 0xD8C:
            bits(0, 16, [&](VoiceModel& vc, int b) {
                if (b)
                {
                    vc.env.phase = 4;
                    vc.irqHit = false;
                }
            });
            break;
        case 0xD8E:
            bits(16, 8, [&](VoiceModel& vc, int b) {
                if (b)
                {
                    vc.env.phase = 4;
                    vc.irqHit = false;
                }
            });
            break;
        case 0xD90:
            bits(0, 16, [](VoiceModel& vc, int b) { vc.fm = b; });
            break;
        case 0xD92:
            bits(16, 8, [](VoiceModel& vc, int b) { vc.fm = b; });
            break;
        case 0xD94:
            bits(0, 16, [](VoiceModel& vc, int b) { vc.noise = b; });
            break;
        case 0xD96:
            bits(16, 8, [](VoiceModel& vc, int b) { vc.noise = b; });
            break;
        case 0xD98:
            bits(0, 16, [](VoiceModel& vc, int b) { vc.reverb = b; });
            break;
        case 0xD9A:
            bits(16, 8, [](VoiceModel& vc, int b) { vc.reverb = b; });
            break;
        case 0xD9C:
            bits(0, 16, [](VoiceModel& vc, int b) {
                vc.endFlag = b;
                if (b)
                    vc.env.phase = 0;
            });
            break;
        case 0xD9E:
            bits(16, 8, [](VoiceModel& vc, int b) {
                vc.endFlag = b;
                if (b)
                    vc.env.phase = 0;
            });
            break;
        case 0xDA2:
            reverb.hw.setStart(value);
            break;
        case 0xDA4:
            irqAddress = value;
            irqCheck();
            break;
        case 0xDA6:
            xferAddress = uint32_t(value) * 8;
            irqCheck();
            break;
        case 0xDAA:
        {
            control = value;
            const int f = (value >> 8) & 0x3F;
            noiseClock = uint32_t((f & 3) + 4) << ((f >> 2) + 2);
            reverbOn = (value >> 7) & 1;
            irqEnable = (value >> 6) & 1;
            if (!irqEnable)
                irqFlag = 0;
            else
                irqCheck();
            break;
        }
        default:
            break;
        }
    }

    void dmaWrite(const uint16_t* words, int count)
    {
        for (int i = 0; i < count; ++i)
        {
            ram[(xferAddress >> 1) & 0x3FFFF] = words[i];
            cacheBlocks[(xferAddress >> 4) & 0x7FFF].valid = false;
            xferAddress = (xferAddress + 2) & 0x7FFFF;
            irqCheck();
        }
        control &= 0xFFCF;
    }

    // Reads the plugin computes from live state.
    uint16_t endFlags(int first, int count) const
    {
        uint16_t r = 0;
        for (int i = 0; i < count; ++i)
            r |= uint16_t(v[first + i].endFlag ? 1 : 0) << i;
        return r;
    }
};
} // namespace model
