// Starting and stopping a recording as the real-time window's "Record" button does:
// the wait for transfers to settle, the alignment of the transfer registers, the
// question when they do not settle, and the alert when no log can be created.

#include "audio/CriticalSection.h"
#include "support/ScratchDir.h"

#include "plugin/Globals.h"
#include "record/RecordControl.h"
#include "support/Bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const size_t ImageAt = 0x80000;
const int TransferAddressIndex = (0x1DA6 - 0x1C00) / 2;
const int ControlIndex = (0x1DAA - 0x1C00) / 2;

int questionsAsked;
std::string lastQuestion;
bool answer;
int alerts;
std::string lastAlert;

bool recordQuestion(const char* question)
{
    ++questionsAsked;
    lastQuestion = question;
    return answer;
}

void recordAlert(const char* message)
{
    ++alerts;
    lastAlert = message;
}

class RecordControlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.ok()) << scratch.error();
        initCS();
        theSPU.init();
        Record::ConfigRecOpt = 0x3F;
        questionsAsked = 0;
        lastQuestion.clear();
        answer = false;
        alerts = 0;
        lastAlert.clear();
        setRecordQuestion(recordQuestion);
        setRecordAlert(recordAlert);
    }
    void TearDown() override
    {
        enterCS();
        stopRecording(theRecord);
        leaveCS();
        setRecordQuestion(nullptr);
        setRecordAlert(nullptr);
        Record::ConfigRecOpt = 0;
    }

    static bool start()
    {
        enterCS();
        const bool started = startRecording(theSPU, theRecord);
        leaveCS();
        return started;
    }
    static std::vector<unsigned char> stop()
    {
        enterCS();
        stopRecording(theRecord);
        leaveCS();
        return readFileBytes("spulog.spu");
    }
    // Points the transfer at 0x800 in DMA-write mode and writes words there.
    static void transferWords(int words)
    {
        theSPU.writeRegister(0x1F801DAA, 0xC020);
        theSPU.writeRegister(0x1F801DA6, 0x0100);
        const unsigned short data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        theSPU.writeDMAMemory(data, words);
    }

    ScratchDir scratch{ScratchDir::WorkInside};
};

TEST_F(RecordControlTest, SettledTransferIsAlignedInTheSnapshot)
{
    transferWords(4); // transfer address 0x808: a multiple of 8
    ASSERT_TRUE(start());
    EXPECT_NE(theRecord, nullptr);
    EXPECT_EQ(questionsAsked, 0);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), 0x80204u);
    // The register image now describes the live transfer address and a transfer
    // mode of 0, as the hardware state is once the transfer has finished.
    EXPECT_EQ(le16(log, ImageAt + 2 * TransferAddressIndex), 0x0101);
    EXPECT_EQ(le16(log, ImageAt + 2 * ControlIndex), 0xC000);
}

TEST_F(RecordControlTest, UnalignedTransferAsksAndNoChangesNothing)
{
    transferWords(3); // transfer address 0x806
    EXPECT_FALSE(start());
    EXPECT_EQ(questionsAsked, 1);
    EXPECT_EQ(lastQuestion, "The record might lack consistency. Continue?");
    EXPECT_EQ(theRecord, nullptr);
    EXPECT_NE(access("spulog.spu", F_OK), 0);
    EXPECT_EQ(theSPU.getSPURegister()[TransferAddressIndex], 0x0100);
    EXPECT_EQ(theSPU.getTransferAddress(), 0x806);
}

TEST_F(RecordControlTest, PendingTransferBufferAsksToo)
{
    theSPU.writeRegister(0x1F801DA8, 0x1234); // data port: one word waits in the transfer buffer
    ASSERT_EQ(theSPU.getXferBufferCount(), 1);
    EXPECT_FALSE(start());
    EXPECT_EQ(questionsAsked, 1);
    EXPECT_EQ(theRecord, nullptr);
}

TEST_F(RecordControlTest, AnswerYesRecordsWithoutAligning)
{
    transferWords(3);
    answer = true;
    ASSERT_TRUE(start());
    EXPECT_EQ(questionsAsked, 1);
    ASSERT_NE(theRecord, nullptr);
    const std::vector<unsigned char> log = stop();
    ASSERT_EQ(log.size(), 0x80204u);
    EXPECT_EQ(le16(log, ImageAt + 2 * TransferAddressIndex), 0x0100);
    EXPECT_EQ(le16(log, ImageAt + 2 * ControlIndex), 0xC020);
}

TEST_F(RecordControlTest, StartWhileRecordingKeepsTheRunningRecorder)
{
    ASSERT_TRUE(start());
    Record* running = theRecord;
    EXPECT_TRUE(start());
    EXPECT_EQ(theRecord, running);
}

TEST_F(RecordControlTest, StopFinalisesAndClearsTheRecorder)
{
    ASSERT_TRUE(start());
    short left, right;
    for (int i = 0; i < 1000; ++i)
        theSPU.playSound(left, right);
    const std::vector<unsigned char> log = stop();
    EXPECT_EQ(theRecord, nullptr);
    EXPECT_EQ(le32(log, 0x80200), 1000u);
    stop(); // stopping again is harmless
    EXPECT_EQ(theRecord, nullptr);
}

TEST_F(RecordControlTest, LogThatCannotBeCreatedAlertsAndLeavesNoRecorder)
{
    ASSERT_EQ(mkdir("spulog.spu", 0755), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(theRecord, nullptr);
    EXPECT_EQ(alerts, 1);
    EXPECT_NE(lastAlert.find("\"spulog.spu\""), std::string::npos) << lastAlert;
}

TEST_F(RecordControlTest, ReadOnlyFolderAlertsAndLeavesNoRecorder)
{
    // Root ignores permission bits, so a read-only file system stands in for a
    // read-only folder: /proc accepts no new files from anyone.
    ASSERT_EQ(chdir("/proc"), 0);
    const bool started = start();
    ASSERT_EQ(chdir(scratch.path().c_str()), 0);
    EXPECT_FALSE(started);
    EXPECT_EQ(theRecord, nullptr);
    EXPECT_EQ(alerts, 1);
    EXPECT_NE(lastAlert.find("spulog.spu"), std::string::npos) << lastAlert;
}

TEST_F(RecordControlTest, WriteProtectedFolderAlertsForUsersOtherThanRoot)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write into a folder without write permission";
    ASSERT_EQ(chmod(scratch.path().c_str(), 0555), 0);
    EXPECT_FALSE(start());
    EXPECT_EQ(theRecord, nullptr);
    EXPECT_EQ(alerts, 1);
    EXPECT_NE(access("spulog.spu", F_OK), 0);
}
} // namespace
