#include "audio/AudioDeviceSdl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace
{
// SDL's real library with its disk driver writing to /dev/null, slowly, so that the
// test's own calls of the callback are the ones that matter.
class AudioDeviceSdlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
        setenv("SDL_DISKAUDIODELAY", "1000", 1);
        savedSize = AudioDevice::ConfigSoundBufferSize;
        AudioDevice::ConfigSoundBufferSize = 1; // 256 frames
    }
    void TearDown() override { AudioDevice::ConfigSoundBufferSize = savedSize; }

    // Fills the ring with frame i = i + 1 and returns N.
    unsigned long fillRing(AudioDeviceSdl& device)
    {
        const unsigned long n = device.getBufferSamples();
        unsigned int* cells = static_cast<unsigned int*>(device.lock(0, n));
        for (unsigned long i = 0; i < n; ++i)
            cells[i] = static_cast<unsigned int>(i + 1);
        device.unlock();
        return n;
    }
    // Calls the callback as SDL does: with SDL's audio lock held (lock takes it).
    void callback(AudioDeviceSdl& device, std::vector<unsigned int>& stream, int length)
    {
        device.lock(0, 0);
        AudioDeviceSdl::callbackSDL(&device, reinterpret_cast<unsigned char*>(stream.data()), length);
        device.unlock();
    }

    int savedSize = 0;
};
} // namespace

TEST_F(AudioDeviceSdlTest, CallbackAskingForMoreThanTheRingGetsTheRingAndSilence)
{
    AudioDeviceSdl device;
    ASSERT_TRUE(device.init());
    ASSERT_TRUE(device.start());
    const unsigned long n = fillRing(device);
    const unsigned long read = device.getCurrentPosition();

    std::vector<unsigned int> stream(n + 10, 0);
    const unsigned long consumedBefore = device.getConsumedSamples();
    callback(device, stream, static_cast<int>((n + 10) * 4));
    for (unsigned long k = 0; k < n; ++k)
        ASSERT_EQ(stream[k], (read + k) % n + 1) << "frame " << k;
    for (unsigned long k = n; k < n + 10; ++k)
        EXPECT_EQ(stream[k], 0u) << "frame " << k;
    EXPECT_EQ(device.getConsumedSamples() - consumedBefore, n);
    EXPECT_EQ(device.getCurrentPosition(), read);

    device.stop();
    device.close();
}

TEST_F(AudioDeviceSdlTest, CallbackTakesWholeFramesOnly)
{
    AudioDeviceSdl device;
    ASSERT_TRUE(device.init());
    ASSERT_TRUE(device.start());
    const unsigned long n = fillRing(device);
    const unsigned long read = device.getCurrentPosition();
    std::vector<unsigned int> stream(8, 0);
    callback(device, stream, 5 * 4 + 3);
    for (unsigned long k = 0; k < 5; ++k)
        EXPECT_EQ(stream[k], (read + k) % n + 1);
    EXPECT_EQ(stream[5], 0u);
    EXPECT_EQ(device.getCurrentPosition(), (read + 5) % n);
    device.stop();
    device.close();
}

TEST_F(AudioDeviceSdlTest, CallbackWithoutRingLeavesSilenceAndSaysSo)
{
    std::vector<unsigned int> stream(128, 0);
    ::testing::internal::CaptureStdout();
    AudioDeviceSdl::callbackSDL(nullptr, reinterpret_cast<unsigned char*>(stream.data()), 512);
    AudioDeviceSdl stopped;
    AudioDeviceSdl::callbackSDL(&stopped, reinterpret_cast<unsigned char*>(stream.data()), 512);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "pdsbs or pdsbs->lpesb: NULL\npdsbs or pdsbs->lpesb: NULL\n");
    for (unsigned int frame : stream)
        ASSERT_EQ(frame, 0u);
}

TEST_F(AudioDeviceSdlTest, StartedDeviceIsDrainedBySdlNotTheClock)
{
    AudioDeviceSdl device;
    ASSERT_TRUE(device.init());
    ASSERT_TRUE(device.start());
    EXPECT_EQ(device.getBufferSamples(), 256u);
    EXPECT_EQ(device.getCurrentPosition() % 128, 256u / 8 % 128) << "moves in whole callbacks only";
    EXPECT_TRUE(device.stop());
    EXPECT_TRUE(device.stop()) << "a second stop is harmless";
    EXPECT_TRUE(device.close());
    EXPECT_FALSE(device.close()) << "the library is gone";
}
