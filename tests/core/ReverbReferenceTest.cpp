// Runs the unit's algorithms next to the plain model in tests/model and compares
// every returned sample and, for the hardware model, the work area in sound RAM.

#include "model/ReferenceReverb.h"
#include "reverb/Reverb.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace
{
struct Twin
{
    std::unique_ptr<Reverb> unit{new Reverb()};
    std::unique_ptr<reference::Unit> model{new reference::Unit()};
    std::vector<unsigned short> ram = std::vector<unsigned short>(0x40000, 0);
    std::vector<uint16_t> modelRam = std::vector<uint16_t>(0x40000, 0);

    Twin()
    {
        unit->setSoundBuffer(ram.data());
        model->hw.ram = &modelRam;
    }
    void setRegisters(unsigned short* block)
    {
        unit->setReverb(block);
        model->setRegisters(block);
    }
    void setStart(unsigned short value)
    {
        unit->setStartAddress(value);
        model->hw.setStart(value);
    }
    void fillRam(std::mt19937& rng)
    {
        for (size_t i = 0; i < ram.size(); ++i)
            ram[i] = modelRam[i] = static_cast<unsigned short>(rng());
    }
    // One sample through both; false (with a message) at the first difference.
    ::testing::AssertionResult step(int selector, int left, int right)
    {
        Reverb::ConfigReverbType = selector;
        int l = left, r = right;
        unit->doReverb(l, r);
        int32_t ml = left, mr = right;
        model->run(selector, ml, mr);
        if (l != ml || r != mr)
            return ::testing::AssertionFailure()
                   << "selector " << selector << " send (" << left << ", " << right << ") gave (" << l << ", "
                   << r << "), model (" << ml << ", " << mr << ")";
        return ::testing::AssertionSuccess();
    }
};

// Mostly sends of up to 24 loud voices, sometimes anything a 32-bit sum can hold.
int randomSend(std::mt19937& rng)
{
    const unsigned kind = rng() % 16;
    if (kind == 0)
        return static_cast<int>(rng());
    if (kind == 1)
        return 0;
    return static_cast<int>(rng() % (2 * 24 * 32768)) - 24 * 32768;
}

void randomBlock(std::mt19937& rng, unsigned short* block)
{
    for (int n = 0; n < 32; ++n)
        block[n] = static_cast<unsigned short>(rng());
}

struct ReferenceFixture : ::testing::Test
{
    void TearDown() override { Reverb::ConfigReverbType = 0; }
};
} // namespace

TEST_F(ReferenceFixture, HardwareModelMatchesOnEveryPreset)
{
    std::mt19937 rng(11);
    for (int p = 0; p < Reverb::PresetCount; ++p)
    {
        Twin twin;
        unsigned short block[32];
        std::copy(Reverb::Presets[p].registers, Reverb::Presets[p].registers + 32, block);
        twin.setRegisters(block);
        twin.setStart(Reverb::Presets[p].start);
        for (int i = 0; i < 6000; ++i)
            ASSERT_TRUE(twin.step(4, randomSend(rng), randomSend(rng)))
                << Reverb::Presets[p].name << " sample " << i;
        ASSERT_TRUE(twin.ram == twin.modelRam) << Reverb::Presets[p].name;
    }
}

TEST_F(ReferenceFixture, HardwareModelMatchesOnRandomRegistersAndStarts)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 12; ++round)
    {
        Twin twin;
        twin.fillRam(rng);
        unsigned short block[32];
        randomBlock(rng, block);
        twin.setRegisters(block);
        // Starts near the end of sound RAM (small areas, many wraps) and anywhere.
        const unsigned short start = (round % 2 == 0) ? static_cast<unsigned short>(0xFF00 + rng() % 0x100)
                                                      : static_cast<unsigned short>(rng());
        twin.setStart(start);
        const int samples = start >= 0xFF00 ? 600 : 3000;
        for (int i = 0; i < samples; ++i)
        {
            if (i % 701 == 700) // a register write between samples
            {
                block[rng() % 32] = static_cast<unsigned short>(rng());
                twin.setRegisters(block);
            }
            ASSERT_TRUE(twin.step(4, randomSend(rng), randomSend(rng)))
                << "start " << start << " sample " << i;
        }
        ASSERT_TRUE(twin.ram == twin.modelRam) << "start " << start;
    }
}

TEST_F(ReferenceFixture, HardwareModelMatchesWithSmallestWorkArea)
{
    std::mt19937 rng(13);
    Twin twin;
    twin.fillRam(rng);
    unsigned short block[32];
    randomBlock(rng, block);
    twin.setRegisters(block);
    twin.setStart(0xFFFF);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(twin.step(4, randomSend(rng), randomSend(rng))) << i;
    ASSERT_TRUE(twin.ram == twin.modelRam);
}

TEST_F(ReferenceFixture, SoftwareReverbsMatchOnPresetsAndRandomBlocks)
{
    const int selectors[] = {1, 2, 3, 99};
    std::mt19937 rng(21);
    for (int selector : selectors)
    {
        Twin twin;
        unsigned short block[32];
        for (int round = 0; round < 4; ++round)
        {
            if (round < 2)
                std::copy(Reverb::Presets[1 + 4 * round].registers,
                          Reverb::Presets[1 + 4 * round].registers + 32, block);
            else
                randomBlock(rng, block);
            twin.setRegisters(block);
            for (int i = 0; i < 9000; ++i)
                ASSERT_TRUE(twin.step(selector, randomSend(rng), randomSend(rng)))
                    << "round " << round << " " << i;
        }
    }
}

TEST_F(ReferenceFixture, CombBankMatchesWithLowPassCoefficientAbove0x8000)
{
    std::mt19937 rng(22);
    Twin twin;
    unsigned short block[32];
    std::copy(Reverb::Presets[5].registers, Reverb::Presets[5].registers + 32, block);
    block[2] = 0xFFFF; // g' = -32768: the low-pass state grows until its products wrap
    block[7] = 0xFFFF;
    twin.setRegisters(block);
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(twin.step(3, randomSend(rng), randomSend(rng))) << i;
}

TEST_F(ReferenceFixture, SelectorChangedBetweenSamplesResumesEachAlgorithm)
{
    const int selectors[] = {0, 1, 2, 3, 4, 99, 5, -1};
    std::mt19937 rng(31);
    Twin twin;
    unsigned short block[32];
    std::copy(Reverb::Presets[3].registers, Reverb::Presets[3].registers + 32, block);
    twin.setRegisters(block);
    twin.setStart(Reverb::Presets[3].start);
    for (int i = 0; i < 40000; ++i)
    {
        const int selector = selectors[(i / 37 + (rng() % 3 == 0 ? 1 : 0)) % 8];
        ASSERT_TRUE(twin.step(selector, randomSend(rng), randomSend(rng))) << i;
    }
    ASSERT_TRUE(twin.ram == twin.modelRam);
}

TEST_F(ReferenceFixture, FreeverbMatchesOnExtremeSends)
{
    Twin twin;
    unsigned short block[32] = {};
    twin.setRegisters(block);
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(twin.step(2, INT32_MAX, INT32_MAX)) << i;
    for (int i = 0; i < 20000; ++i)
        ASSERT_TRUE(twin.step(2, INT32_MIN, i % 2 ? INT32_MIN : INT32_MAX)) << i;
}
