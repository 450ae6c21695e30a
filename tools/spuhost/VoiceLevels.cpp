#include "spuhost/VoiceLevels.h"

#include "spuhost/Plugin.h"

#include <algorithm>

namespace
{
const unsigned long EnvelopeLevelBase = 0x1F801C0C; // voice v's at + 16 × v

// The installed probe and the plugin's own functions.
VoiceLevels* active = nullptr;
Plugin::RenderFn pluginRender = nullptr;
Plugin::ReadRegisterFn pluginRead = nullptr;
} // namespace

VoiceLevels::VoiceLevels(uint32_t durationFrames, int columnCount)
    : duration(std::max<uint32_t>(durationFrames, 1))
{
    for (std::vector<uint16_t>& voice : columns)
        voice.assign(static_cast<size_t>(std::max(columnCount, 1)), 0);
}

void VoiceLevels::install(Plugin& plugin)
{
    active = this;
    pluginRender = plugin.SPUrender;
    pluginRead = plugin.SPUreadRegister;
    plugin.SPUrender = renderProbed;
}

void VoiceLevels::renderProbed(short* frames, unsigned long bytes)
{
    unsigned long left = bytes / 4;
    while (left > 0)
    {
        const unsigned long step = std::min(left, StepFrames);
        pluginRender(frames, step * 4);
        frames += 2 * step;
        left -= step;
        active->rendered += static_cast<uint32_t>(step);
        active->sample(step);
    }
}

void VoiceLevels::sample(unsigned long frames)
{
    // The level at the step's end stands for every column the step reaches into: in a
    // short recording a column is shorter than a step.
    const uint64_t count = columns[0].size();
    const auto columnOf = [this, count](uint64_t frame) {
        return static_cast<size_t>(std::min<uint64_t>(count - 1, frame * count / duration));
    };
    const size_t first = columnOf(rendered - frames);
    const size_t last = columnOf(rendered - 1);
    for (int v = 0; v < Voices; ++v)
    {
        const uint16_t level = pluginRead(EnvelopeLevelBase + 16 * static_cast<unsigned long>(v));
        for (size_t c = first; c <= last; ++c)
            columns[v][c] = std::max(columns[v][c], level);
    }
}
