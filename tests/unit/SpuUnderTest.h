#pragma once

// The plugin's global SPU and output engine as a comparison target, plus a reset that
// brings every voice's decoder to a known state (earlier tests in the same process
// leave windows and filter history behind, which key-on and block entry read).

#include "model/RandomTraffic.h"
#include "plugin/Globals.h"
#include "reverb/Reverb.h"
#include "synth/VagBlock.h"
#include "synth/Voice.h"

#include <cmath>
#include <vector>

namespace spu_test
{
inline int& callbackCount()
{
    static int count = 0;
    return count;
}

// The frame count at each callback: when in a render call the interrupt came.
inline std::vector<unsigned long>& callbackTicks()
{
    static std::vector<unsigned long> ticks;
    return ticks;
}

inline void countCallback()
{
    ++callbackCount();
    callbackTicks().push_back(theSPU.getCurrentTickCount());
}

struct GlobalSpu : model::Target
{
    void write(uint32_t address, uint16_t value) override { theSPU.writeRegister(address, value); }
    uint16_t read(uint32_t address) override { return theSPU.readRegister(address); }
    void dma(const uint16_t* words, int count) override { theSPU.writeDMAMemory(words, count); }
    void render(int16_t* samples, int frames) override
    {
        unsigned long done = 0;
        while (done < static_cast<unsigned long>(frames))
            done += theAudioOut.playSounds(samples + 2 * done, frames - done);
    }
    int callbackCalls() override { return callbackCount(); }
};

// Plays silence through every voice for two blocks (zero windows, zero history, zero
// next pulse), then resets the SPU and sets the configuration statics of `m`.
inline void resetLike(const model::Spu& m)
{
    VagBlock::ConfigCacheVagDecode = 0;
    Voice::ConfigFinetune = 0;
    theSPU.init();
    for (int k = 0; k < 24; ++k)
    {
        theSPU.writeRegister(0x1F801C04 + 16 * k, 0x3FFF);
        theSPU.writeRegister(0x1F801C06 + 16 * k, 0x1000);
    }
    theSPU.writeRegister(0x1F801D88, 0xFFFF);
    theSPU.writeRegister(0x1F801D8A, 0x00FF);
    // The hardware reverb keeps its last returns across an init: run it on silence
    // with every register zero, so a test that used it leaves nothing to the next.
    Reverb::ConfigReverbType = 4;
    theSPU.writeRegister(0x1F801DAA, 0xC080);
    short frame[2 * 65];
    for (int i = 0; i < 64; ++i)
        theSPU.playSound(frame[2 * i], frame[2 * i + 1]);
    // It also keeps its half rate's phase: start every test on the same one.
    if (theSPU.getMixer().getReverb().getHalfRateCounter() & 1)
        theSPU.playSound(frame[128], frame[129]);

    VagBlock::ConfigCacheVagDecode = m.cache ? 1 : 0;
    Voice::ConfigFinetune = m.finetune;
    Voice::ConfigFinetuneRate = static_cast<int>(std::pow(2.0, m.finetune / 10.0 / 12.0) * 32767.0);
    Voice::ConfigSPUIRQForceInterruptFlag7 = m.forceFlag7 ? 1 : 0;
    Voice::NoiseState = 1;
    Voice::NoiseCount = 0;
    Reverb::ConfigReverbType = 0;
    AudioOut::ConfigSPUIRQWaitCPUAction = 0;
    theSPU.init();
    theAudioOut.setexecuteSPUIRQ(countCallback);
    callbackCount() = 0;
    callbackTicks().clear();
}
} // namespace spu_test
