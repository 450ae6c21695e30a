// Rendering through the exports (SPUwriteRegister, SPUwriteDMAMem, SPUrender,
// SPUregisterCallback) against the independent model, and SPUrender's handling of
// bad arguments.

#include "ModelExports.h"

#include <gtest/gtest.h>

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
