// spuhost play runs a script live through the plugin's own device and pacing; what
// SDL's disk driver captured must be what "spuhost script" renders with SPUrender.

#include "OutputScene.h"
#include "support/AudioOutMethods.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using namespace outputscene;

namespace
{
// The scene of OutputScene.h as a spuhost script, followed by `seconds` of sound.
std::string sceneScript(int seconds)
{
    std::ostringstream script;
    script << "init\nw 1F801DAA C000\nw 1F801DA6 0200\ndma";
    const unsigned char flags[2] = {0x04, 0x03};
    for (int block = 0; block < 2; ++block)
    {
        script << std::hex << " " << (0x02 | (flags[block] << 8));
        for (int i = 0; i < 7; ++i)
        {
            const unsigned n = static_cast<unsigned>(block * 7 + i);
            const unsigned b0 = (1 + n * 3 % 15) | ((1 + (n * 5 + 7) % 15) << 4);
            const unsigned b1 = (1 + (n * 7 + 1) % 15) | ((1 + (n * 11 + 3) % 15) << 4);
            script << " " << (b0 | (b1 << 8));
        }
    }
    script << std::dec << "\nw 1F801D80 3FFF\nw 1F801D82 3FFF\nw 1F801C00 3FFF\nw 1F801C02 2FFF\n"
           << "w 1F801C04 1000\nw 1F801C06 0200\nw 1F801C08 00FF\nw 1F801C0A 0000\nw 1F801D88 0001\n"
           << "render " << seconds * 44100 << "\nclose\nshutdown\n";
    return script.str();
}

int run(const std::string& command)
{
    return std::system(command.c_str());
}

// Plays scene.script of dir live with the extra arguments, SDL's disk driver
// capturing, and compares the sound with what "spuhost script" renders of it.
void expectLiveAsRendered(const WorkDir& dir, const std::string& extra)
{
    const std::string host = SPU_HOST_PATH;
    const std::string plugin = SPU_PLUGIN_PATH;
    ASSERT_EQ(run("SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=3 SDL_DISKAUDIOFILE='" + dir.file("live.raw") +
                  "' '" + host + "' play '" + plugin + "' --script '" + dir.file("scene.script") + "' " +
                  extra + " >/dev/null 2>&1"),
              0);
    ASSERT_EQ(run("'" + host + "' script '" + plugin + "' '" + dir.file("scene.script") + "' --out '" +
                  dir.file("rendered.raw") + "'"),
              0);

    const std::vector<unsigned int> live = readFrames(dir.file("live.raw"));
    const std::vector<unsigned int> rendered = readFrames(dir.file("rendered.raw"));
    ASSERT_EQ(rendered.size(), 88200u);
    const size_t start = firstSound(live);
    ASSERT_LT(start, live.size()) << "nothing played";
    size_t end = live.size();
    while (end > start && live[end - 1] == 0)
        --end;
    const size_t offset = firstSound(rendered);
    EXPECT_GT(end - start, 4410u);
    for (size_t i = start; i < end && i - start + offset < rendered.size(); ++i)
        ASSERT_EQ(live[i], rendered[i - start + offset]) << "frame " << i - start << " of the sound";
}
} // namespace

class SpuhostPlayTest : public ::testing::TestWithParam<int>
{
};

TEST_P(SpuhostPlayTest, PlaysTheScriptLiveAsScriptRendersIt)
{
    WorkDir dir;
    dir.writeConfig(1, 256, GetParam());
    {
        std::ofstream(dir.file("scene.script")) << sceneScript(2);
    }
    expectLiveAsRendered(dir, "");
    const std::vector<unsigned int> live = readFrames(dir.file("live.raw"));
    EXPECT_GE(firstSound(live), 65536u * 3 / 8) << "the start silence of the ring";
}

INSTANTIATE_TEST_SUITE_P(Methods, SpuhostPlayTest, ::testing::Values(0, 2), audioOutMethodName);

TEST(SpuhostPlayCommandTest, RefusesBadArguments)
{
    const std::string host = SPU_HOST_PATH;
    const std::string plugin = SPU_PLUGIN_PATH;
    EXPECT_NE(run("'" + host + "' play '" + plugin + "' 2>/dev/null"), 0) << "no script";
    EXPECT_NE(run("'" + host + "' play '" + plugin + "' --script /nonexistent.script 2>/dev/null"), 0);
    EXPECT_NE(run("'" + host + "' play '" + plugin + "' --script x --seconds 0 2>/dev/null"), 0);
    EXPECT_NE(run("'" + host + "' play '" + plugin + "' --demo --device alsa 2>/dev/null"), 0);
    EXPECT_NE(run("'" + host + "' play '" + plugin + "' --demo --device 2>/dev/null"), 0);
}

// --device sdl plays through SDL although the file names OSS, keeps the file's
// other settings (its ring of 256 units shows as the longer start silence) and
// leaves the file as it was.
TEST(SpuhostPlayCommandTest, DeviceOverridesTheSettingsFileWithoutWritingIt)
{
    WorkDir dir;
    dir.writeConfig(3, 256, 0);
    const std::string before = readFileText(dir.file("cfg/spuTalvane.cfg"));
    {
        std::ofstream(dir.file("scene.script")) << sceneScript(2);
    }
    expectLiveAsRendered(dir, "--device sdl");
    EXPECT_GE(firstSound(readFrames(dir.file("live.raw"))), 65536u * 3 / 8);
    EXPECT_EQ(readFileText(dir.file("cfg/spuTalvane.cfg")), before);
}

// Without a settings file the plugin's defaults hold (a ring of 64 units: a
// shorter start silence than the 256 units above), and no file is made in the
// user's folder.
TEST(SpuhostPlayCommandTest, DeviceWithoutSettingsFilePlaysTheDefaults)
{
    WorkDir dir;
    {
        std::ofstream(dir.file("scene.script")) << sceneScript(1);
    }
    const std::string host = SPU_HOST_PATH;
    const std::string plugin = SPU_PLUGIN_PATH;
    ASSERT_EQ(run("SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=3 SDL_DISKAUDIOFILE='" + dir.file("live.raw") +
                  "' '" + host + "' play '" + plugin + "' --script '" + dir.file("scene.script") +
                  "' --device sdl >/dev/null 2>&1"),
              0);
    const size_t start = firstSound(readFrames(dir.file("live.raw")));
    EXPECT_LT(start, 65536u * 3 / 8) << "no sound, or a ring larger than the default";
    struct stat st;
    EXPECT_NE(stat(dir.file("cfg").c_str(), &st), 0) << "a settings folder was made in the user's folder";
}

TEST(SpuhostPlayCommandTest, SecondsLimitsThePlay)
{
    WorkDir dir;
    dir.writeConfig(1, 64, 2);
    {
        std::ofstream(dir.file("long.script")) << sceneScript(30);
    }
    const std::string host = SPU_HOST_PATH;
    const std::string plugin = SPU_PLUGIN_PATH;
    // A 30 s script cut to 1 s: the run ends with success well before 30 s (the
    // test's own timeout would catch a run that does not stop).
    EXPECT_EQ(run("SDL_AUDIODRIVER=disk SDL_DISKAUDIODELAY=3 SDL_DISKAUDIOFILE='" + dir.file("cut.raw") +
                  "' '" + host + "' play '" + plugin + "' --script '" + dir.file("long.script") +
                  "' --seconds 1 >/dev/null 2>&1"),
              0);
    const std::vector<unsigned int> cut = readFrames(dir.file("cut.raw"));
    EXPECT_LT(cut.size(), 44100u * 3) << "played for far longer than asked";
}
