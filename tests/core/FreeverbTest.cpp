#include "reverb/revmodel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace
{
void processOne(revmodel& model, float inL, float inR, float& outL, float& outR)
{
    model.processreplace(&inL, &inR, &outL, &outR, 1, 1);
}
} // namespace

TEST(FreeverbTest, InitialSettings)
{
    std::unique_ptr<revmodel> model(new revmodel());
    EXPECT_FLOAT_EQ(0.333333f, model->getwet());
    EXPECT_FLOAT_EQ(0.75f, model->getroomsize());
    EXPECT_FLOAT_EQ(0.0f, model->getdry());
    EXPECT_FLOAT_EQ(0.25f, model->getdamp());
    EXPECT_FLOAT_EQ(1.0f, model->getwidth());
    EXPECT_EQ(0.0f, model->getmode());
    EXPECT_EQ(0.015f, model->getinputgain());
    EXPECT_EQ(0.0f, model->getwetcross());
    EXPECT_NEAR(0.99999893, model->getwetdirect(), 1e-7);
    EXPECT_FLOAT_EQ(0.1f, model->getcomb(0, 3).getdamp());
}

TEST(FreeverbTest, SilenceInMutedModelGivesSilence)
{
    std::unique_ptr<revmodel> model(new revmodel());
    for (int i = 0; i < 3000; ++i)
    {
        float l = 1, r = 1;
        processOne(*model, 0, 0, l, r);
        ASSERT_EQ(0.0f, l);
        ASSERT_EQ(0.0f, r);
    }
}

TEST(FreeverbTest, ChannelsAreSummedBeforeTheCombs)
{
    std::unique_ptr<revmodel> a(new revmodel()), b(new revmodel());
    for (int i = 0; i < 5000; ++i)
    {
        const float x = (i % 97 == 0) ? 12000.0f : static_cast<float>((i * 37) % 200 - 100);
        const float y = static_cast<float>((i * 11) % 50);
        float al, ar, bl, br;
        processOne(*a, x, y, al, ar);
        processOne(*b, y, x, bl, br);
        ASSERT_EQ(al, bl) << i;
        ASSERT_EQ(ar, br) << i;
    }
}

TEST(FreeverbTest, ImpulseReturnsAfterTheShortestCombAndAllpasses)
{
    std::unique_ptr<revmodel> model(new revmodel());
    float l, r;
    processOne(*model, 10000, 0, l, r);
    EXPECT_EQ(0.0f, l);
    int firstLeft = -1;
    for (int i = 1; i < 3000 && firstLeft < 0; ++i)
    {
        processOne(*model, 0, 0, l, r);
        if (l != 0.0f)
            firstLeft = i;
    }
    // The all-passes pass their input straight through (b - x), so the first echo is
    // the shortest left comb, 1116 samples.
    EXPECT_EQ(1116, firstLeft);
}

TEST(FreeverbTest, DenormalInputIsFlushedToExactZeros)
{
    std::unique_ptr<revmodel> model(new revmodel());
    const float tiny = 1e-39f; // a denormal
    ASSERT_NE(0.0f, tiny);
    ASSERT_EQ(FP_SUBNORMAL, std::fpclassify(tiny));
    for (int i = 0; i < 6000; ++i)
    {
        float l, r;
        processOne(*model, tiny, tiny, l, r);
        ASSERT_EQ(0.0f, l) << i;
        ASSERT_EQ(0.0f, r) << i;
    }
}

TEST(FreeverbTest, TailDecaysToExactZeros)
{
    std::unique_ptr<revmodel> model(new revmodel());
    model->setroomsize(0.48796260f);
    float l, r;
    processOne(*model, 30000, -30000, l, r);
    processOne(*model, 30000, 30000, l, r);
    for (int i = 0; i < 1500000; ++i)
        processOne(*model, 0, 0, l, r);
    for (int i = 0; i < 2000; ++i)
    {
        processOne(*model, 0, 0, l, r);
        ASSERT_EQ(0.0f, l) << i;
        ASSERT_EQ(0.0f, r) << i;
    }
}

TEST(FreeverbTest, FreezeKeepsTheTail)
{
    std::unique_ptr<revmodel> model(new revmodel());
    float l, r;
    processOne(*model, 10000, 10000, l, r);
    model->setmode(0.5f);
    EXPECT_EQ(1.0f, model->getmode());
    EXPECT_EQ(1.0f, model->getcomb(0, 0).getfeedback());
    EXPECT_EQ(0.0f, model->getcomb(1, 7).getdamp());
    EXPECT_EQ(0.0f, model->getinputgain());
    model->mute(); // does nothing while frozen
    bool heard = false;
    for (int i = 0; i < 2000; ++i)
    {
        processOne(*model, 5000, 5000, l, r); // not heard: input gain 0
        heard = heard || l != 0.0f;
    }
    EXPECT_TRUE(heard);
    model->setmode(0.0f);
    model->mute();
    for (int i = 0; i < 2000; ++i)
    {
        processOne(*model, 0, 0, l, r);
        ASSERT_EQ(0.0f, l);
    }
}

TEST(FreeverbTest, GettersUndoTheScaling)
{
    std::unique_ptr<revmodel> model(new revmodel());
    for (float x : {0.0f, 0.1f, 0.48796260f, 0.9f, 1.0f})
    {
        model->setroomsize(x);
        EXPECT_NEAR(x, model->getroomsize(), 1e-6f);
        model->setdamp(x);
        EXPECT_NEAR(x, model->getdamp(), 1e-6f);
        model->setwet(x);
        EXPECT_NEAR(x, model->getwet(), 1e-6f);
        model->setdry(x);
        EXPECT_NEAR(x, model->getdry(), 1e-6f);
    }
}

TEST(FreeverbTest, ProcessMixAddsWhatProcessReplaceStores)
{
    std::unique_ptr<revmodel> a(new revmodel()), b(new revmodel());
    // Two samples at stride 2: entries 0 and 2 are processed, 1 and 3 are left alone.
    float inL[4] = {8000, 0, -3000, 0}, inR[4] = {100, 0, 200, 0};
    for (int i = 0; i < 600; ++i)
    {
        float replacedL[4] = {0, 0, 0, 0}, replacedR[4] = {0, 0, 0, 0};
        float mixedL[4] = {1, 1, 1, 1}, mixedR[4] = {2, 2, 2, 2};
        a->processreplace(inL, inR, replacedL, replacedR, 2, 2);
        b->processmix(inL, inR, mixedL, mixedR, 2, 2);
        for (int k = 0; k < 4; k += 2)
        {
            ASSERT_FLOAT_EQ(replacedL[k] + 1, mixedL[k]) << i;
            ASSERT_FLOAT_EQ(replacedR[k] + 2, mixedR[k]) << i;
        }
        ASSERT_EQ(1.0f, mixedL[1]);
        ASSERT_EQ(2.0f, mixedR[3]);
    }
}
