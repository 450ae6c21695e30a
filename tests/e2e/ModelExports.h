#pragma once

// The model comparison's target side played by the loaded plugin: every register
// access, transfer and render goes through the exports, as a host makes them.

#include "PluginSession.h"
#include "model/RandomTraffic.h"

#include <vector>

namespace e2e
{
struct Exports : model::Target
{
    explicit Exports(Plugin& p) : plugin(p) {}
    void write(uint32_t address, uint16_t value) override { plugin.SPUwriteRegister(address, value); }
    uint16_t read(uint32_t address) override { return plugin.SPUreadRegister(address); }
    void dma(const uint16_t* words, int count) override
    {
        std::vector<unsigned short> copy(words, words + count);
        plugin.SPUwriteDMAMem(copy.data(), count);
    }
    void render(int16_t* samples, int frames) override { plugin.SPUrender(samples, 4ul * frames); }
    int callbackCalls() override { return callbackCount(); }
    Plugin& plugin;
};

} // namespace e2e
