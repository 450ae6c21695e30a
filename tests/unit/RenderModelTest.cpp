// The frame renderer against the independent model, on random register traffic:
// every frame, the end flags, the envelope levels, the repeat addresses, status
// bit 6 and the callback calls must match.

#include "SpuUnderTest.h"

#include <gtest/gtest.h>

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
                         [](const ::testing::TestParamInfo<Setting>& info)
                         {
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
} // namespace
