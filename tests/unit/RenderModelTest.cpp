// The frame renderer against the independent model, on random register traffic:
// every frame, the end flags, the envelope levels, the repeat addresses, status
// bit 6 and the callback calls must match.

#include "SpuUnderTest.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace
{
struct Setting
{
    bool cache;
    int finetune;
    bool forceFlag7;
};

class RenderModelTest : public ::testing::TestWithParam<Setting>
{
};

TEST_P(RenderModelTest, RandomTrafficMatchesModelFrameForFrame)
{
    for (uint32_t seed = 1; seed <= 6; ++seed)
    {
        model::Spu m;
        m.cache = GetParam().cache;
        m.finetune = GetParam().finetune;
        m.forceFlag7 = GetParam().forceFlag7;
        spu_test::resetLike(m);
        spu_test::GlobalSpu target;
        model::Comparison cmp(m, target);
        ASSERT_TRUE(model::runRandomSession(cmp, seed * 7919 + GetParam().finetune, 300))
            << "seed " << seed << ": " << cmp.message;
        EXPECT_GT(cmp.soundingFrames, cmp.frameCount / 10) << "seed " << seed;
        EXPECT_GT(m.callbackCalls, 0) << "seed " << seed;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, RenderModelTest,
                         ::testing::Values(Setting{false, 0, false}, Setting{true, 0, false},
                                           Setting{false, 0, true}, Setting{true, 120, true},
                                           Setting{false, 360, false}, Setting{true, -360, false},
                                           Setting{false, -17, false}),
                         [](const ::testing::TestParamInfo<Setting>& info) {
                             return std::string(info.param.cache ? "Cache" : "NoCache") + "Finetune" +
                                    (info.param.finetune < 0 ? "Minus" : "") +
                                    std::to_string(std::abs(info.param.finetune)) +
                                    (info.param.forceFlag7 ? "Flag7" : "");
                         });

TEST(RenderModelTest, ReverbSelectorZeroAddsNothing)
{
    model::Spu m;
    spu_test::resetLike(m);
    spu_test::GlobalSpu target;
    model::Comparison cmp(m, target);
    ASSERT_TRUE(model::runRandomSession(cmp, 4242, 20)) << cmp.message;
    cmp.write(0x1F801D84, 0x7FFF);
    cmp.write(0x1F801D86, 0xC000);
    cmp.write(0x1F801D98, 0xFFFF);
    cmp.write(0x1F801DAA, 0x00C0);
    ASSERT_TRUE(cmp.render(3000)) << cmp.message;
}

// Voices looping over blocks that the SPU itself rewrites every frame, without a
// transfer: a decoded block must not be reused once sound RAM under it changed.
// `unit` is where the looped blocks go (8-byte units); with `reverbStart` set, the
// hardware reverb (Hall) runs with its work area starting there and covering them.
// Without `transfers` the voices are keyed on anew every 1000 frames, so the first
// block is entered from a zero history each time, as when first decoded; with it
// they loop on, and new samples are written over the first block (its header kept)
// between render calls, which the voices enter from the same history each time.
void loopOverRewrittenBlocks(unsigned short unit, int reverbStart, bool transfers = false)
{
    static const unsigned short Hall[32] = {0x01A5, 0x0139, 0x6000, 0x5000, 0x4C00, 0xB800, 0xBC00, 0xC000,
                                            0x6000, 0x5C00, 0x15BA, 0x11BB, 0x14C2, 0x10BD, 0x11BC, 0x0DC1,
                                            0x11C0, 0x0DC3, 0x0DC0, 0x09C1, 0x0BC4, 0x07C1, 0x0A00, 0x06CD,
                                            0x09C2, 0x05C1, 0x05C0, 0x041A, 0x0274, 0x013A, 0x8000, 0x8000};
    model::Spu m;
    m.reverbSelector = reverbStart >= 0 ? 4 : 0;
    spu_test::resetLike(m);
    Reverb::ConfigReverbType = m.reverbSelector;
    spu_test::GlobalSpu target;
    model::Comparison cmp(m, target);

    // Eight blocks, looped from the first to the last, loud enough to hear the
    // reverb's writes over them.
    std::mt19937 rng(unit);
    std::vector<uint16_t> words = model::randomBlocks(rng, 8, 0);
    for (int b = 0; b < 8; ++b)
        words[8 * b] = static_cast<uint16_t>((words[8 * b] & 0x00FF) | (b == 0   ? 0x0400
                                                                        : b == 7 ? 0x0300
                                                                                 : 0));
    cmp.write(0x1F801DA6, unit);
    cmp.dma(words);
    cmp.write(0x1F801D80, 0x3FFF);
    cmp.write(0x1F801D82, 0x3FFF);
    if (reverbStart >= 0)
    {
        for (int r = 0; r < 32; ++r)
            cmp.write(0x1F801DC0 + 2 * r, Hall[r]);
        cmp.write(0x1F801DA2, static_cast<uint16_t>(reverbStart));
        cmp.write(0x1F801D84, 0x7FFF);
        cmp.write(0x1F801D86, 0x7FFF);
        cmp.write(0x1F801D98, 0xFFFF);
    }
    cmp.write(0x1F801DAA, reverbStart >= 0 ? 0xC080 : 0xC000);
    for (int k = 0; k < 6; ++k)
    {
        const uint32_t voice = 0x1F801C00 + 16 * k;
        cmp.write(voice + 0x0, 0x3FFF);
        cmp.write(voice + 0x2, 0x3FFF);
        cmp.write(voice + 0x4, static_cast<uint16_t>(0x0800 + 0x0600 * k));
        cmp.write(voice + 0x6, unit);
        cmp.write(voice + 0x8, 0x00FF);
        cmp.write(voice + 0xA, 0x0000);
    }
    for (int chunk = 0; chunk < 40; ++chunk)
    {
        if (transfers && chunk % 2 == 1)
        {
            std::vector<uint16_t> fresh = model::randomBlocks(rng, 1, 0);
            fresh[0] = words[0];
            cmp.write(0x1F801DA6, unit);
            cmp.dma(fresh);
        }
        if (!transfers || chunk == 0)
            cmp.write(0x1F801D88, 0x003F);
        ASSERT_TRUE(cmp.render(1000)) << "frame " << chunk * 1000 << ": " << cmp.message;
    }
}

TEST(RenderModelTest, LoopsInsideTheReverbWorkAreaHearTheReverbsWrites)
{
    // A work area of the last 16 units (64 words): every tap wraps into it, so the
    // reverb writes over the looped blocks all the time.
    loopOverRewrittenBlocks(0xFFF0, 0xFFF0);
}

TEST(RenderModelTest, LoopsInsideTheCaptureAreaHearTheCaptureWrites)
{
    // Blocks at unit 0x20 (byte 0x100, words 0x80..0xBF): the left capture area.
    loopOverRewrittenBlocks(0x0020, -1);
}

TEST(RenderModelTest, LoopsRewrittenByTransfersBetweenCallsMatchTheModel)
{
    loopOverRewrittenBlocks(0x2000, -1, true);
}

TEST(RenderModelTest, LoopsBelowTheReverbWorkAreaMatchTheModel)
{
    loopOverRewrittenBlocks(0xFF00, 0xFFF0);
}
} // namespace
