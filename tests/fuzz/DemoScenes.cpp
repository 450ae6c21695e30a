#include "fuzz/DemoScenes.h"

#include "fuzz/PluginHost.h"
#include "plugin/Globals.h"
#include "synth/VagBlock.h"

#include <algorithm>
#include <fstream>
#include <cstring>
#include <sstream>

namespace fuzz
{
const std::vector<DemoStep>& demoSteps()
{
    static const std::vector<DemoStep> steps = [] {
        std::ifstream in(SPU_SOURCE_DIR "/demo/demo.script");
        if (!in)
            fail("cannot read " SPU_SOURCE_DIR "/demo/demo.script");
        std::vector<DemoStep> out;
        std::string line;
        while (std::getline(in, line))
        {
            std::istringstream words(line);
            std::string command;
            words >> command;
            if (command == "w")
            {
                std::string address, value;
                words >> address >> value;
                out.push_back({DemoStep::Write, static_cast<uint32_t>(std::stoul(address, nullptr, 16)),
                               static_cast<uint16_t>(std::stoul(value, nullptr, 16)), 0});
            }
            else if (command == "dmafile")
                out.push_back({DemoStep::Upload, 0, 0, 0});
            else if (command == "render")
            {
                int frames = 0;
                words >> frames;
                out.push_back({DemoStep::Render, 0, 0, frames});
            }
        }
        return out;
    }();
    return steps;
}

size_t demoSetupEnd()
{
    const std::vector<DemoStep>& steps = demoSteps();
    size_t i = 0;
    while (i < steps.size() && steps[i].kind != DemoStep::Render)
        ++i;
    return i;
}

namespace
{
void writeStep(CallWriter& writer, const DemoStep& step, int maxFrames, size_t uploadWords)
{
    switch (step.kind)
    {
    case DemoStep::Write:
        writer.writeRegister(step.address, step.value);
        break;
    case DemoStep::Upload:
    {
        const std::string& bytes = demoInstruments();
        std::vector<uint16_t> words(std::min(bytes.size() / 2, uploadWords));
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<uint16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                             static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
        writer.writeBlock(words);
        break;
    }
    case DemoStep::Render:
        writer.render(std::min(step.frames, maxFrames));
        break;
    }
}
} // namespace

void writeDemo(CallWriter& writer, size_t from, size_t to, int maxFrames, size_t uploadWords)
{
    const std::vector<DemoStep>& steps = demoSteps();
    const size_t setup = demoSetupEnd();
    for (size_t i = 0; i < setup; ++i)
        if (uploadWords > 0 || steps[i].kind != DemoStep::Upload)
            writeStep(writer, steps[i], maxFrames, uploadWords);
    for (size_t i = std::max(from, setup); i < std::min(to, steps.size()); ++i)
        writeStep(writer, steps[i], maxFrames, uploadWords);
}
} // namespace fuzz

namespace fuzz
{
void placeDemoInstruments()
{
    // Where the tune's transfer address (0x200 units of 8 bytes) puts them.
    const std::string& bytes = demoInstruments();
    std::memcpy(reinterpret_cast<uint8_t*>(theSPU.getSoundBuffer()) + 0x200 * 8, bytes.data(), bytes.size());
    VagBlock::flushAllCache();
}
} // namespace fuzz
