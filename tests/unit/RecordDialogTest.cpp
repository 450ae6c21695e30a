// The recording options dialog: "RecOpt" bits to check buttons and back. The
// dialog shows its window, so it runs on a private Xvfb.

#include "XServer.h"

#include "config/ConfigLinux.h"
#include "plugin/Globals.h"
#include "config/RecordDialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <gtest/gtest.h>

namespace
{
class RecordDialogTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { server = sharedXServer(&serverError); }

    void SetUp() override
    {
        ASSERT_NE(server, nullptr) << serverError;
        ConfigLinux::thisConfig = &theConfig;
        theConfig.setDefaultValue();
    }

    void TearDown() override
    {
        if (pflRecordWindow != nullptr)
            pflRecordWindow->hide();
        theConfig.setDefaultValue();
    }

    static XServer* server;
    static std::string serverError;
};

XServer* RecordDialogTest::server = nullptr;
std::string RecordDialogTest::serverError;
} // namespace

TEST_F(RecordDialogTest, OpensWithTheStoredBits)
{
    theConfig.RecOpt = 5;
    makeRecordDialog(ConfigLinux::thisConfig->RecOpt);
    EXPECT_EQ(pflREGwrite->value(), 1);
    EXPECT_EQ(pflREGread->value(), 0);
    EXPECT_EQ(pflDMAwrite->value(), 1);
    EXPECT_EQ(pflDMAread->value(), 0);
    EXPECT_EQ(pflXAplay->value(), 0);
    EXPECT_EQ(pflCDDAplay->value(), 0);
    EXPECT_STREQ(pflRecordWindow->label(), "Recording Option");
    EXPECT_EQ(pflCDDAplay->y(), 130);
    EXPECT_EQ(pflRecCancel->x(), 95);
}

TEST_F(RecordDialogTest, AllSixCheckedStore0x3F)
{
    theConfig.RecOpt = 0;
    makeRecordDialog(ConfigLinux::thisConfig->RecOpt);
    for (Fl_Check_Button* button : {pflREGwrite, pflREGread, pflDMAwrite, pflDMAread, pflXAplay, pflCDDAplay})
        button->value(1);
    RecOptDialogProc(pflRecOK, nullptr);
    EXPECT_EQ(theConfig.RecOpt, 0x3F);
    EXPECT_FALSE(pflRecordWindow->shown());
}

TEST_F(RecordDialogTest, OKClearsBitsAboveTheSix)
{
    theConfig.RecOpt = 0xC0 | 0x10;
    makeRecordDialog(ConfigLinux::thisConfig->RecOpt);
    EXPECT_EQ(pflXAplay->value(), 1);
    RecOptDialogProc(pflRecOK, nullptr);
    EXPECT_EQ(theConfig.RecOpt, 0x10);
}

TEST_F(RecordDialogTest, CancelKeepsRecOpt)
{
    theConfig.RecOpt = 0x21;
    makeRecordDialog(ConfigLinux::thisConfig->RecOpt);
    pflREGwrite->value(0);
    pflDMAread->value(1);
    RecOptDialogProc(pflRecCancel, nullptr);
    EXPECT_EQ(theConfig.RecOpt, 0x21);
    EXPECT_FALSE(pflRecordWindow->shown());
}

TEST_F(RecordDialogTest, OtherWidgetsDoNothing)
{
    theConfig.RecOpt = 0x21;
    makeRecordDialog(ConfigLinux::thisConfig->RecOpt);
    pflREGwrite->value(0);
    RecOptDialogProc(pflREGwrite, nullptr);
    EXPECT_EQ(theConfig.RecOpt, 0x21);
    EXPECT_TRUE(pflRecordWindow->shown());
}
