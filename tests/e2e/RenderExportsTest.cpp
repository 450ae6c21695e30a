// Rendering through the exports (SPUwriteRegister, SPUwriteDMAMem, SPUrender,
// SPUregisterCallback) against the independent model, and SPUrender's handling of
// bad arguments.

#include "ModelExports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{
void compareSession(int cache, int finetune, int flag7, uint32_t seed)
{
    e2e::PluginSession session(
        {{"CacheVagDecode", cache}, {"Finetune", finetune}, {"SPUIRQForceInterruptFlag7", flag7}});
    ASSERT_TRUE(session.fresh()) << "the plugin was already loaded; its statics would carry over";
    ASSERT_TRUE(session.ok());
    model::Spu m;
    m.cache = cache != 0;
    m.finetune = finetune;
    m.forceFlag7 = flag7 != 0;
    e2e::Exports target(*session);
    model::Comparison cmp(m, target);
    ASSERT_TRUE(model::runRandomSession(cmp, seed, 400)) << cmp.message;
    EXPECT_GT(cmp.soundingFrames, cmp.frameCount / 10);
    EXPECT_GT(m.callbackCalls, 0);
    std::printf("%ld of %ld frames sounding, %d interrupts\n", cmp.soundingFrames, cmp.frameCount,
                m.callbackCalls);
}

TEST(RenderExportsTest, RandomTrafficMatchesModelWithoutCache)
{
    compareSession(0, 0, 0, 11);
}
TEST(RenderExportsTest, RandomTrafficMatchesModelWithCache)
{
    compareSession(1, 0, 0, 12);
}
TEST(RenderExportsTest, RandomTrafficMatchesModelWithFinetuneAndFlag7)
{
    compareSession(1, 240, 1, 13);
}
TEST(RenderExportsTest, RandomTrafficMatchesModelWithFinetuneDown)
{
    compareSession(0, -55, 0, 14);
}

TEST(RenderExportsTest, NullBufferOrShortLengthRendersNothing)
{
    e2e::PluginSession session;
    ASSERT_TRUE(session.fresh() && session.ok());
    // A voice that would sound at once if anything were rendered.
    session->SPUwriteRegister(0x1F801D80, 0x3FFF);
    session->SPUwriteRegister(0x1F801D82, 0x3FFF);
    session->SPUwriteRegister(0x1F801C00, 0x3FFF);
    session->SPUwriteRegister(0x1F801C02, 0x3FFF);
    session->SPUwriteRegister(0x1F801C04, 0x1000);
    session->SPUwriteRegister(0x1F801C06, 0x0200);
    session->SPUwriteRegister(0x1F801DA6, 0x0200);
    std::vector<unsigned short> block = {0x000C, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777};
    session->SPUwriteDMAMem(block.data(), 8);
    session->SPUwriteRegister(0x1F801D88, 1);

    session->SPUrender(nullptr, 4096);
    short guard[4] = {111, 222, 333, 444};
    for (unsigned long length = 0; length < 4; ++length)
        session->SPUrender(guard, length);
    EXPECT_EQ(111, guard[0]);
    EXPECT_EQ(222, guard[1]);
    EXPECT_EQ(333, guard[2]);
    EXPECT_EQ(444, guard[3]);

    // Nothing was rendered: the envelope is still at its key-on level of 1.
    EXPECT_EQ(1, session->SPUreadRegister(0x1F801C0C));
    // Seven bytes render one whole frame and leave the rest of the buffer alone.
    short out[4] = {0, 0, 555, 666};
    session->SPUrender(out, 7);
    EXPECT_EQ(555, out[2]);
    EXPECT_EQ(666, out[3]);
    EXPECT_NE(1, session->SPUreadRegister(0x1F801C0C));
}

TEST(RenderExportsTest, NullCallbackKeepsHitsUntilOneIsRegistered)
{
    e2e::PluginSession session;
    ASSERT_TRUE(session.fresh() && session.ok());
    session->SPUregisterCallback(nullptr);
    session->SPUwriteRegister(0x1F801DA4, 0x0100);
    session->SPUwriteRegister(0x1F801DAA, 0x0040);
    std::vector<unsigned short> words(0x400, 0);
    session->SPUwriteDMAMem(words.data(), 0x400);
    short frame[2];
    session->SPUrender(frame, 4);
    EXPECT_EQ(0x40, session->SPUreadRegister(0x1F801DAE) & 0x40);
    EXPECT_EQ(0, e2e::callbackCount());
    session->SPUregisterCallback(e2e::countCallback);
    session->SPUrender(frame, 4);
    EXPECT_EQ(1, e2e::callbackCount());
}
} // namespace

namespace
{
// A voice that sounds at once (one block looping on itself, at full volume) and an
// interrupt at the transfer address that the next DMA block reaches.
void soundingVoiceAndTransferInterrupt(Plugin& plugin)
{
    plugin.SPUwriteRegister(0x1F801D80, 0x3FFF);
    plugin.SPUwriteRegister(0x1F801D82, 0x3FFF);
    plugin.SPUwriteRegister(0x1F801C00, 0x3FFF);
    plugin.SPUwriteRegister(0x1F801C02, 0x3FFF);
    plugin.SPUwriteRegister(0x1F801C04, 0x1000);
    plugin.SPUwriteRegister(0x1F801C06, 0x0200);
    plugin.SPUwriteRegister(0x1F801C08, 0x00FF); // attack at once, full sustain
    plugin.SPUwriteRegister(0x1F801DA6, 0x0200);
    std::vector<unsigned short> block = {0x0700, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777, 0x7777};
    plugin.SPUwriteDMAMem(block.data(), 8);
    plugin.SPUwriteRegister(0x1F801D88, 1);
    plugin.SPUwriteRegister(0x1F801DA4, 0x0100);
    plugin.SPUwriteRegister(0x1F801DAA, 0x0040);
    plugin.SPUwriteRegister(0x1F801DA6, 0x0000);
    std::vector<unsigned short> words(0x400, 0);
    plugin.SPUwriteDMAMem(words.data(), 0x400);
}
} // namespace

TEST(RenderExportsTest, FramesHeldForTheCpuAreSilence)
{
    e2e::PluginSession session({{"SPUIRQWaitCPUAction", 1}});
    ASSERT_TRUE(session.fresh() && session.ok());
    soundingVoiceAndTransferInterrupt(*session);

    // The first frame delivers the interrupt and the hold begins: every later cell
    // of the buffer is silence, none keeps what the host's buffer held.
    std::vector<short> buffer(2 * 4096, 0x5A5A);
    session->SPUrender(buffer.data(), 4 * 4096);
    EXPECT_EQ(1, e2e::callbackCount());
    for (size_t i = 2; i < buffer.size(); ++i)
        ASSERT_EQ(0, buffer[i]) << "cell " << i / 2;

    // Once the CPU has acted (it acknowledges the interrupt), rendering goes on
    // through a buffer larger than one render slice, and the voice is heard.
    session->SPUwriteRegister(0x1F801DAA, 0x0000);
    std::fill(buffer.begin(), buffer.end(), 0x5A5A);
    session->SPUrender(buffer.data(), 4 * 4096);
    EXPECT_EQ(buffer.end(), std::find(buffer.begin(), buffer.end(), 0x5A5A)) << "a frame was not rendered";
    EXPECT_GT(std::count_if(buffer.begin(), buffer.end(), [](short s) { return s != 0; }), 4000);
}
