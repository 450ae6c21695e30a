// Live output through real devices, driven through dlopen as a host does: SDL 1.2's
// disk driver and an OSS FIFO reader capture what the plugin plays, which must be
// exactly what SPUrender gives for the same scene.

#include "OutputScene.h"
#include "support/PrivateDsp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace outputscene;

namespace
{
const size_t DefaultQueuedSilence = 16384 * 3 / 8; // from the drain at N/8 to the writer at N/2

// SDL's disk driver drains at about 97 % of real time on an idle machine, much
// slower on a busy one. With the default ring the engine corrects (as designed)
// once the queue passes 3N/4, 6 144 frames of drift later; a ring of 65 536
// frames leaves 24 576 frames of drift before that.
const int SdlRingUnits = 256;
const size_t SdlQueuedSilence = SdlRingUnits * 256 * 3 / 8;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms)); // resumes after EINTR
}

void useSdlDiskDriver(const WorkDir& dir)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", dir.file("sdl.raw").c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "3", 1);
}
} // namespace

TEST(LiveOutputTest, SdlDiskDriverPlaysExactlyWhatSPUrenderGives)
{
    WorkDir dir;
    dir.writeConfig(1, SdlRingUnits, 0);
    useSdlDiskDriver(dir);
    Plugin plugin;
    ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();

    plugin.SPUinit();
    setUpScene(plugin);
    plugin.SPUopen(nullptr);
    sleepMs(2000);
    plugin.SPUclose();
    plugin.SPUshutdown();

    const std::vector<unsigned int> captured = readFrames(dir.file("sdl.raw"));
    const size_t compared = expectCaptureMatchesRender(plugin, captured, SdlQueuedSilence);
    // 2 s at ~97 % of real time minus the start silence is over a second; a busy
    // machine slows the disk driver, so only a tenth of a second is required.
    EXPECT_GT(compared, 4410u);
}

namespace
{
// Reads a FIFO at 44 100 frames per second, as a sound card would, until the
// writer closes it.
class PacedFifoReader
{
public:
    explicit PacedFifoReader(int descriptor) : fd(descriptor) {}
    void start()
    {
        thread = std::thread([this] { run(); });
    }
    void join()
    {
        if (thread.joinable())
            thread.join();
    }
    std::vector<unsigned char> bytes;

private:
    void run()
    {
        const auto begin = std::chrono::steady_clock::now();
        unsigned char chunk[4096];
        for (;;)
        {
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            const size_t due = static_cast<size_t>(seconds * 44100) * 4;
            if (bytes.size() >= due)
            {
                sleepMs(1);
                continue;
            }
            const size_t want = due - bytes.size() < sizeof(chunk) ? due - bytes.size() : sizeof(chunk);
            const ssize_t got = read(fd, chunk, want);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return; // the writer closed the device
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    }
    int fd;
    std::thread thread;
};
} // namespace

TEST(LiveOutputTest, OssFifoReaderReceivesExactlyWhatSPUrenderGives)
{
    // "/dev/dsp" is a FIFO in a mount namespace of this test's own: no other
    // process can open it and write into the capture, and no real device is used.
    std::string whyNot;
    const bool ran = runWithPrivateDsp(
        [] {
            // The reader is there first, so the plugin's blocking open returns at
            // once. A one-page pipe holds 1024 frames, about what a driver's
            // fragments hold.
            const int fd = open("/dev/dsp", O_RDONLY | O_NONBLOCK);
            ASSERT_GE(fd, 0) << std::strerror(errno);
            fcntl(fd, F_SETPIPE_SZ, 4096);
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

            WorkDir dir;
            dir.writeConfig(3, 64, 0);
            Plugin plugin;
            ASSERT_TRUE(plugin.load(SPU_PLUGIN_PATH)) << plugin.error();
            plugin.SPUinit();
            setUpScene(plugin);
            plugin.SPUopen(nullptr);
            PacedFifoReader reader(fd);
            reader.start();
            sleepMs(1500);
            plugin.SPUclose(); // closing the device ends the reader
            reader.join();
            close(fd);
            plugin.SPUshutdown();

            std::vector<unsigned int> captured(reader.bytes.size() / 4);
            std::memcpy(captured.data(), reader.bytes.data(), captured.size() * 4);
            EXPECT_GT(captured.size(), 44100u);
            EXPECT_GT(expectCaptureMatchesRender(plugin, captured, DefaultQueuedSilence), 4410u);
        },
        whyNot);
    if (!ran)
        GTEST_SKIP() << whyNot;
}
