// A log recorded the way a user records one (the demo tune played through the
// exports while the recorder runs), taken apart by spuhost: its stems sum to its
// replay, solo and mute act on it as on a script, and its voice table is the
// script's.

#include "support/Bytes.h"
#include "support/HostRun.h"
#include "support/ScratchDir.h"

#include "audio/CriticalSection.h"
#include "plugin/Exports.h"
#include "plugin/Globals.h"
#include "record/RecordControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{
const std::string DemoDir = SPU_SOURCE_DIR "/demo";

template <typename A, typename B> int largestDifference(const std::vector<A>& a, const std::vector<B>& b)
{
    int worst = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

// The rows of spuhost's voice table, without the line that names the file.
std::string tableRows(const std::string& out)
{
    return out.substr(out.find('\n') + 1);
}

class RecordedLogStemsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.ok()) << scratch.error();
        SPUinit();
        Record::ConfigRecOpt = 0x3F;
    }
    void TearDown() override
    {
        SPUclose();
        SPUshutdown();
        Record::ConfigRecOpt = 0;
    }

    // The demo script's commands (it uses four) straight through the exports, with the
    // recorder running from before the first.
    void recordDemo()
    {
        enterCS();
        const bool started = startRecording(theSPU, theRecord);
        leaveCS();
        ASSERT_TRUE(started);
        std::ifstream script(DemoDir + "/demo.script");
        ASSERT_TRUE(script.good());
        std::string line;
        std::vector<short> frames(2 * 4096);
        while (std::getline(script, line))
        {
            std::istringstream words(line.substr(0, line.find('#')));
            std::string command, a, b;
            if (!(words >> command) || command == "init") // the plugin is initialised
                continue;
            words >> a >> b;
            if (command == "w")
                SPUwriteRegister(std::stoul(a, nullptr, 16),
                                 static_cast<unsigned short>(std::stoul(b, nullptr, 16)));
            else if (command == "render")
                for (unsigned long left = std::stoul(a); left > 0;)
                {
                    const unsigned long chunk = std::min(left, 4096ul);
                    SPUrender(frames.data(), 4 * chunk);
                    left -= chunk;
                }
            else if (command == "dmafile")
            {
                const std::vector<unsigned char> bytes = readFileBytes(DemoDir + "/" + a);
                std::vector<unsigned short> data(bytes.size() / 2);
                for (size_t i = 0; i < data.size(); ++i)
                    data[i] = le16(bytes, 2 * i);
                SPUwriteDMAMem(data.data(), static_cast<int>(data.size()));
            }
            else
                FAIL() << "the demo script has a command this test does not play: " << line;
        }
        SPUclose();
    }

    HostRun replay(const std::string& options)
    {
        return runHost(scratch.path(), std::string("replay '") + SPU_PLUGIN_PATH + "' spulog.spu " + options);
    }

    ScratchDir scratch{ScratchDir::WorkInside};
};

TEST_F(RecordedLogStemsTest, StemsSoloAndMuteOfARecordedLog)
{
    recordDemo();
    const HostRun run = replay("--wav mix.wav --stems stems");
    ASSERT_EQ(0, run.status) << run.err;
    const std::vector<int16_t> mix = wavSamples("mix.wav");
    ASSERT_GT(mix.size(), 2u * 44100 * 20) << "the demo tune lasts about 25 s";

    std::vector<int> sum(mix.size(), 0);
    int stems = 0;
    for (int voice = 0; voice < 24; ++voice)
    {
        char name[32];
        std::snprintf(name, sizeof(name), "stems/voice-%02d.wav", voice);
        const std::vector<int16_t> stem = wavSamples(name);
        if (stem.empty())
            continue;
        ++stems;
        ASSERT_EQ(mix.size(), stem.size()) << name;
        for (size_t i = 0; i < stem.size(); ++i)
            sum[i] += stem[i];
    }
    // The eight audible instruments' voices; voice 7 only modulates, at volume 0.
    EXPECT_EQ(8, stems);
    EXPECT_TRUE(wavSamples("stems/voice-07.wav").empty());
    EXPECT_TRUE(wavSamples("stems/cd.wav").empty());
    // Main volume and reverb truncate each stem on its own: an LSB or so a stem.
    const int worst = largestDifference(sum, mix);
    EXPECT_LE(worst, 24) << "over " << stems << " stems";
    std::printf("recorded log: %d stems, largest difference from the mix: %d\n", stems, worst);

    ASSERT_EQ(0, replay("--wav solo.wav --solo 5").status);
    EXPECT_EQ(wavSamples("stems/voice-05.wav"), wavSamples("solo.wav"));

    // Without the bass, the mix is the other stems' sum.
    ASSERT_EQ(0, replay("--wav muted.wav --mute 0").status);
    const std::vector<int16_t> bass = wavSamples("stems/voice-00.wav");
    std::vector<int> others(sum.size());
    for (size_t i = 0; i < sum.size(); ++i)
        others[i] = sum[i] - bass[i];
    const std::vector<int16_t> muted = wavSamples("muted.wav");
    ASSERT_EQ(mix.size(), muted.size());
    EXPECT_LE(largestDifference(others, muted), 24);
    EXPECT_GT(largestDifference(mix, muted), 1000) << "the bass is loud in the mix";
}

TEST_F(RecordedLogStemsTest, VoiceTableOfTheLogIsTheScripts)
{
    recordDemo();
    const HostRun fromLog = runHost(scratch.path(), "voices spulog.spu");
    ASSERT_EQ(0, fromLog.status) << fromLog.err;
    const HostRun fromScript = runHost(scratch.path(), "voices '" + DemoDir + "/demo.script'");
    ASSERT_EQ(0, fromScript.status) << fromScript.err;
    // The recording starts before the script's first command: every key-on has the
    // same frame in both, and so the same time.
    EXPECT_EQ(tableRows(fromScript.out), tableRows(fromLog.out));
    EXPECT_NE(std::string::npos, fromLog.out.find("9 of 24 voices keyed on")) << fromLog.out;

    // The picture of the log, rendered through the plugin beside spuhost: a PNG of
    // the width asked for.
    const HostRun picture = runHost(scratch.path(), "voices spulog.spu --png log.png --width 640");
    ASSERT_EQ(0, picture.status) << picture.err;
    EXPECT_NE(std::string::npos, picture.out.find("log.png: 640 x ")) << picture.out;
    EXPECT_NE(std::string::npos, picture.out.find("envelope levels")) << picture.out;
    const std::vector<unsigned char> png = readFileBytes("log.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(0, std::memcmp(png.data(), "\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(640u, static_cast<unsigned>(png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19]))
        << "IHDR width";
}
} // namespace
