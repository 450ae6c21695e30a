#include "support/Bytes.h"
#include "support/ScratchDir.h"

#include "audio/AudioDevice.h"
#include "audio/AudioOut.h"
#include "config/ConfigLinuxPSEmuPro.h"
#include "record/Record.h"
#include "reverb/Reverb.h"
#include "synth/StreamSound.h"
#include "synth/VagBlock.h"
#include "synth/Voice.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace
{
void writeFile(const std::string& path, const std::string& content)
{
    mkdir("cfg", 0755);
    writeFileText(path, content);
}

const char* const DefaultFile = "AudioDevice = 3\n"
                                "SoundBufferSize = 64\n"
                                "AudioOutMethod = 0\n"
                                "AsyncMode = 0\n"
                                "ShowRealtimeConfigWindow = 0\n"
                                "WaitForXABufferIsFree = 1\n"
                                "CacheVagDecode = 0\n"
                                "Finetune = 0\n"
                                "ReverbType = 4\n"
                                "RecOpt = 5\n"
                                "UpdateBeforeRegisterAccess = 0\n"
                                "SPUIRQWaitCPUAction = 0\n"
                                "SPUIRQForceInterruptFlag7 = 0\n";

// Loads a configuration file holding exactly the given text.
ConfigLinuxPSEmuPro load(const std::string& content)
{
    writeFile("cfg/spuTalvane.cfg", content);
    ConfigLinuxPSEmuPro config;
    config.loadConfig();
    return config;
}
} // namespace

TEST(ConfigFileTest, FirstRunCreatesTheFileWithTheDefaults)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    ConfigLinuxPSEmuPro config;
    config.AudioDevice = 77;
    config.loadConfig();
    EXPECT_EQ(DefaultFile, readFileText("cfg/spuTalvane.cfg"));
    EXPECT_EQ(3, config.AudioDevice);
    EXPECT_EQ(64, config.SoundBufferSize);
    EXPECT_EQ(1, config.WaitForXABufferIsFree);
    EXPECT_EQ(4, config.ReverbType);
    EXPECT_EQ(5, config.RecOpt);
}

TEST(ConfigFileTest, ValuesAreTheFirstNumberAfterTheEqualsSign)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    EXPECT_EQ(-12, load("Finetune = -12\n").Finetune);
    EXPECT_EQ(-12, load("Finetune=-12\n").Finetune);
    EXPECT_EQ(0, load("Finetune = - 12\n").Finetune);
    EXPECT_EQ(128, load("SoundBufferSize = 128 a comment with 7 digits\n").SoundBufferSize);
    EXPECT_EQ(42, load("SoundBufferSize = abc42\n").SoundBufferSize);
    EXPECT_EQ(2, load("AudioDeviceX = 2\n").AudioDevice);
    EXPECT_EQ(1, load("ReverbType = 1\nReverbType = 3\n").ReverbType);
    EXPECT_EQ(99, load("ReverbType = 99\n").ReverbType);
}

TEST(ConfigFileTest, MissingOrMalformedValuesLoadZeroNotTheDefault)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    ConfigLinuxPSEmuPro config = load("SoundBufferSize 64\nReverbType =\nRecOpt = x\n");
    EXPECT_EQ(0, config.SoundBufferSize);
    EXPECT_EQ(0, config.ReverbType);
    EXPECT_EQ(0, config.RecOpt);
    EXPECT_EQ(0, config.AudioDevice);
    EXPECT_EQ(0, config.WaitForXABufferIsFree);
}

TEST(ConfigFileTest, NumbersBeyondIntSaturate)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    EXPECT_EQ(2147483647, load("Finetune = 99999999999999999999999\n").Finetune);
    EXPECT_EQ(-2147483647 - 1, load("Finetune = -99999999999999999999999\n").Finetune);
    EXPECT_EQ(2147483647, load("Finetune = 2147483647\n").Finetune);
    EXPECT_EQ(-2147483647 - 1, load("Finetune = -2147483648\n").Finetune);
}

TEST(ConfigFileTest, LongLinesContinueAsTheNextLine)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    // 300 characters: the line is read in two pieces; the second starts with "RecOpt".
    std::string line = "AudioDevice = 1 " + std::string(255 - 16, 'x') + "RecOpt = 9\n";
    ConfigLinuxPSEmuPro config = load(line);
    EXPECT_EQ(1, config.AudioDevice);
    EXPECT_EQ(9, config.RecOpt);
}

TEST(ConfigFileTest, BinaryGarbageLoadsWithoutHarm)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    std::string garbage;
    unsigned int seed = 12345;
    for (int i = 0; i < 20000; ++i)
    {
        seed = seed * 1103515245 + 12345;
        garbage.push_back(static_cast<char>(seed >> 16));
    }
    garbage += "\nReverbType = 2\n";
    garbage.insert(100, std::string("\0=\0-", 4));
    ConfigLinuxPSEmuPro config = load(garbage);
    EXPECT_EQ(2, config.ReverbType);
}

TEST(ConfigFileTest, SavingRewritesFromTheStartWithoutTruncating)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    const std::string tail = "# an old, longer tail\nReverbType = 1\n";
    ConfigLinuxPSEmuPro config = load(std::string(DefaultFile) + tail);
    config.ReverbType = 3;
    EXPECT_EQ(0, config.saveConfig());
    std::string expected = DefaultFile;
    expected.replace(expected.find("ReverbType = 4"), 14, "ReverbType = 3");
    EXPECT_EQ(expected + tail, readFileText("cfg/spuTalvane.cfg"));
    ConfigLinuxPSEmuPro reloaded;
    reloaded.loadConfig();
    EXPECT_EQ(3, reloaded.ReverbType);
}

TEST(ConfigFileTest, UnusableFolderKeepsTheDefaults)
{
    ScratchDir dir(ScratchDir::WorkInside);
    ASSERT_TRUE(dir.ok()) << dir.error();
    std::ofstream("cfg") << "a file where the folder should be";
    testing::internal::CaptureStderr();
    ConfigLinuxPSEmuPro config;
    config.ReverbType = 0;
    config.loadConfig();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(4, config.ReverbType);
    EXPECT_NE(std::string::npos, printed.find("open ./cfg/spuTalvane.cfg failed.\r\n"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, config.saveConfig());
    testing::internal::GetCapturedStderr();
}

TEST(ConfigValuesTest, UpdateFeedsTheClassStatics)
{
    ConfigLinuxPSEmuPro config;
    config.AudioDevice = 1;
    config.SoundBufferSize = 16;
    config.AudioOutMethod = 2;
    config.AsyncMode = 2;
    config.WaitForXABufferIsFree = 1;
    config.CacheVagDecode = 1;
    config.ReverbType = 99;
    config.RecOpt = 0x3F;
    config.SPUIRQWaitCPUAction = 1;
    config.SPUIRQForceInterruptFlag7 = 1;
    config.updateConfigValue();
    EXPECT_EQ(1, AudioOut::ConfigAudioDevice);
    EXPECT_EQ(16, AudioDevice::ConfigSoundBufferSize);
    EXPECT_EQ(2, AudioOut::ConfigAsyncMode);
    EXPECT_EQ(0, StreamSound::ConfigWaitForXABufferIsFree); // the host paces: no waiting
    EXPECT_EQ(1, VagBlock::ConfigCacheVagDecode);
    EXPECT_EQ(99, Reverb::ConfigReverbType);
    EXPECT_EQ(0x3F, Record::ConfigRecOpt);
    EXPECT_EQ(1, AudioOut::ConfigSPUIRQWaitCPUAction);
    EXPECT_EQ(1, Voice::ConfigSPUIRQForceInterruptFlag7);

    config.AudioOutMethod = 0;
    config.updateConfigValue();
    EXPECT_EQ(0, AudioOut::ConfigAsyncMode); // async corrections only with SPUasync
    EXPECT_EQ(1, StreamSound::ConfigWaitForXABufferIsFree);

    config.setDefaultValue();
    config.updateConfigValue();
}

TEST(ConfigValuesTest, FinetuneRateIsTwoToTheTenthsOverOneTwenty)
{
    ConfigLinuxPSEmuPro config;
    const int cases[][2] = {{10, 34715}, {-10, 30927}, {120, 65534}, {0, 32767}, {-360, 4095}};
    for (const auto& c : cases)
    {
        config.Finetune = c[0];
        config.updateConfigValue();
        EXPECT_EQ(c[0], Voice::ConfigFinetune);
        EXPECT_EQ(c[1], Voice::ConfigFinetuneRate) << c[0];
    }
    config.Finetune = 2147483647; // from a hand-edited file: saturates, no overflow
    config.updateConfigValue();
    EXPECT_EQ(2147483647, Voice::ConfigFinetuneRate);
    config.setDefaultValue();
    config.updateConfigValue();
}
