#pragma once

// Random register traffic for comparing the plugin with the reference model: sample
// data with random ADPCM headers and loop flags, voices keyed on and off with random
// pitches, envelopes, fixed and swept volumes, noise, pitch modulation, end-flag
// writes, IRQ addresses near the played blocks and transfers across them. Both sides
// get the same calls; every rendered frame and the live registers are compared.

#include "model/ReferenceModel.h"

#include <cstdint>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace model
{
// The system under test, seen the way a host sees it.
struct Target
{
    virtual ~Target() {}
    virtual void write(uint32_t address, uint16_t value) = 0;
    virtual uint16_t read(uint32_t address) = 0;
    virtual void dma(const uint16_t* words, int count) = 0;
    virtual void render(int16_t* samples, int frames) = 0;
    virtual int callbackCalls() = 0;
};

// Both sides of one comparison; mismatch() describes the first difference found.
class Comparison
{
public:
    Comparison(Spu& m, Target& t) : model(m), target(t) {}

    void write(uint32_t address, uint16_t value)
    {
        model.write(address, value);
        target.write(address, value);
    }
    void dma(const std::vector<uint16_t>& words)
    {
        model.dmaWrite(words.data(), static_cast<int>(words.size()));
        target.dma(words.data(), static_cast<int>(words.size()));
    }
    // Renders frames on both sides; false (with a message) at the first difference.
    bool render(int frames)
    {
        std::vector<int16_t> got(2 * frames);
        target.render(got.data(), frames);
        for (int i = 0; i < frames; ++i)
        {
            int16_t l, r;
            model.frame(l, r);
            ++frameCount;
            if (l != 0 || r != 0)
                ++soundingFrames;
            if (got[2 * i] != l || got[2 * i + 1] != r)
            {
                std::ostringstream s;
                s << "frame " << model.ticks - 1 << ": plugin (" << got[2 * i] << ", " << got[2 * i + 1]
                  << ") model (" << l << ", " << r << ")";
                message = s.str();
                return false;
            }
        }
        return checkState();
    }
    bool checkState()
    {
        auto differ = [this](const char* what, long got, long want) {
            std::ostringstream s;
            s << "after frame " << model.ticks << ": " << what << " plugin " << got << " model " << want;
            message = s.str();
            return false;
        };
        if (target.read(0x1F801D9C) != model.endFlags(0, 16))
            return differ("end flags 0-15", target.read(0x1F801D9C), model.endFlags(0, 16));
        if (target.read(0x1F801D9E) != model.endFlags(16, 8))
            return differ("end flags 16-23", target.read(0x1F801D9E), model.endFlags(16, 8));
        if (((target.read(0x1F801DAE) >> 6) & 1) != model.irqFlag)
            return differ("status bit 6", (target.read(0x1F801DAE) >> 6) & 1, model.irqFlag);
        if (target.callbackCalls() != model.callbackCalls)
            return differ("callback calls", target.callbackCalls(), model.callbackCalls);
        for (int k = 0; k < 24; ++k)
        {
            const uint32_t base = 0x1F801C00 + 16 * k;
            if (target.read(base + 0xC) != uint16_t(model.v[k].env.volume))
                return differ("ADSR volume", target.read(base + 0xC), long(model.v[k].env.volume));
            if (target.read(base + 0xE) != uint16_t(model.v[k].repeat))
                return differ("repeat address", target.read(base + 0xE), model.v[k].repeat);
        }
        return true;
    }

    Spu& model;
    Target& target;
    std::string message;
    long frameCount = 0;
    long soundingFrames = 0; // frames that are not silence: the comparison is not vacuous
};

// Sample data: `blocks` random ADPCM blocks at unit address `unit`, with headers of
// every shift and filter (undefined filters included) and random loop flags.
inline std::vector<uint16_t> randomBlocks(std::mt19937& rng, int blocks, int loopPercent)
{
    std::vector<uint16_t> words;
    for (int b = 0; b < blocks; ++b)
    {
        const int shift = rng() % 16;
        const int filter = (rng() % 10 == 0) ? 5 + rng() % 11 : rng() % 5;
        int flags = 0;
        if (static_cast<int>(rng() % 100) < loopPercent)
            flags = rng() % 8;
        words.push_back(static_cast<uint16_t>((flags << 8) | (filter << 4) | shift));
        for (int w = 0; w < 7; ++w)
            words.push_back(static_cast<uint16_t>(rng()));
    }
    return words;
}

// A whole random session: sample areas, then `events` rounds of register traffic and
// rendering. Returns false with cmp.message at the first difference. `controlBits`
// are kept set in every control word written (0x0080: the reverb stays enabled).
inline bool runRandomSession(Comparison& cmp, uint32_t seed, int events, uint16_t controlBits = 0)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };

    // Sample areas (unit addresses): one inside the CD capture area, the rest above it,
    // and one at the very end of sound RAM so that voices wrap to address 0.
    const int areas[] = {0x0040, 0x0200, 0x1000, 0x4000, 0xFFC0};
    for (int unit : areas)
    {
        cmp.write(0x1F801DA6, static_cast<uint16_t>(unit));
        cmp.dma(randomBlocks(rng, 32, 30));
    }
    cmp.write(0x1F801D80, 0x3FFF);
    cmp.write(0x1F801D82, 0x3FFF);
    cmp.write(0x1F801DAA, static_cast<uint16_t>(0x0040 | controlBits));
    if (!cmp.render(1))
        return false;

    for (int e = 0; e < events; ++e)
    {
        const int k = pick(24);
        const uint32_t voice = 0x1F801C00 + 16 * k;
        switch (pick(16))
        {
        case 0:
        case 1:
        {
            cmp.write(voice + 0x0, pick(3) == 0 ? static_cast<uint16_t>(0x8000 | rng())
                                                : static_cast<uint16_t>(rng() & 0x7FFF));
            cmp.write(voice + 0x2, pick(3) == 0 ? static_cast<uint16_t>(0x8000 | rng())
                                                : static_cast<uint16_t>(rng() & 0x7FFF));
            const int pitches[] = {0x0400, 0x0800, 0x1000, 0x2000, 0x3000, 0x3FFF, 0x4000, 0xFFFF};
            cmp.write(voice + 0x4, pick(2) ? static_cast<uint16_t>(pitches[pick(8)])
                                           : static_cast<uint16_t>(rng() & 0x3FFF));
            cmp.write(voice + 0x6, static_cast<uint16_t>(areas[pick(5)] + 2 * pick(32) + pick(2)));
            cmp.write(voice + 0x8, static_cast<uint16_t>(rng()));
            cmp.write(voice + 0xA, static_cast<uint16_t>(rng()));
            cmp.write(voice + 0xE, static_cast<uint16_t>(areas[pick(5)] + pick(64)));
            cmp.write(k < 16 ? 0x1F801D88 : 0x1F801D8A, static_cast<uint16_t>(1u << (k % 16)));
            break;
        }
        case 2:
            cmp.write(k < 16 ? 0x1F801D8C : 0x1F801D8E, static_cast<uint16_t>(1u << (k % 16)));
            break;
        case 3:
            cmp.write(0x1F801D88, static_cast<uint16_t>(rng()));
            break;
        case 4:
            cmp.write(0x1F801D90 + 2 * pick(2), static_cast<uint16_t>(rng() & rng()));
            break;
        case 5:
            cmp.write(0x1F801D94 + 2 * pick(2), static_cast<uint16_t>(rng() & rng() & rng()));
            break;
        case 6:
            cmp.write(0x1F801D9C + 2 * pick(2), static_cast<uint16_t>(rng() & rng() & rng()));
            break;
        case 7:
            cmp.write(voice + 0xC, static_cast<uint16_t>(rng()));
            break;
        case 8:
            cmp.write(voice + 0x4, static_cast<uint16_t>(rng()));
            break;
        case 9:
            cmp.write(voice + pick(2) * 2, static_cast<uint16_t>(rng()));
            break;
        case 10:
            cmp.write(0x1F801D80 + 2 * pick(2), static_cast<uint16_t>(rng()));
            break;
        case 11:
            // IRQ address near a played block, interrupts on or off, noise rate.
            cmp.write(0x1F801DA4, static_cast<uint16_t>(areas[pick(5)] + pick(64)));
            cmp.write(0x1F801DAA,
                      static_cast<uint16_t>((rng() & 0x3F00) | (pick(4) ? 0x40 : 0) | controlBits));
            break;
        case 12:
            // A transfer over sample data: changes blocks that voices play (and their cache entries).
            cmp.write(0x1F801DA6, static_cast<uint16_t>(areas[pick(5)] + pick(64)));
            cmp.dma(randomBlocks(rng, 1 + pick(3), 30));
            break;
        case 13:
            cmp.write(0x1F801D98 + 2 * pick(2), static_cast<uint16_t>(rng()));
            break;
        case 14:
            cmp.write(voice + 0x8 + 2 * pick(2), static_cast<uint16_t>(rng()));
            break;
        default:
            break;
        }
        if (!cmp.render(1 + pick(pick(8) == 0 ? 2000 : 120)))
            return false;
    }
    return true;
}
} // namespace model
