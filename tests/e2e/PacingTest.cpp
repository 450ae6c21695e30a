// The three audio-out methods under load, through dlopen as a host uses them: the
// pacing thread, the SIGALRM timer and the host's own SPUasync calls, each while
// another thread hammers the register window. The traffic touches only a silent
// voice and read-only state, so what SDL's disk driver captured must still be
// exactly what SPUrender gives for the scene.

#include "OutputScene.h"
#include "support/AudioOutMethods.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace outputscene;

namespace
{
// SDL's disk driver drains at about 97 % of real time on an idle machine but much
// slower on a busy one; a ring of 65 536 frames gives 24 576 frames of headroom
// before the engine's queue band forces a correction that the comparison would see.
const int RingUnits = 256;
const size_t QueuedSilence = RingUnits * 256 * 3 / 8;
// At least a tenth of a second of sound must have been compared; a slow machine
// (or a sanitizer build) lets the disk driver write less than real time.
const size_t MinimumCompared = 4410;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Writes to voice 5 (never keyed on) and reads voice 0's envelope and the status
// word in bursts of 64 accesses every 100 us (several hundred thousand a second,
// far beyond what a game does), until told to stop.
class RegisterTraffic
{
public:
    explicit RegisterTraffic(Plugin& loaded) : plugin(loaded)
    {
        thread = std::thread([this] {
            unsigned short value = 0;
            while (!stopRequested)
            {
                plugin.SPUwriteRegister(0x1F801C50, value);          // voice 5 volume left
                plugin.SPUwriteRegister(0x1F801C54, value & 0x3FFF); // voice 5 pitch
                plugin.SPUreadRegister(0x1F801C0C);                  // voice 0 envelope
                plugin.SPUreadRegister(0x1F801DAE);                  // status
                ++value;
                if (++calls % 16 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
    }
    ~RegisterTraffic() { stop(); }
    void stop()
    {
        stopRequested = true;
        if (thread.joinable())
            thread.join();
    }
    std::atomic<unsigned long> calls{0};

private:
    Plugin& plugin;
    std::atomic<bool> stopRequested{false};
    std::thread thread;
};

// Opens the plugin with SDL's disk driver and the given method, plays the scene
// under register traffic for `ms`, and returns the captured frames.
std::vector<unsigned int> playUnderTraffic(Plugin& plugin, const WorkDir& dir, int method, int ms,
                                           bool hostCallsAsync)
{
    dir.writeConfig(1, RingUnits, method);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", dir.file("sdl.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "3", 1);

    plugin.SPUinit();
    setUpScene(plugin);
    plugin.SPUopen(nullptr);
    {
        RegisterTraffic traffic(plugin);
        const auto begin = std::chrono::steady_clock::now();
        unsigned long long reported = 0; // cycles reported so far, from the host's clock
        while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(ms))
        {
            sleepMs(5);
            if (hostCallsAsync)
            {
                const double seconds =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                const unsigned long long due = static_cast<unsigned long long>(seconds * 33868800);
                plugin.SPUasync(static_cast<unsigned long>(due - reported));
                reported = due;
            }
        }
        traffic.stop();
        EXPECT_GT(traffic.calls.load(), 100u);
    }
    const auto closing = std::chrono::steady_clock::now();
    plugin.SPUclose();
    ::testing::Test::RecordProperty("SPUcloseMicroseconds",
                                    static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                         std::chrono::steady_clock::now() - closing)
                                                         .count()));
    plugin.SPUshutdown();
    return readFrames(dir.file("sdl.raw"));
}
} // namespace

// The parameter is the "AudioOutMethod" value; with the SPUasync method (2) the
// host's SPUasync calls are what paces the output.
class PacingMethodTest : public ::testing::TestWithParam<int>
{
};

TEST_P(PacingMethodTest, PlaysTheSceneUnderRegisterTraffic)
{
    const int method = GetParam();
    WorkDir dir;
    Plugin plugin;
    ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();
    const std::vector<unsigned int> captured = playUnderTraffic(plugin, dir, method, 2000, method == 2);
    EXPECT_GT(expectCaptureMatchesRender(plugin, captured, QueuedSilence), MinimumCompared);
}

INSTANTIATE_TEST_SUITE_P(Methods, PacingMethodTest, ::testing::Values(0, 1, 2), audioOutMethodName);

// With the "SPUasync" method and no SPUasync call nothing paces the output, so
// without the option the voice never advances; with it every read renders first.
TEST(PacingTest, UpdateBeforeRegisterAccessRendersBeforeEachRead)
{
    unsigned short envelopeAtKeyOn = 0;
    {
        WorkDir dir;
        Plugin plugin;
        ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();
        plugin.SPUinit();
        setUpScene(plugin);
        envelopeAtKeyOn = plugin.SPUreadRegister(0x1F801C0C);
        plugin.SPUshutdown();
    }
    unsigned short envelope[2] = {0, 0};
    for (int option = 0; option <= 1; ++option)
    {
        WorkDir dir;
        dir.writeConfig(1, 64, 2, 0, option);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", dir.file("sdl.raw").c_str(), 1);
        setenv("SDL_DISKAUDIODELAY", "3", 1);
        Plugin plugin;
        ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();
        plugin.SPUinit();
        setUpScene(plugin);
        plugin.SPUopen(nullptr);
        for (int i = 0; i < 64; ++i)
            envelope[option] = plugin.SPUreadRegister(0x1F801C0C);
        plugin.SPUclose();
        plugin.SPUshutdown();
    }
    EXPECT_EQ(envelope[0], envelopeAtKeyOn) << "nothing rendered without the option";
    EXPECT_GT(envelope[1], envelope[0]) << "the attack has risen over 64 rendered frames";
}

TEST(PacingTest, CloseWithoutOpenAndOpenTwiceAreHarmless)
{
    WorkDir dir;
    dir.writeConfig(1, RingUnits, 0);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", dir.file("sdl.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "3", 1);
    Plugin plugin;
    ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();

    plugin.SPUinit();
    EXPECT_EQ(plugin.SPUclose(), 0);
    setUpScene(plugin);
    EXPECT_EQ(plugin.SPUopen(nullptr), 0);
    EXPECT_EQ(plugin.SPUopen(nullptr), 0);
    sleepMs(1500);
    EXPECT_EQ(plugin.SPUclose(), 0);
    EXPECT_EQ(plugin.SPUclose(), 0);
    plugin.SPUshutdown();

    // One device, one stream: a second open must not have restarted or doubled it.
    const std::vector<unsigned int> captured = readFrames(dir.file("sdl.raw"));
    EXPECT_GT(expectCaptureMatchesRender(plugin, captured, QueuedSilence), MinimumCompared);
}

TEST(PacingTest, ReopenAfterClosePlaysAgain)
{
    WorkDir dir;
    dir.writeConfig(1, 64, 0);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIODELAY", "3", 1);
    Plugin plugin;
    ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();
    plugin.SPUinit();
    setUpScene(plugin);
    for (int round = 0; round < 2; ++round)
    {
        const std::string file = dir.file("round" + std::to_string(round) + ".raw");
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        plugin.SPUopen(nullptr);
        sleepMs(1000);
        plugin.SPUclose();
        const std::vector<unsigned int> captured = readFrames(file);
        EXPECT_LT(firstSound(captured), captured.size()) << "round " << round << " played nothing";
    }
    plugin.SPUshutdown();
}
