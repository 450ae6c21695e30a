// The SPU interrupt: transfer and voice hits, collection per frame, acknowledgement,
// delivery to the host's callback and the wait for the CPU.

#include "SpuUnderTest.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
class SpuInterruptTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        model::Spu m;
        spu_test::resetLike(m);
    }
    void TearDown() override
    {
        AudioOut::ConfigSPUIRQWaitCPUAction = 0;
        theAudioOut.CPUaction();
    }
    static unsigned long render(int frames)
    {
        std::vector<short> buffer(2 * frames);
        return theAudioOut.playSounds(buffer.data(), frames);
    }
    static int calls() { return spu_test::callbackCount(); }
    // Voice k parked on unit address `unit` (pitch 0, audible or not does not matter).
    static void park(int k, int unit)
    {
        theSPU.writeRegister(0x1F801C06 + 16 * k, static_cast<unsigned short>(unit));
        theSPU.writeRegister(0x1F801C04 + 16 * k, 0);
        theSPU.writeRegister(0x1F801D88, static_cast<unsigned short>(1 << k));
    }
};

TEST_F(SpuInterruptTest, TransferPassingTheAddressHitsOnceAndIsDeliveredAfterTheNextFrame)
{
    theSPU.writeRegister(0x1F801DA4, 0x0100);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    std::vector<unsigned short> words(0x400, 0);
    theSPU.writeDMAMemory(words.data(), 0x400);
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
    EXPECT_EQ(0, calls());
    render(1);
    EXPECT_EQ(1, calls());
    EXPECT_EQ(0x40, theSPU.readRegister(0x1F801DAE) & 0x40);
}

TEST_F(SpuInterruptTest, HitsWhileTheFlagIsSetAreLostUntilAcknowledged)
{
    theSPU.writeRegister(0x1F801DA4, 0x0100);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    theSPU.writeRegister(0x1F801DA6, 0x0100);
    render(1);
    EXPECT_EQ(1, calls());
    theSPU.writeRegister(0x1F801DA6, 0x0100);
    park(0, 0x100);
    render(10);
    EXPECT_EQ(1, calls());
    theSPU.writeRegister(0x1F801DAA, 0x0000);
    EXPECT_EQ(0, theSPU.readRegister(0x1F801DAE) & 0x40);
    render(1); // interrupts disabled: the parked voice's hits are dropped
    EXPECT_EQ(1, calls());
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    render(1);
    EXPECT_EQ(2, calls());
}

TEST_F(SpuInterruptTest, TwoVoicesInOneFrameMakeOneCall)
{
    theSPU.writeRegister(0x1F801DA4, 0x0300);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    park(0, 0x300);
    park(7, 0x300);
    render(1);
    EXPECT_EQ(1, calls());
}

TEST_F(SpuInterruptTest, WaitForCpuStopsAfterTheDeliveringFrame)
{
    AudioOut::ConfigSPUIRQWaitCPUAction = 1;
    theSPU.writeRegister(0x1F801DA4, 0x0300);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    park(2, 0x300);
    EXPECT_EQ(1u, render(100));
    EXPECT_TRUE(theAudioOut.isWaitingForCPU());
    const unsigned long ticks = theSPU.getCurrentTickCount();
    EXPECT_EQ(100u, render(100)); // flag set: no further delivery, no early stop
    EXPECT_EQ(ticks + 100, theSPU.getCurrentTickCount());
    theAudioOut.CPUaction();
    EXPECT_FALSE(theAudioOut.isWaitingForCPU());
}

TEST_F(SpuInterruptTest, NoCallbackStillRaisesTheFlagAndKeepsTheCount)
{
    theAudioOut.setexecuteSPUIRQ(nullptr);
    theSPU.writeRegister(0x1F801DA4, 0x0300);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    theSPU.writeRegister(0x1F801DA6, 0x0300);
    render(3);
    EXPECT_EQ(0x40, theSPU.readRegister(0x1F801DAE) & 0x40);
    EXPECT_EQ(1, theAudioOut.getPendingIRQCount());
    theAudioOut.setexecuteSPUIRQ(spu_test::countCallback);
    render(1);
    EXPECT_EQ(1, calls());
    EXPECT_EQ(0, theAudioOut.getPendingIRQCount());
}

TEST_F(SpuInterruptTest, TransferAddressEqualToTheIrqAddressHitsAtOnce)
{
    theSPU.writeRegister(0x1F801DA4, 0x0123);
    theSPU.writeRegister(0x1F801DAA, 0x0040);
    EXPECT_EQ(0, theSPU.getTransferIRQCount());
    theSPU.writeRegister(0x1F801DA6, 0x0123);
    EXPECT_EQ(1, theSPU.getTransferIRQCount());
}

TEST_F(SpuInterruptTest, SilentFramesAdvanceTheTickCount)
{
    const unsigned long before = theSPU.getCurrentTickCount();
    std::vector<short> buffer(2 * 50, 7);
    EXPECT_EQ(50u, theAudioOut.playSounds(buffer.data(), 50));
    EXPECT_EQ(before + 50, theSPU.getCurrentTickCount());
    for (short s : buffer)
        EXPECT_EQ(0, s);
    EXPECT_EQ(0u, theAudioOut.playSounds(buffer.data(), 0));
}
} // namespace
