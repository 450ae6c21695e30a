#include "support/ScratchDir.h"

#include "audio/AudioDeviceOss.h"
#include "config/ConfigLinuxPSEmuPro.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{
// Points the device at a path of the test's choosing instead of "/dev/dsp".
class AudioDeviceOssTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        savedPath = AudioDeviceOss::DEV_DSP;
        savedSize = AudioDevice::ConfigSoundBufferSize;
        AudioDevice::ConfigSoundBufferSize = 4; // 1024 frames
        ASSERT_TRUE(dir.ok()) << dir.error();
    }
    void TearDown() override
    {
        AudioDeviceOss::DEV_DSP = savedPath;
        AudioDevice::ConfigSoundBufferSize = savedSize;
    }
    // A FIFO standing in for the device, with a reader already there so that the
    // device's blocking open returns; a one-page pipe holds 1024 frames.
    int makeFifoDevice()
    {
        path = dir.file("dsp");
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        AudioDeviceOss::DEV_DSP = path.c_str();
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        fcntl(fd, F_SETPIPE_SZ, 4096);
        return fd;
    }

    ScratchDir dir{ScratchDir::StayPut, "spuoss"};
    std::string path;
    const char* savedPath = nullptr;
    int savedSize = 0;
};

size_t drain(int fd)
{
    size_t total = 0;
    unsigned char buffer[4096];
    for (;;)
    {
        const ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got <= 0)
            return total;
        total += static_cast<size_t>(got);
    }
}
} // namespace

TEST_F(AudioDeviceOssTest, MissingDeviceReportsOnceAndRunsOnTheWallClock)
{
    path = dir.file("dsp");
    AudioDeviceOss::DEV_DSP = path.c_str();
    AudioDeviceOss device;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(device.init());
    EXPECT_TRUE(device.start());
    // The clock moves 44 frames a millisecond; two readings only agree when they
    // lie whole laps of the ring apart, which the next millisecond undoes.
    const unsigned long first = device.getCurrentPosition();
    unsigned long later = first;
    for (int i = 0; i < 1000 && later == first; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        later = device.getCurrentPosition();
    }
    EXPECT_TRUE(device.stop());
    EXPECT_TRUE(device.close());
    const std::string messages = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(messages, "SPU: open(\"" + path +
                            "\", O_WRONLY): No such file or directory\n"
                            "\rSPU: AudioDevice Disabled.\r\n");
    EXPECT_EQ(device.getBufferSamples(), 1024u);
    EXPECT_NE(first, later) << "the clock cursor does not move";
    EXPECT_EQ(device.getConsumedSamples(), 0u) << "no drain without a device";
}

TEST_F(AudioDeviceOssTest, FifoRefusesTheSoundIoctlsYetIsWrittenTo)
{
    const int fd = makeFifoDevice();
    ASSERT_GE(fd, 0);
    AudioDeviceOss device;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(device.init());
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(messages, "ioctl(dsp, SNDCTL_DSP_GETOSPACE, &abi): Inappropriate ioctl for device\n"
                        "ioctl(dsp, SNDCTL_DSP_SPEED, &format): Inappropriate ioctl for device\n");

    ASSERT_TRUE(device.start());
    // Unread, the one-page pipe takes eight blocks and the writer blocks in write()
    // on the ninth, one more block taken from the ring than it has counted: the
    // cursor is the writer's, not the clock's. Waited for, as a busy machine may
    // run the writer late.
    const unsigned long blocked = (1024 / 8 + 1024 + 128) % 1024;
    for (int i = 0; i < 10000; ++i)
    {
        if (device.getConsumedSamples() == 1024 && device.getCurrentPosition() == blocked)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(device.getConsumedSamples(), 1024u);
    EXPECT_EQ(device.getCurrentPosition(), blocked);
    size_t bytes = 0;
    for (int i = 0; i < 50 && bytes < 8192; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        bytes += drain(fd);
    }
    std::atomic<bool> stopped(false);
    std::thread stopper([&] {
        device.stop();
        stopped = true;
    });
    while (!stopped)
    {
        bytes += drain(fd); // a writer blocked in write() finishes its block, then sees the stop
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stopper.join();
    bytes += drain(fd);
    device.close();
    close(fd);

    EXPECT_GE(bytes, 8192u);
    EXPECT_EQ(bytes % 512, 0u) << "whole 128-frame blocks";
    EXPECT_EQ(device.getConsumedSamples(), bytes / 4);
}

TEST_F(AudioDeviceOssTest, ReaderGoingAwayIsAWriteErrorNotAKilledHost)
{
    const int fd = makeFifoDevice();
    ASSERT_GE(fd, 0);
    AudioDeviceOss device;
    // Standard error goes to a file that the test watches until the writer has
    // met the closed pipe (a busy machine may run it late).
    const std::string errPath = dir.file("stderr");
    std::fflush(stderr);
    const int savedErr = dup(2);
    const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(errFd, 0);
    dup2(errFd, 2);
    close(errFd);
    device.init();
    ASSERT_TRUE(device.start());
    close(fd); // SIGPIPE would end the process here
    std::string messages;
    for (int i = 0; i < 2000 && messages.find("Broken pipe") == std::string::npos; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream in(errPath);
        messages.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    device.stop();
    device.close();
    std::fflush(stderr);
    dup2(savedErr, 2);
    close(savedErr);
    unlink(errPath.c_str());
    EXPECT_NE(messages.find("SPU: write() error: Broken pipe\n\r"), std::string::npos) << messages;
}

namespace
{
// The ring a started device (without "/dev/dsp", so on the clock) gets for a size.
unsigned long ringFramesFor(int units)
{
    AudioDevice::ConfigSoundBufferSize = units;
    AudioDeviceOss device;
    ::testing::internal::CaptureStderr();
    device.init();
    device.start();
    const unsigned long frames = device.getBufferSamples();
    device.stop();
    device.close();
    ::testing::internal::GetCapturedStderr();
    return frames;
}
} // namespace

TEST_F(AudioDeviceOssTest, SizeBelowOneMeansTheDefaultRingAndTheBoundsHold)
{
    path = dir.file("dsp");
    AudioDeviceOss::DEV_DSP = path.c_str();
    EXPECT_EQ(ringFramesFor(0), 64u * 256);
    EXPECT_EQ(ringFramesFor(-3), 64u * 256);
    EXPECT_EQ(ringFramesFor(1), 256u);
    EXPECT_EQ(ringFramesFor(8), 8u * 256);
    EXPECT_EQ(ringFramesFor(999), 999u * 256);
    EXPECT_EQ(ringFramesFor(1000), 999u * 256);
}

// A settings file written before the key existed, or edited by hand, lacks the
// line: it loads as 0, and the ring is the default one, not the smallest.
TEST_F(AudioDeviceOssTest, SettingsFileWithoutTheSizeLineGivesTheDefaultRing)
{
    path = dir.file("dsp");
    AudioDeviceOss::DEV_DSP = path.c_str();
    ScratchDir work(ScratchDir::WorkInside);
    ASSERT_TRUE(work.ok()) << work.error();
    ASSERT_EQ(mkdir("cfg", 0755), 0);
    std::ofstream("cfg/spuTalvane.cfg") << "AudioDevice = 3\nAudioOutMethod = 0\nReverbType = 0\n";
    ConfigLinuxPSEmuPro config;
    config.loadConfig();
    ASSERT_EQ(config.SoundBufferSize, 0);
    config.updateConfigValue();
    EXPECT_EQ(ringFramesFor(AudioDevice::ConfigSoundBufferSize), 64u * 256);
    config.setDefaultValue();
    config.updateConfigValue();
}
