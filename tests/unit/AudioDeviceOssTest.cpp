#include "audio/AudioDeviceOss.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
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
        char pattern[] = "/tmp/spuossXXXXXX";
        dir = mkdtemp(pattern);
        savedPath = AudioDeviceOss::DEV_DSP;
        savedSize = AudioDevice::ConfigSoundBufferSize;
        AudioDevice::ConfigSoundBufferSize = 4; // 1024 frames
    }
    void TearDown() override
    {
        AudioDeviceOss::DEV_DSP = savedPath;
        AudioDevice::ConfigSoundBufferSize = savedSize;
        unlink((dir + "/dsp").c_str());
        rmdir(dir.c_str());
    }
    // A FIFO standing in for the device, with a reader already there so that the
    // device's blocking open returns; a one-page pipe holds 1024 frames.
    int makeFifoDevice()
    {
        path = dir + "/dsp";
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        AudioDeviceOss::DEV_DSP = path.c_str();
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        fcntl(fd, F_SETPIPE_SZ, 4096);
        return fd;
    }

    std::string dir;
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
    path = dir + "/dsp";
    AudioDeviceOss::DEV_DSP = path.c_str();
    AudioDeviceOss device;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(device.init());
    EXPECT_TRUE(device.start());
    const unsigned long first = device.getCurrentPosition();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    const unsigned long later = device.getCurrentPosition();
    EXPECT_TRUE(device.stop());
    EXPECT_TRUE(device.close());
    const std::string messages = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(messages, "SPU: open(\"" + path + "\", O_WRONLY): No such file or directory\n"
                        "\rSPU: AudioDevice Disabled.\r\n");
    EXPECT_EQ(device.getBufferSamples(), 1024u);
    // 60 ms on the clock is about 2 600 frames: more than two laps of 1 024, so only
    // movement is certain, not the direction.
    EXPECT_NE(first, later);
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
    // Unread, the pipe fills and the writer blocks in write() with one more block
    // taken from the ring than it has counted: the cursor is the writer's, not the clock's.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(device.getCurrentPosition(), (1024 / 8 + device.getConsumedSamples() + 128) % 1024);
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
    ::testing::internal::CaptureStderr();
    device.init();
    ASSERT_TRUE(device.start());
    close(fd); // SIGPIPE would end the process here
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device.stop();
    device.close();
    const std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(messages.find("SPU: write() error: Broken pipe\n\r"), std::string::npos) << messages;
}

// A settings file without "SoundBufferSize" reads it as 0: the ring takes the
// default size, not the least one, which could never stay half full.
TEST_F(AudioDeviceOssTest, UnsetRingSizeMeansTheDefault)
{
    path = dir + "/dsp"; // no device: the ring runs on the clock
    AudioDeviceOss::DEV_DSP = path.c_str();
    for (int size : {0, -5})
    {
        AudioDevice::ConfigSoundBufferSize = size;
        AudioDeviceOss device;
        ::testing::internal::CaptureStderr();
        device.init();
        EXPECT_TRUE(device.start());
        EXPECT_EQ(device.getBufferSamples(), 64u * 256u) << "size " << size;
        EXPECT_TRUE(device.stop());
        device.close();
        ::testing::internal::GetCapturedStderr();
    }
    AudioDevice::ConfigSoundBufferSize = 1000;
    AudioDeviceOss device;
    ::testing::internal::CaptureStderr();
    device.init();
    EXPECT_TRUE(device.start());
    EXPECT_EQ(device.getBufferSamples(), 999u * 256u);
    EXPECT_TRUE(device.stop());
    device.close();
    ::testing::internal::GetCapturedStderr();
}
