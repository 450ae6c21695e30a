// Scripted scenes through the exports against the independent model: the demo tune
// (noise, pitch modulation, looping and one-shot samples, many envelopes, the hardware
// reverb in its "Hall" room) with the decode cache off and on, and interrupt delivery
// with the wait for the CPU.

#include "ModelExports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace
{
// Runs a spuhost script (w, dmafile, render; init is done by the session) on both sides.
bool runScript(model::Comparison& cmp, const std::string& dir, const std::string& name)
{
    std::ifstream in(dir + "/" + name);
    if (!in)
    {
        cmp.message = "cannot read " + name;
        return false;
    }
    for (std::string line; std::getline(in, line);)
    {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string command, a, b;
        words >> command >> a >> b;
        if (command == "w")
            cmp.write(static_cast<uint32_t>(std::stoul(a, nullptr, 16)),
                      static_cast<uint16_t>(std::stoul(b, nullptr, 16)));
        else if (command == "dmafile")
        {
            std::ifstream data(dir + "/" + a, std::ios::binary);
            const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(data)),
                                                   std::istreambuf_iterator<char>());
            std::vector<uint16_t> w(bytes.size() / 2);
            for (size_t i = 0; i < w.size(); ++i)
                w[i] = static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
            cmp.dma(w);
        }
        else if (command == "render")
        {
            if (!cmp.render(std::stoi(a)))
                return false;
        }
    }
    return true;
}

void demoAgainstModel(int cache)
{
    e2e::PluginSession session({{"CacheVagDecode", cache}});
    ASSERT_TRUE(session.fresh() && session.ok());
    model::Spu m;
    m.cache = cache != 0;
    m.reverbSelector = 4; // the session's ReverbType: the register-driven hardware model
    e2e::Exports target(*session);
    model::Comparison cmp(m, target);
    ASSERT_TRUE(runScript(cmp, std::string(SPU_SOURCE_DIR) + "/demo", "demo.script")) << cmp.message;
    EXPECT_GT(cmp.frameCount, 20 * 44100);
    EXPECT_GT(cmp.soundingFrames, cmp.frameCount * 9 / 10);
    // The reverb was on and working: its work area (from the start register's
    // value x 8 bytes to the end of sound RAM) holds the room's echoes.
    const size_t workStart = size_t(0xEA44) * 4;
    EXPECT_EQ(0xEA44, m.reverb.hw.start / 4);
    const size_t written = size_t(
        std::count_if(m.ram.begin() + long(workStart), m.ram.end(), [](uint16_t w) { return w != 0; }));
    EXPECT_GT(written, (m.ram.size() - workStart) / 2);
}

TEST(ScriptedScenesTest, DemoTuneMatchesModelWithoutCache)
{
    demoAgainstModel(0);
}
TEST(ScriptedScenesTest, DemoTuneMatchesModelWithCache)
{
    demoAgainstModel(1);
}

TEST(ScriptedScenesTest, WaitForCpuStopsRenderingAfterTheInterruptFrame)
{
    e2e::PluginSession session({{"SPUIRQWaitCPUAction", 1}});
    ASSERT_TRUE(session.fresh() && session.ok());
    session->SPUwriteRegister(0x1F801DA4, 0x0300);
    session->SPUwriteRegister(0x1F801DAA, 0x0040);
    session->SPUwriteRegister(0x1F801C06, 0x0300); // voice 0 parked (pitch 0) on the IRQ address
    session->SPUwriteRegister(0x1F801D88, 0x0001);
    std::vector<short> buffer(2 * 64, 0x1234);
    session->SPUrender(buffer.data(), 4 * 64);
    EXPECT_EQ(1, e2e::callbackCount());
    // The frames after the interrupt frame are held back: silence, not what the
    // host's buffer held (RenderExportsTest shows them silent with a voice sounding).
    for (size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(0, buffer[i]) << "sample " << i;
    // The flag stays set (not acknowledged): no further delivery, so a whole block.
    session->SPUrender(buffer.data(), 4 * 64);
    EXPECT_EQ(0, buffer[2 * 63]);
    EXPECT_EQ(1, e2e::callbackCount());
}
} // namespace
