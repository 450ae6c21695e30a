// spuhost's --mute and --solo: the host rewrites the volume writes of the silenced
// sources and hands everything else over as recorded, so a muted voice still
// modulates the voice after it.

#include "support/Bytes.h"
#include "support/HostRun.h"
#include "support/ScratchDir.h"

#include "spuhost/PsxRecords.h"
#include "spuhost/VoiceMask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace
{
// Two looping voices on the same two blocks; voice 1 is pitch-modulated by voice 0.
// volume0 is voice 0's volume, written to both sides; keyOn the voices keyed on.
std::string modulationScript(const char* volume0, const char* keyOn = "0003")
{
    std::string script =
        "init\n"
        "w 1F801DAA C000\n"
        "w 1F801DA6 0200\n"
        "dma 0402 3321 5476 2301 1032 7654 3210 0123 0302 1032 5476 7654 3210 2301 0123 4567\n"
        "w 1F801D80 3FFF\n"
        "w 1F801D82 3FFF\n";
    const char* pitches[2] = {"0400", "1000"};
    for (int v = 0; v < 2; ++v)
    {
        const std::string base = v == 0 ? "1F801C0" : "1F801C1";
        const std::string volume = v == 0 ? volume0 : "3FFF";
        script += "w " + base + "0 " + volume + "\n";
        script += "w " + base + "2 " + volume + "\n";
        script += "w " + base + "4 " + pitches[v] + "\n";
        script += "w " + base + "6 0200\n";
        script += "w " + base + "8 00FF\n";
        script += "w " + base + "A 0000\n";
    }
    script += std::string("w 1F801D90 0002\n") + "w 1F801D88 " + keyOn + "\n" +
              "render 8820\n"
              "shutdown\n";
    return script;
}

const int StemTolerance = 24;

bool allSilent(const std::vector<int16_t>& samples)
{
    for (int16_t s : samples)
        if (s != 0)
            return false;
    return true;
}

class SpuhostMuteTest : public ::testing::Test
{
protected:
    // Renders the script in dir with the extra arguments; the WAV file's samples.
    std::vector<int16_t> render(const std::string& scriptName, const std::string& extra)
    {
        const std::string wav = scriptName + extra + ".wav";
        const HostRun run = runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH + "' --script " +
                                                    scriptName + " --wav '" + wav + "' " + extra);
        EXPECT_EQ(0, run.status) << run.err;
        return wavSamples(dir.file(wav));
    }

    ScratchDir dir;
};

TEST_F(SpuhostMuteTest, AMutedModulatorStillModulates)
{
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    writeFileText(dir.file("fm.script"), modulationScript("3FFF"));
    writeFileText(dir.file("fm-silent0.script"), modulationScript("0000"));
    writeFileText(dir.file("fm-unkeyed0.script"), modulationScript("3FFF", "0002"));
    const std::vector<int16_t> muted = render("fm.script", "--mute 0");
    ASSERT_EQ(2u * 8820, muted.size());
    EXPECT_FALSE(allSilent(muted)) << "the modulated voice plays";
    EXPECT_EQ(render("fm-silent0.script", ""), muted) << "muting voice 0 is its volume written as 0";
    EXPECT_NE(render("fm-unkeyed0.script", "--mute 0"), muted) << "voice 0 still modulates voice 1";
    EXPECT_NE(render("fm.script", ""), muted) << "voice 0 is audible unmuted";
}

TEST_F(SpuhostMuteTest, SoloIsEveryOtherSourceMuted)
{
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    writeFileText(dir.file("fm.script"), modulationScript("3FFF"));
    const std::vector<int16_t> solo = render("fm.script", "--solo 1");
    EXPECT_EQ(render("fm.script", "--mute 0,2-23,cd"), solo);
    EXPECT_FALSE(allSilent(solo));
    EXPECT_TRUE(allSilent(render("fm.script", "--mute 0-23")));
    EXPECT_TRUE(allSilent(render("fm.script", "--solo cd"))) << "no CD input here";
}

TEST_F(SpuhostMuteTest, DemoTuneWithEveryVoiceMutedIsSilent)
{
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    const std::string wav = dir.file("muted.wav");
    const HostRun run = runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH + "' --demo --wav '" +
                                                wav + "' --mute 0-23,cd");
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<int16_t> samples = wavSamples(wav);
    EXPECT_GT(samples.size(), 44100u * 2 * 20);
    EXPECT_TRUE(allSilent(samples)) << "the reverb too hears nothing";
}

TEST_F(SpuhostMuteTest, StemsOfTheDemoTuneSumToItsMix)
{
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    const HostRun run = runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH +
                                                "' --demo --wav mix.wav --stems stems");
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<int16_t> mix = wavSamples(dir.file("mix.wav"));
    std::vector<int> sum(mix.size(), 0);
    int stems = 0;
    for (int voice = 0; voice < 24; ++voice)
    {
        char name[32];
        std::snprintf(name, sizeof(name), "stems/voice-%02d.wav", voice);
        const std::vector<int16_t> stem = wavSamples(dir.file(name));
        if (stem.empty())
            continue;
        ++stems;
        ASSERT_EQ(mix.size(), stem.size()) << name;
        EXPECT_FALSE(allSilent(stem)) << name << ": a silent source leaves no file";
        for (size_t i = 0; i < stem.size(); ++i)
            sum[i] += stem[i];
    }
    EXPECT_GE(stems, 4) << "the demo's instruments play on several voices";
    EXPECT_TRUE(wavSamples(dir.file("stems/cd.wav")).empty()) << "the demo has no CD input";
    int worst = 0;
    for (size_t i = 0; i < mix.size(); ++i)
        worst = std::max(worst, std::abs(sum[i] - mix[i]));
    // Each stem is scaled by the main volume and run through the reverb on its own:
    // the truncations of those fixed-point steps differ by an LSB or so a stem.
    EXPECT_LE(worst, StemTolerance) << "over " << stems << " stems";
    std::printf("stems: %d, largest difference from the mix: %d\n", stems, worst);

    const HostRun solo =
        runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH + "' --demo --wav solo.wav --solo 0");
    ASSERT_EQ(0, solo.status) << solo.err;
    EXPECT_EQ(wavSamples(dir.file("stems/voice-00.wav")), wavSamples(dir.file("solo.wav")));
}

TEST(VoiceMaskTest, OnlyTheSilencedVolumesOfWritesAndSaveStatesBecomeZero)
{
    VoiceMask mask;
    const std::vector<std::string> args = {"--mute", "3,cd", "--solo", "2-4,cd"};
    size_t i = 0;
    ASSERT_EQ(1, mask.takeOption(args, i, "test"));
    i = 2;
    ASSERT_EQ(1, mask.takeOption(args, i, "test"));
    for (int source = 0; source <= VoiceMask::Cd; ++source)
        EXPECT_EQ(source != 2 && source != 4, mask.silences(source)) << source;

    EXPECT_EQ(0, mask.filterWrite(0x1F801C00 + 16 * 3 + 0, 0x3FFF)) << "voice 3, left volume";
    EXPECT_EQ(0, mask.filterWrite(0x1F801C00 + 16 * 3 + 2, 0x3FFF)) << "voice 3, right volume";
    EXPECT_EQ(0x1000, mask.filterWrite(0x1F801C00 + 16 * 3 + 4, 0x1000)) << "voice 3, pitch";
    EXPECT_EQ(0x3FFF, mask.filterWrite(0x1F801C00 + 16 * 2 + 2, 0x3FFF)) << "voice 2 is soloed";
    EXPECT_EQ(0, mask.filterWrite(0x1F801DB2, 0x7FFF)) << "CD volume right";
    EXPECT_EQ(0x3FFF, mask.filterWrite(0x1F801D80, 0x3FFF)) << "main volume";

    std::unique_ptr<SPUFreeze_t> record(new SPUFreeze_t());
    for (int r = 0; r < 256; ++r)
        record->spuRegister[r] = 0x1111;
    mask.filterRecord(*record);
    EXPECT_EQ(0, record->spuRegister[8 * 3]) << "voice 3, left volume";
    EXPECT_EQ(0x1111, record->spuRegister[8 * 2 + 1]) << "voice 2, right volume";
    EXPECT_EQ(0x1111, record->spuRegister[8 * 3 + 2]) << "voice 3, pitch";
    EXPECT_EQ(0, record->spuRegister[(0x1DB0 - 0x1C00) / 2]) << "CD volume left";
    EXPECT_EQ(0x1111, record->spuRegister[(0x1D80 - 0x1C00) / 2]) << "main volume";
}

TEST_F(SpuhostMuteTest, ABadListIsRefusedWithItsReason)
{
    ASSERT_TRUE(dir.error().empty()) << dir.error();
    for (const char* list : {"24", "3-1", "x", "1,,2", "-4"})
    {
        const HostRun run = runHost(dir.path(), std::string("render '") + SPU_PLUGIN_PATH +
                                                    "' --demo --wav out.wav --mute " + list);
        EXPECT_EQ(2, run.status) << list;
        EXPECT_NE(std::string::npos, run.err.find("--mute")) << run.err;
    }
}
} // namespace
